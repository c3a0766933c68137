// The library's registry keys and values, and the few ways the undo record
// and the restore read and write them. Every call goes through the platform
// call table, so string byte counts follow its character width.
#pragma once

#include "platform/wide_text.h"

inline constexpr LPCWSTR kServerKey = TEXT("Software\\Brambleway\\Quillet");
inline constexpr LPCWSTR kUndoKey = TEXT("Software\\Brambleway\\Quillet\\MsiRegUndo");
inline constexpr LPCWSTR kEntryPathFormat = TEXT("Software\\Brambleway\\Quillet\\MsiRegUndo\\%s");

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

// Creates or opens a key under HKEY_LOCAL_MACHINE with full access; *existed
// (when given) tells whether it was there before.
LONG CreateQuilletKey(LPCWSTR subKey, HKEY* key, bool* existed = nullptr);

// Reads a string value into a path buffer that starts empty; the buffer stays
// terminated whatever the registry holds.
LONG ReadStringValue(HKEY key, LPCWSTR name, WidePath& text);

// A 4-byte number; *value is left as it was when the read fails.
LONG ReadNumberValue(HKEY key, LPCWSTR name, DWORD* value);

// Writes a string with its terminator.
LONG WriteStringValue(HKEY key, LPCWSTR name, LPCWSTR text);
LONG WriteNumberValue(HKEY key, LPCWSTR name, DWORD value);
