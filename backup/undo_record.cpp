// The undo record: reverse transform and cab cache copy in the backup
// directory, the registry entry naming them, the backup server and the
// backup string. Each step that fails ends the record, and the files it
// placed go with it (the transform through the context).
#include "backup/undo_record.h"

#include "api/messages.h"
#include "backup/undo_entry_lock.h"
#include "platform/installer_handle.h"
#include "platform/platform_calls.h"
#include "platform/quillet_registry.h"
#include "platform/registry_key.h"
#include "platform/replace_file.h"
#include "platform/temporary_files.h"
#include "platform/unique_name.h"
#include "platform/wide_text.h"

#include <msidefs.h>

namespace {

constexpr size_t kPackageCodeChars = 50;
constexpr LPCWSTR kBackupStringFormat = TEXT("rundll32 %s,QltMsiBackupSvr %x\n");

// Places a copy of `source` in the backup directory under its file name made
// unique beside what the directory already holds, through an empty file that
// takes the name first, so two commits at once never share one. False, with
// nothing left in the directory, when the source has no file name, the
// joined path does not fit a path buffer or the copy could not be made.
bool CopyIntoBackup(LPCWSTR source, LPCWSTR backupDirectory, WidePath& target) {
    LPCWSTR name = FileNamePart(source);
    if (name == nullptr || !JoinPath(target, backupDirectory, name)) {
        return false;
    }
    // When no coded name is left the joined name is used as it is, if free.
    if (MakeUniqueName(target.data()) == nullptr && !ClaimFileName(target.data())) {
        return false;
    }
    if (!ReplaceWithCopy(source, target.data())) {
        platformCalls.deleteFile(target.data());
        return false;
    }
    return true;
}

// The undo entry's key name: n in lower-case hexadecimal.
void EntryName(DWORD entry, WCHAR (&name)[16]) {
    wsprintfW(name, TEXT("%x"), entry);
}

// The package code of the committed working copy, or empty.
void ReadPackageCode(MSIHANDLE database, WCHAR (&code)[kPackageCodeChars]) {
    code[0] = 0;
    MsiHandle summary;
    if (MsiGetSummaryInformationW(database, nullptr, 1, summary.Receive()) != ERROR_SUCCESS) {
        return;
    }
    UINT type = 0;
    INT number = 0;
    FILETIME time{};
    DWORD size = kPackageCodeChars;
    if (MsiSummaryInfoGetPropertyW(summary.get(), PID_REVNUMBER, &type, &number, &time, code,
                                   &size) != ERROR_SUCCESS) {
        code[0] = 0;
    }
}

// The cab cache the committed package names: the new one, the previous one
// when the commit kept it, or none (an empty path) when it wrote no cabinet.
LPCWSTR CommittedCabCache(const PatchContext& context) {
    if (!IsEmpty(context.newCabCachePath)) {
        return context.newCabCachePath.data();
    }
    return context.cabCacheKept ? context.cabCachePath.data() : TEXT("");
}

}  // namespace

UINT MakeReverseTransform(PatchContext& context) {
    if (IsEmpty(context.packagePath)) {
        return ERROR_INVALID_HANDLE;
    }
    MsiHandle package;
    const UINT opened =
        MsiOpenDatabaseW(context.packagePath.data(), MSIDBOPEN_DIRECT, package.Receive());
    if (opened != ERROR_SUCCESS) {
        context.lastMessageId = kMessageOpenDatabase;
        return opened;
    }
    WidePath temporaryDirectory{};
    const DWORD length = platformCalls.tempPath(MAX_PATH + 1, temporaryDirectory.data());
    if (length == 0 || length > MAX_PATH ||
        MakeTemporaryFile(temporaryDirectory.data(), TEXT("qlt"),
                          context.reverseTransformPath.data()) == 0) {
        context.reverseTransformPath[0] = 0;
        context.lastMessageId = kMessageUnpatchTransform;
        return QLTMSI_ERROR_REVERSE_TRANSFORM_FILE;
    }
    // The installed package is what the transform leads to; the committed
    // working copy is where it starts.
    const UINT generated = MsiDatabaseGenerateTransformW(package.get(), context.database,
                                                         context.reverseTransformPath.data(), 0, 0);
    if (generated != ERROR_SUCCESS) {
        context.lastMessageId = kMessageUnpatchTransform;
        DiscardReverseTransform(context);
    }
    return generated;
}

