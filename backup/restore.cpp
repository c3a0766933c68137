// The restore of one undo entry, run by the backup string in a process of its
// own. All work happens on a temporary copy of the installed package, which
// replaces the package only after every required step succeeded; a stop
// leaves the package, the entry and the backup files as they were.
#include "backup/restore.h"

#include "backup/defrag.h"
#include "platform/ascii_text.h"
#include "platform/cab_cache_name.h"
#include "platform/delete_own_file.h"
#include "platform/file_fingerprint.h"
#include "platform/fixed_names.h"
#include "platform/installer_handle.h"
#include "platform/package_lock.h"
#include "platform/platform_calls.h"
#include "platform/quillet_registry.h"
#include "platform/registry_key.h"
#include "platform/replace_file.h"
#include "platform/temporary_files.h"

#include <msidefs.h>
#include <qltmsi.h>

#include <algorithm>
#include <optional>

namespace {

constexpr size_t kPackageCodeChars = 50;
constexpr LPCWSTR kAllStreamsQuery = TEXT("SELECT * FROM `_Streams`");
constexpr LPCWSTR kCabStreamQuery =
    TEXT("SELECT * FROM `_Streams` WHERE `Name`='") QUILLET_CABINET_STREAM TEXT("'");
constexpr LPCWSTR kAllPropertiesQuery = TEXT("SELECT * FROM `Property`");
constexpr LPCWSTR kCabCachePropertyQuery =
    TEXT("SELECT * FROM `Property` WHERE `Property`='") QUILLET_CAB_CACHE_PROPERTY TEXT("'");
constexpr LPCWSTR kCabMediaQuery =
    TEXT("SELECT * FROM `Media` WHERE `Cabinet`='") QUILLET_CABINET_MEDIA TEXT("'");
constexpr UINT kMediaSourceField = 6;

enum CabBackupKind : DWORD { kBareCabinet = 0, kCabCachePackage = 1 };

// What one restore holds; whatever is still open or made when it ends is
// closed and removed, and a new cab cache stays only when the restore got
// through.
struct RestoreRun {
    KeyHolder entry;
    WidePath entryPath{};
    WidePath installedPackage{};
    WidePath restoreCopy{};
    MsiHandle copy;
    WidePath cabBackup{};
    DWORD cabBackupKind = kBareCabinet;
    WidePath newCabCache{};
    WidePath committedCabCache{};
    // The cab cache the restored package names, when this restore put one at
    // the path the package held before the commit.
    WidePath restoredCabCache{};
    bool placedCabCache = false;
    // The committed cab cache, once the restored package no longer names it.
    WidePath staleCabCache{};
    // A run before this one put the package in place and stopped short of
    // the clean-up.
    bool alreadyRestored = false;
    bool finished = false;
    // Held from when the package is known to the end, so that an open's
    // clean-up never takes the cab cache this restore makes.
    std::optional<PackageLock> packageLock;

