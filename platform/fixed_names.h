// The names the library gives things in packages, in the registry and in the
// system's object namespace. Installed packages, cab caches, undo entries and
// other processes find each other by them, so they never change. The ones a
// statement quotes are macros, so that a statement is one literal with the
// name spliced in; the command line reads the registry names too.
#pragma once

#include <windows.h>

// In a package: the work table of an open, the cabinet's stream, the Media
// row's Cabinet value that points at that stream, the property naming the cab
// cache that holds it, and the Media row's volume label.
#define QUILLET_WORK_TABLE TEXT("QuilletTempTable")
#define QUILLET_CABINET_STREAM TEXT("QuilletCab")
#define QUILLET_CABINET_MEDIA TEXT("#QuilletCab")
#define QUILLET_CAB_CACHE_PROPERTY TEXT("QuilletCabCache")
#define QUILLET_VOLUME_LABEL TEXT("Quillet")

// Under HKEY_LOCAL_MACHINE: the registered backup server, and one subkey per
// undo entry below the undo key.
#define QUILLET_SERVER_KEY TEXT("Software\\Brambleway\\Quillet")
#define QUILLET_UNDO_KEY QUILLET_SERVER_KEY TEXT("\\MsiRegUndo")

inline constexpr LPCWSTR kServerKey = QUILLET_SERVER_KEY;
inline constexpr LPCWSTR kUndoKey = QUILLET_UNDO_KEY;
inline constexpr LPCWSTR kEntryPathFormat = QUILLET_UNDO_KEY TEXT("\\%s");

inline constexpr LPCWSTR kBackupServerValue = TEXT("MsiBackupServer");
inline constexpr LPCWSTR kCurKeyValue = TEXT("CurKey");
inline constexpr LPCWSTR kProductGuidValue = TEXT("ProductGuid");
inline constexpr LPCWSTR kQuilletCabValue = TEXT("QuilletCab");
inline constexpr LPCWSTR kCabBackupIsMsiFileValue = TEXT("CabBackupIsMsiFile");
inline constexpr LPCWSTR kRevTransformValue = TEXT("RevTransform");
inline constexpr LPCWSTR kPackageGuidValue = TEXT("PackageGuid");
// Written by a restore just before it puts its package in place: the
// fingerprint of that package, and the cab cache it leaves behind (empty for
// none). A restore run again after a crash finds the package already there
// and only finishes the clean-up.
inline constexpr LPCWSTR kRestoredPackageValue = TEXT("RestoredPackage");
inline constexpr LPCWSTR kStaleCabCacheValue = TEXT("StaleCabCache");
// The cab cache the entry's commit made: a package that names another one
// was patched again since, and this entry would undo that patch half-way.
inline constexpr LPCWSTR kCommittedCabCacheValue = TEXT("CommittedCabCache");

// Named objects: the lock of the undo entries, and the prefix of a package
// lock's name (the hash of the package's path follows it).
#define QUILLET_UNDO_ENTRY_LOCK TEXT("QuilletMsiRegUndo")
#define QUILLET_PACKAGE_LOCK_PREFIX TEXT("QuilletPackage-")