DWORD MakeUndoRecord(PatchContext& context, LPCWSTR backupDirectory) {
    if (backupDirectory == nullptr) {
        return QLTMSI_ERROR_UNDO_RECORD;
    }
    if (MakeReverseTransform(context) != ERROR_SUCCESS) {
        return QLTMSI_ERROR_UNDO_RECORD;
    }

    // The transform is copied rather than moved: a move cannot go over the
    // name's placeholder in one step on every system. Until the temporary
    // one is gone the copy is recorded nowhere, so it goes on failure here.
    WidePath transformTarget{};
    if (!CopyIntoBackup(context.reverseTransformPath.data(), backupDirectory, transformTarget)) {
        return QLTMSI_ERROR_UNDO_RECORD;
    }
    if (!DeleteTemporaryFile(context.reverseTransformPath.data())) {
        platformCalls.deleteFile(transformTarget.data());
        return QLTMSI_ERROR_UNDO_RECORD;
    }
    context.reverseTransformPath = transformTarget;

    WidePath cabCacheCopy{};
    const bool hasCabCache = !IsEmpty(context.cabCachePath);
    if (hasCabCache &&
        !CopyIntoBackup(context.cabCachePath.data(), backupDirectory, cabCacheCopy)) {
        return QLTMSI_ERROR_UNDO_RECORD;
    }

    // The copy is named by nothing until the entry is written.
    const auto dropCabCacheCopy = [&] {
        if (hasCabCache) {
            platformCalls.deleteFile(cabCacheCopy.data());
        }
        return QLTMSI_ERROR_UNDO_RECORD;
    };
    KeyHolder undoKey;
    if (CreateQuilletKey(kUndoKey, undoKey.out()) != ERROR_SUCCESS) {
        return dropCabCacheCopy();
    }
    // From reading CurKey to writing it back no other process may choose an
    // entry, or two commits would share one.
    UndoEntryLock lock;
    if (!lock.held()) {
        return dropCabCacheCopy();
    }
    DWORD entry = 0;
    ReadNumberValue(undoKey.get(), kCurKeyValue, &entry);
    entry += 1;
    WCHAR entryName[16];
    EntryName(entry, entryName);

    // An entry above CurKey is what a failed record left; it starts afresh so
    // that no value of that record (a cab backup, a package code) is taken
    // for this one's.
    const LONG cleared = platformCalls.regDeleteKey(undoKey.get(), entryName);
    if (cleared != ERROR_SUCCESS && cleared != ERROR_FILE_NOT_FOUND) {
        return dropCabCacheCopy();
    }
    KeyHolder entryKey;
    if (platformCalls.regCreateKey(undoKey.get(), entryName, 0, nullptr, 0, KEY_ALL_ACCESS,
                                   nullptr, entryKey.out(), nullptr) != ERROR_SUCCESS) {
        return dropCabCacheCopy();
    }

    // An entry missing any of its values cannot restore, and one that
    // CurKey does not count would be taken by the next record: either way
    // it goes, with the copy it names, and no backup string is handed out.
    // Until the entry is counted the transform stays recorded in the
    // context, which deletes it.
    const auto abandon = [&] {
        entryKey.Close();
        platformCalls.regDeleteKey(undoKey.get(), entryName);
        return dropCabCacheCopy();
    };
    WCHAR packageCode[kPackageCodeChars];
    ReadPackageCode(context.database, packageCode);
    const bool written =
        WriteStringValue(entryKey.get(), kProductGuidValue,
                         context.productCode ? context.productCode->c_str() : TEXT("")) ==
            ERROR_SUCCESS &&
        (!hasCabCache ||
         (WriteStringValue(entryKey.get(), kQuilletCabValue, cabCacheCopy.data()) ==
              ERROR_SUCCESS &&
          WriteNumberValue(entryKey.get(), kCabBackupIsMsiFileValue, 1) == ERROR_SUCCESS)) &&
        WriteStringValue(entryKey.get(), kRevTransformValue,
                         context.reverseTransformPath.data()) == ERROR_SUCCESS &&
        (packageCode[0] == 0 ||
         WriteStringValue(entryKey.get(), kPackageGuidValue, packageCode) == ERROR_SUCCESS) &&
        WriteStringValue(entryKey.get(), kCommittedCabCacheValue,
                         CommittedCabCache(context)) == ERROR_SUCCESS;
    if (!written) {
        return abandon();
    }

    // Without a server no backup string can name the entry: it goes too.
    WidePath serverPath{};
    if (PlaceBackupServer(serverPath.data()) == nullptr) {
        return abandon();
    }
    WideString backupString(kBackupStringChars + 1, 0);
    const int formatted = wsprintfW(backupString.data(), kBackupStringFormat, serverPath.data(),
                                    entry);
    backupString.resize(formatted > 0 ? static_cast<size_t>(formatted) : 0);

    if (WriteNumberValue(undoKey.get(), kCurKeyValue, entry) != ERROR_SUCCESS) {
        return abandon();
    }
    // The transform now belongs to the entry.
    context.madeUndoRecord.entry = entry;
    context.madeUndoRecord.transform = context.reverseTransformPath;
    context.madeUndoRecord.cabCacheCopy = hasCabCache ? cabCacheCopy : WidePath{};
    context.reverseTransformPath[0] = 0;
    context.backupString = std::move(backupString);
    return QLTMSI_SUCCESS;
}

void TakeBackUndoRecord(PatchContext& context) {
    MadeUndoRecord& made = context.madeUndoRecord;
    if (made.entry == 0) {
        return;
    }
    context.backupString.reset();
    KeyHolder undoKey;
    if (CreateQuilletKey(kUndoKey, undoKey.out()) == ERROR_SUCCESS) {
        WCHAR entryName[16];
        EntryName(made.entry, entryName);
        // CurKey keeps its value: entry numbers are never handed out twice.
        platformCalls.regDeleteKey(undoKey.get(), entryName);
    }
    platformCalls.deleteFile(made.transform.data());
    if (!IsEmpty(made.cabCacheCopy)) {
        platformCalls.deleteFile(made.cabCacheCopy.data());
    }
    made = MadeUndoRecord{};
}