    RestoreRun() = default;
    RestoreRun(const RestoreRun&) = delete;
    RestoreRun& operator=(const RestoreRun&) = delete;
    ~RestoreRun() {
        entry.Close();
        copy.Close();
        if (!IsEmpty(restoreCopy)) {
            // A copy of a read-only package is read-only too.
            DeleteTemporaryFile(restoreCopy.data());
        }
        if (!finished && !IsEmpty(newCabCache)) {
            platformCalls.deleteFile(newCabCache.data());
        }
        // The cab cache put back at the package's earlier path is named by
        // nothing while the package stays as committed.
        if (!finished && placedCabCache) {
            platformCalls.deleteFile(restoredCabCache.data());
        }
    }
};

bool HasCabBackup(const RestoreRun& run) {
    return !IsEmpty(run.cabBackup);
}

// The undo entry's path from the command-line text, taken as the key name
// exactly as it is. Text that no entry could be named by (empty, holding a
// backslash, too long for the path buffer) is refused.
bool MakeEntryPath(LPCSTR commandLine, WidePath& entryPath) {
    WidePath name{};
    if (commandLine[0] == 0 || MultiByteToWideChar(CP_ACP, 0, commandLine, -1, name.data(),
                                                   static_cast<int>(name.size())) == 0) {
        return false;
    }
    for (LPCWSTR p = name.data(); *p != 0; ++p) {
        if (*p == '\\') {
            return false;
        }
    }
    if (WideLength(kUndoKey) + 1 + WideLength(name.data()) > MAX_PATH) {
        return false;
    }
    wsprintfW(entryPath.data(), kEntryPathFormat, name.data());
    return true;
}

// A free name for a cab cache package beside the installed package:
// C:\dir\product.msi gives C:\dir\product.a345.msi, never the name of a
// file already there (the committed cab cache among them).
bool MakeCabCacheName(const WidePath& installedPackage, WidePath& name) {
    return MakeCabCacheName(installedPackage.data(), CabCacheNameForm::kBesidePackage, name.data());
}

bool OpenView(MSIHANDLE database, LPCWSTR query, MsiHandle& view) {
    return MsiDatabaseOpenViewW(database, query, view.Receive()) == ERROR_SUCCESS &&
           MsiViewExecute(view.get(), 0) == ERROR_SUCCESS;
}

// Field text that fits a path buffer; anything longer is a failure.
bool GetField(MSIHANDLE record, UINT field, WidePath& text) {
    text[0] = 0;
    DWORD size = static_cast<DWORD>(text.size());
    if (MsiRecordGetStringW(record, field, text.data(), &size) != ERROR_SUCCESS) {
        text[0] = 0;
        return false;
    }
    return true;
}

bool PackageCodeMatches(RestoreRun& run) {
    WidePath recorded{};
    if (ReadStringValue(run.entry.get(), kPackageGuidValue, recorded) != ERROR_SUCCESS) {
        return false;
    }
    MsiHandle summary;
    if (MsiGetSummaryInformationW(run.copy.get(), nullptr, 0, summary.Receive()) != ERROR_SUCCESS) {
        return false;
    }
    WCHAR current[kPackageCodeChars] = {};
    UINT type = 0;
    INT number = 0;
    FILETIME time{};
    DWORD size = kPackageCodeChars;
    if (MsiSummaryInfoGetPropertyW(summary.get(), PID_REVNUMBER, &type, &number, &time, current,
                                   &size) != ERROR_SUCCESS) {
        return false;
    }
    return EqualsIgnoringAsciiCase(recorded.data(), current);
}

// A cab cache package made around a bare cabinet backup.
bool WrapBareCabinet(RestoreRun& run) {
    if (!MakeCabCacheName(run.installedPackage, run.newCabCache)) {
        return false;
    }
    MsiHandle cabCache;
    if (MsiOpenDatabaseW(run.newCabCache.data(), MSIDBOPEN_CREATEDIRECT, cabCache.Receive()) !=
        ERROR_SUCCESS) {
        return false;
    }
    MsiHandle view;
    if (!OpenView(cabCache.get(), kAllStreamsQuery, view)) {
        return false;
    }
    MsiHandle record;
    *record.Receive() = MsiCreateRecord(2);
    if (record.get() == 0 ||
        MsiRecordSetStringW(record.get(), 1, QUILLET_CABINET_STREAM) != ERROR_SUCCESS ||
        MsiRecordSetStreamW(record.get(), 2, run.cabBackup.data()) != ERROR_SUCCESS ||
        MsiViewModify(view.get(), MSIMODIFY_INSERT, record.get()) != ERROR_SUCCESS) {
        return false;
    }
    record.Close();
    MsiViewClose(view.get());
    view.Close();
    return MsiDatabaseCommit(cabCache.get()) == ERROR_SUCCESS;
}

// A package that held the library's cabinet in its own _Streams table no
// longer does; the cab cache provides it.
void RemoveCabStream(RestoreRun& run) {
    MsiHandle view;
    if (!OpenView(run.copy.get(), kCabStreamQuery, view)) {
        return;
    }
    MsiHandle row;
    if (MsiViewFetch(view.get(), row.Receive()) != ERROR_SUCCESS) {
        return;
    }
    MsiRecordSetStreamW(row.get(), 2, nullptr);
    MsiViewModify(view.get(), MSIMODIFY_UPDATE, row.get());
    MsiViewModify(view.get(), MSIMODIFY_DELETE, row.get());
}

void ReadCommittedCabCache(RestoreRun& run) {
    MsiHandle view;
    MsiHandle row;
    if (OpenView(run.copy.get(), kCabCachePropertyQuery, view) &&
        MsiViewFetch(view.get(), row.Receive()) == ERROR_SUCCESS) {
        GetField(row.get(), 2, run.committedCabCache);
    }
}

bool AddCabCacheProperty(RestoreRun& run) {
    MsiHandle view;
    if (!OpenView(run.copy.get(), kAllPropertiesQuery, view)) {
        return false;
    }
    MsiHandle record;
    *record.Receive() = MsiCreateRecord(2);
    MsiRecordSetStringW(record.get(), 1, QUILLET_CAB_CACHE_PROPERTY);
    MsiRecordSetStringW(record.get(), 2, run.newCabCache.data());
    MsiViewModify(view.get(), MSIMODIFY_INSERT, record.get());
    return true;
}

// Points the package's cab cache property at a file that holds the cabinet
// the package had before the commit. False stops the restore.
bool RestoreCabCacheProperty(RestoreRun& run) {
    MsiHandle view;
    if (!OpenView(run.copy.get(), kCabCachePropertyQuery, view)) {
        return true;
    }
    MsiHandle row;
    const bool hasRow = MsiViewFetch(view.get(), row.Receive()) == ERROR_SUCCESS;
    if (!HasCabBackup(run)) {
        if (hasRow) {
            MsiViewModify(view.get(), MSIMODIFY_DELETE, row.get());
        }
        return true;
    }
    if (hasRow) {
        if (run.cabBackupKind == kBareCabinet) {
            if (MsiRecordSetStringW(row.get(), 2, run.newCabCache.data()) != ERROR_SUCCESS) {
                return false;
            }
            MsiViewModify(view.get(), MSIMODIFY_UPDATE, row.get());
            return true;
        }
        // The cab cache comes back at the very path the package names. It is
        // put there in one step, and a restore that cannot put it there
        // stops rather than leave the package naming a missing file.
        if (!GetField(row.get(), 2, run.restoredCabCache) || IsEmpty(run.restoredCabCache)) {
            return true;
        }
        // The package names the cab cache it named before the commit: the
        // commit kept it (it wrote no cabinet), so it holds what the backup
        // holds. Never written over: a stop later on would leave the
        // committed package without its files.
        if (EqualsIgnoringAsciiCase(run.restoredCabCache.data(), run.committedCabCache.data())) {
            return platformCalls.fileAttributes(run.restoredCabCache.data()) !=
                       INVALID_FILE_ATTRIBUTES ||
                   platformCalls.copyFile(run.cabBackup.data(), run.restoredCabCache.data(), TRUE);
        }
        run.placedCabCache = ReplaceWithCopy(run.cabBackup.data(), run.restoredCabCache.data());
        return run.placedCabCache;
    }
    row.Close();
    MsiViewClose(view.get());
    view.Close();
    if (run.cabBackupKind == kCabCachePackage) {
        // The name is held by an empty file from here on; the run deletes it
        // unless it finishes.
        if (!MakeCabCacheName(run.installedPackage, run.newCabCache) ||
            !ReplaceWithCopy(run.cabBackup.data(), run.newCabCache.data())) {
            return false;
        }
    }
    return AddCabCacheProperty(run);
}

void PointMediaAtCabCache(RestoreRun& run) {
    MsiHandle view;
    if (!OpenView(run.copy.get(), kCabMediaQuery, view)) {
        return;
    }
    for (;;) {
        MsiHandle row;
        if (MsiViewFetch(view.get(), row.Receive()) != ERROR_SUCCESS) {
            break;
        }
        MsiRecordSetStringW(row.get(), kMediaSourceField, QUILLET_CAB_CACHE_PROPERTY);
        MsiViewModify(view.get(), MSIMODIFY_UPDATE, row.get());
    }
}

// A run that was cut short after it put its package in place: the installed
// package is the one that run fingerprinted. Only its clean-up is left.
bool AlreadyRestored(RestoreRun& run) {
    WidePath recorded{};
    WidePath current{};
    if (ReadStringValue(run.entry.get(), kRestoredPackageValue, recorded) != ERROR_SUCCESS ||
        IsEmpty(recorded) || !FingerprintFile(run.installedPackage.data(), current) ||
        !EqualsIgnoringAsciiCase(recorded.data(), current.data())) {
        return false;
    }
    ReadStringValue(run.entry.get(), kStaleCabCacheValue, run.staleCabCache);
    return true;
}

// The committed cab cache goes, unless the restored package names that very
// file again.
void NoteStaleCabCache(RestoreRun& run) {
    if (IsEmpty(run.committedCabCache) ||
        EqualsIgnoringAsciiCase(run.committedCabCache.data(), run.newCabCache.data()) ||
        EqualsIgnoringAsciiCase(run.committedCabCache.data(), run.restoredCabCache.data())) {
        return;
    }
    run.staleCabCache = run.committedCabCache;
}

// Records in the entry what a run cut short after the next step needs to
// finish the job. The fingerprint goes last: it alone says the job is done.
bool RecordRestoredPackage(RestoreRun& run) {
    WidePath fingerprint{};
    return FingerprintFile(run.restoreCopy.data(), fingerprint) &&
           WriteStringValue(run.entry.get(), kStaleCabCacheValue, run.staleCabCache.data()) ==
               ERROR_SUCCESS &&
           WriteStringValue(run.entry.get(), kRestoredPackageValue, fingerprint.data()) ==
               ERROR_SUCCESS;
}

// Its reverse transform undoes only this entry's commit: applied over a later
// commit it would leave that commit's rows pointing into a cab cache that the
// restore then deletes. Entries written before the value existed are taken
// on trust.
bool IsLatestCommit(RestoreRun& run) {
    WidePath recorded{};
    if (ReadStringValue(run.entry.get(), kCommittedCabCacheValue, recorded) != ERROR_SUCCESS) {
        return true;
    }
    return EqualsIgnoringAsciiCase(recorded.data(), run.committedCabCache.data());
}

// Every step of the restore up to putting the copy in place; false is a stop.
bool RunRestore(RestoreRun& run, LPCSTR commandLine) {
    if (!MakeEntryPath(commandLine, run.entryPath) ||
        platformCalls.regOpenKey(HKEY_LOCAL_MACHINE, run.entryPath.data(), 0, KEY_ALL_ACCESS,
                                 run.entry.out()) != ERROR_SUCCESS) {
        return false;
    }
    WidePath productCode{};
    if (ReadStringValue(run.entry.get(), kProductGuidValue, productCode) != ERROR_SUCCESS) {
        return false;
    }
    DWORD size = static_cast<DWORD>(run.installedPackage.size());
    if (MsiGetProductInfoW(productCode.data(), INSTALLPROPERTY_LOCALPACKAGE,
                           run.installedPackage.data(), &size) != ERROR_SUCCESS ||
        IsEmpty(run.installedPackage)) {
        return false;
    }
    // A patch of the same package running now would write its copy back
    // over the restored package, or the restore over the patch; an open's
    // clean-up would take the cab cache this restore makes.
    run.packageLock.emplace(run.installedPackage.data(), packageLockWaitMilliseconds);
    if (!run.packageLock->held()) {
        return false;
    }
    if (AlreadyRestored(run)) {
        run.alreadyRestored = true;
        return true;
    }

    WidePath temporaryDirectory{};
    const DWORD length = platformCalls.tempPath(MAX_PATH + 1, temporaryDirectory.data());
    if (length == 0 || length > MAX_PATH ||
        MakeTemporaryFile(temporaryDirectory.data(), TEXT("qlt"), run.restoreCopy.data()) == 0) {
        run.restoreCopy[0] = 0;
        return false;
    }
    if (!platformCalls.copyFile(run.installedPackage.data(), run.restoreCopy.data(), FALSE) ||
        MsiOpenDatabaseW(run.restoreCopy.data(), MSIDBOPEN_DIRECT, run.copy.Receive()) !=
            ERROR_SUCCESS) {
        return false;
    }
    if (!PackageCodeMatches(run)) {
        return false;
    }

    ReadStringValue(run.entry.get(), kQuilletCabValue, run.cabBackup);
    ReadNumberValue(run.entry.get(), kCabBackupIsMsiFileValue, &run.cabBackupKind);
    // The undo record writes only 1; any other value but the bare cabinet's
    // 0 is not a backup this restore knows how to put back.
    if (HasCabBackup(run) && run.cabBackupKind != kBareCabinet &&
        run.cabBackupKind != kCabCachePackage) {
        return false;
    }
    if (HasCabBackup(run) && run.cabBackupKind == kBareCabinet && !WrapBareCabinet(run)) {
        return false;
    }

    RemoveCabStream(run);
    ReadCommittedCabCache(run);
    if (!IsLatestCommit(run)) {
        return false;
    }

    WidePath transform{};
    ReadStringValue(run.entry.get(), kRevTransformValue, transform);
    if (IsEmpty(transform) ||
        MsiDatabaseApplyTransformW(run.copy.get(), transform.data(), 0) != ERROR_SUCCESS) {
        return false;
    }
    if (!RestoreCabCacheProperty(run)) {
        return false;
    }
    PointMediaAtCabCache(run);
    // An uncommitted copy is the patched package still: putting it in place
    // and deleting the committed cab cache would lose the files it names.
    if (MsiDatabaseCommit(run.copy.get()) != ERROR_SUCCESS) {
        return false;
    }
    run.copy.Close();

    if (CompactPackage(run.restoreCopy.data()) != QLTMSI_DEFRAG_DONE) {
        return false;
    }
    NoteStaleCabCache(run);
    if (!RecordRestoredPackage(run)) {
        return false;
    }
    return ReplaceWithCopy(run.restoreCopy.data(), run.installedPackage.data()) != FALSE;
}

}  // namespace

void RestoreFromUndoEntry(LPCSTR commandLine) {
    if (commandLine == nullptr) {
        return;
    }
    RemoveFilesOfEndedProcesses();
    RestoreRun run;
    if (!RunRestore(run, commandLine)) {
        return;
    }
    run.finished = true;
    run.entry.Close();
    // Its temporary files, and with the last of them its ledger, go while
    // the entry is still there: a run cut short before the entry goes is run
    // again, and cleans up after this one, but nothing runs a restore whose
    // entry is gone.
    run.copy.Close();
    if (!IsEmpty(run.restoreCopy) && DeleteTemporaryFile(run.restoreCopy.data())) {
        run.restoreCopy[0] = 0;
    }
    // The cab cache goes before the entry that records it, so that a run cut
    // short in between still finds it to delete.
    if (!IsEmpty(run.staleCabCache)) {
        platformCalls.deleteFile(run.staleCabCache.data());
    }
    platformCalls.regDeleteKey(HKEY_LOCAL_MACHINE, run.entryPath.data());
}
