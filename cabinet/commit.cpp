// The commit. Values read from the work table go into SQL as parameters of
// an execute record, never between quotes. Steps whose failure would leave
// the package naming a cabinet that does not hold its files fail the commit
// before the installed package is touched.
#include "cabinet/commit.h"

#include "api/library_state.h"
#include "api/messages.h"
#include "backup/undo_record.h"
#include "platform/ascii_text.h"
#include "platform/cab_cache_name.h"
#include "platform/fixed_names.h"
#include "platform/installer_handle.h"
#include "platform/platform_calls.h"
#include "platform/replace_file.h"
#include "platform/temporary_files.h"

#include <qltmsi.h>

#include <algorithm>
#include <array>

namespace {

constexpr UINT kProgressTextChars = MAX_PATH + 1;
constexpr size_t kStatementChars = 256;

bool IsEmpty(LPCWSTR text) {
    return text == nullptr || text[0] == 0;
}

bool FileExists(LPCWSTR path) {
    return platformCalls.fileAttributes(path) != INVALID_FILE_ATTRIBUTES;
}

// The file to archive for a row: FullPath, or else NewName in FullPath's
// directory. Null when neither exists or the joined path does not fit.
LPCWSTR ChooseSource(const WidePath& fullPath, const WidePath& newName, WidePath& joined) {
    if (FileExists(fullPath.data())) {
        return fullPath.data();
    }
    if (newName[0] == 0) {
        return nullptr;
    }
    size_t cut = 0;
    for (size_t i = 0; fullPath[i] != 0; ++i) {
        if (fullPath[i] == '\\') {
            cut = i + 1;
        }
    }
    const size_t nameLength = WideLength(newName.data());
    if (cut + nameLength >= joined.size()) {
        return nullptr;
    }
    std::copy_n(fullPath.begin(), cut, joined.begin());
    std::copy_n(newName.begin(), nameLength + 1, joined.begin() + cut);
    return FileExists(joined.data()) ? joined.data() : nullptr;
}

// Runs `statement`, whose one `?` is a File key, and fetches the row of
// `name`: 0 with the row, ERROR_NO_MORE_ITEMS when there is none, or the
// Installer's error.
UINT FetchFileRow(MSIHANDLE database, LPCWSTR statement, LPCWSTR name, MsiHandle& view,
                  MsiHandle& row) {
    MsiHandle key(MsiCreateRecord(1));
    if (key.get() == 0) {
        return ERROR_OUTOFMEMORY;
    }
    UINT result = MsiRecordSetStringW(key.get(), 1, name);
    if (result == ERROR_SUCCESS) {
        result = OpenExecutedView(database, statement, key.get(), view);
    }
    if (result == ERROR_SUCCESS) {
        result = MsiViewFetch(view.get(), row.Receive());
    }
    return result;
}

// Gives the File row keyed `name` the next Sequence number. A key that is
// not in the File table leaves the counter alone; any other failure is
// returned, since the row would keep pointing at a cabinet without its file.
UINT NumberFileRow(MSIHANDLE database, LPCWSTR name, LONG& sequence) {
    MsiHandle view;
    MsiHandle row;
    UINT result = FetchFileRow(database, TEXT("SELECT `Sequence` FROM `File` WHERE `File`=?"), name,
                               view, row);
    if (result == ERROR_NO_MORE_ITEMS) {
        return ERROR_SUCCESS;
    }
    if (result == ERROR_SUCCESS) {
        result = MsiRecordSetInteger(row.get(), 1, sequence);
    }
    if (result == ERROR_SUCCESS) {
        result = MsiViewModify(view.get(), MSIMODIFY_UPDATE, row.get());
    }
    if (result == ERROR_SUCCESS) {
        ++sequence;
    }
    return result;
}

// Whether the File table has a row keyed `name`; 0, or the Installer's error.
UINT FindFileRow(MSIHANDLE database, LPCWSTR name, bool& found) {
    MsiHandle view;
    MsiHandle row;
    const UINT result =
        FetchFileRow(database, TEXT("SELECT `File` FROM `File` WHERE `File`=?"), name, view, row);
    found = result == ERROR_SUCCESS;
    return result == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : result;
}

// How many work-table rows name a file that a File row still points at:
// only those go into the new cabinet. 0, or the Installer's error.
UINT CountArchivableRows(MSIHANDLE database, DWORD& count) {
    count = 0;
    MsiHandle view;
    UINT result = OpenExecutedView(
        database, TEXT("SELECT `Name` FROM `") QUILLET_WORK_TABLE TEXT("`"), 0, view);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    for (;;) {
        MsiHandle row;
        if (MsiViewFetch(view.get(), row.Receive()) != ERROR_SUCCESS) {
            return ERROR_SUCCESS;
        }
        WidePath name{};
        if (ReadRecordText(row.get(), 1, name) != ERROR_SUCCESS) {
            return ERROR_FUNCTION_FAILED;
        }
        if (name[0] == 0) {
            continue;
        }
        bool found = false;
        result = FindFileRow(database, name.data(), found);
        if (result != ERROR_SUCCESS) {
            return result;
        }
        count += found ? 1 : 0;
    }
}

// Archives the work table's rows; the result of BuildCabinet's loop.
UINT ArchiveRows(CabinetWorkArea& area, MSIHANDLE database, PatchContext& context,
                 ProgressCallback progress) {
    MsiHandle view;
    UINT result =
        OpenExecutedView(database, TEXT("SELECT * FROM `") QUILLET_WORK_TABLE TEXT("`"), 0, view);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    for (;;) {
        MsiHandle row;
        if (MsiViewFetch(view.get(), row.Receive()) != ERROR_SUCCESS) {
            return 0;
        }
        WidePath name{};
        WidePath fullPath{};
        WidePath newName{};
        const bool read = ReadRecordText(row.get(), 1, name) == ERROR_SUCCESS &&
                          ReadRecordText(row.get(), 2, fullPath) == ERROR_SUCCESS &&
                          ReadRecordText(row.get(), 3, newName) == ERROR_SUCCESS;
        row.Close();
        if (!read) {
            return 1;
        }
        if (name[0] == 0) {
            continue;
        }
        if (fullPath[0] == 0) {
            return 1;
        }
        // A file whose row was removed in this patch, or earlier, is named
        // by nothing: it does not go into the new cabinet.
        bool inFileTable = false;
        result = FindFileRow(database, name.data(), inFileTable);
        if (result != ERROR_SUCCESS) {
            return result;
        }
        if (!inFileTable) {
            continue;
        }
        TickProgress(progress);
        WidePath joined{};
        const LPCWSTR source = ChooseSource(fullPath, newName, joined);
        const bool added = source != nullptr && AddFileToCabinet(area, source, name.data()) == 0;
        TickProgress(progress);
        if (!added) {
            return 1;
        }
        result = NumberFileRow(database, name.data(), context.updateSequence);
        if (result != ERROR_SUCCESS) {
            return result;
        }
    }
}

// Adds the row naming the cab cache to the working copy's Property table.
UINT NameCabCache(PatchContext& context, const WidePath& cabCache) {
    MsiHandle view;
    if (OpenExecutedView(context.database, TEXT("SELECT * FROM `Property`"), 0, view) !=
        ERROR_SUCCESS) {
        return QLTMSI_ERROR_CABINET;
    }
    MsiHandle row(MsiCreateRecord(2));
    if (row.get() == 0 ||
        MsiRecordSetStringW(row.get(), 1, QUILLET_CAB_CACHE_PROPERTY) != ERROR_SUCCESS ||
        MsiRecordSetStringW(row.get(), 2, cabCache.data()) != ERROR_SUCCESS ||
        MsiViewModify(view.get(), MSIMODIFY_INSERT, row.get()) != ERROR_SUCCESS) {
        // A package that does not name its cab cache loses its files once
        // the previous cab cache is deleted.
        return QLTMSI_ERROR_CABINET;
    }
    return ERROR_SUCCESS;
}

// Writes the cabinet file as the stream "QuilletCab" of the cab cache.
UINT WriteCabinetStream(MSIHANDLE cabCache, LPCWSTR cabinetPath) {
    MsiHandle view;
    UINT result = OpenExecutedView(
        cabCache, TEXT("SELECT * FROM `_Streams` WHERE `Name`='") QUILLET_CABINET_STREAM TEXT("'"),
        0, view);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    MsiHandle row;
    if (MsiViewFetch(view.get(), row.Receive()) != ERROR_SUCCESS) {
        MsiHandle fresh(MsiCreateRecord(2));
        result = MsiRecordSetStringW(fresh.get(), 1, QUILLET_CABINET_STREAM);
        if (result == ERROR_SUCCESS) {
            result = MsiRecordSetStreamW(fresh.get(), 2, cabinetPath);
        }
        if (result == ERROR_SUCCESS) {
            result = MsiViewModify(view.get(), MSIMODIFY_INSERT, fresh.get());
        }
        return result;
    }
    if (MsiRecordSetStreamW(row.get(), 2, nullptr) == ERROR_SUCCESS) {
        MsiViewModify(view.get(), MSIMODIFY_UPDATE, row.get());
    }
    result = MsiRecordSetStreamW(row.get(), 2, cabinetPath);
    if (result == ERROR_SUCCESS) {
        result = MsiViewModify(view.get(), MSIMODIFY_UPDATE, row.get());
    }
    return result;
}

bool WorkTableExists(MSIHANDLE database) {
    MsiHandle view;
    return MsiDatabaseOpenViewW(database, TEXT("SELECT `Name` FROM `") QUILLET_WORK_TABLE TEXT("`"),
                                view.Receive()) == ERROR_SUCCESS;
}

UINT DropWorkTable(MSIHANDLE database) {
    MsiHandle view;
    return OpenExecutedView(database, TEXT("DROP TABLE `") QUILLET_WORK_TABLE TEXT("`"), 0, view);
}

// A commit that removed files and replaced none: no cabinet is built. The
// previous cab cache, if any, still holds the files of the other rows, so
// the package goes on naming it (the open took that row out of the working
// copy).
UINT KeepCabCache(PatchContext& context) {
    if (context.cabCachePath[0] == 0) {
        return ERROR_SUCCESS;
    }
    const UINT result = NameCabCache(context, context.cabCachePath);
    if (result == ERROR_SUCCESS) {
        context.cabCacheKept = true;
    }
    return result;
}

// Every file the work table listed has lost its File row: no cabinet, no
// Media row for it, and no cab cache named. The previous one goes once the
// package is in place.
UINT CommitWithoutCabinet(PatchContext& context) {
    UINT result = DropWorkTable(context.database);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    WCHAR statement[kStatementChars];
    wsprintfW(statement, TEXT("DELETE FROM `Media` WHERE `DiskId`=%i"),
              static_cast<int>(context.updateDiskId));
    MsiHandle view;
    return OpenExecutedView(context.database, statement, 0, view);
}

}  // namespace

UINT BuildCabinet(CabinetWorkArea& area, MSIHANDLE database, PatchContext& context,
                  ProgressCallback progress) {
    WidePath temporaryDirectory{};
    WidePath cabinetFile{};
    const DWORD length = platformCalls.tempPath(static_cast<DWORD>(temporaryDirectory.size()),
                                                temporaryDirectory.data());
    // Without a name of its own the cabinet would be flushed to nowhere and
    // the commit would store nothing: no name, no build.
    const bool named = length != 0 && length < temporaryDirectory.size() &&
                       MakeTemporaryFile(temporaryDirectory.data(), TEXT("qlc"),
                                         cabinetFile.data()) != 0;
    // Without a compressor every add fails, which ends the build below.
    if (named) {
        OpenCompressor(area, cabinetFile.data());
        if (area.cabinetParameters.szCabPath[0] == 0) {
            // Not recorded for deletion by the work area: delete it now.
            DeleteTemporaryFile(cabinetFile.data());
        }
    }

    UINT result = named ? ArchiveRows(area, database, context, progress) : 1;

    DropWorkTable(database);
    TickProgress(progress);
    // The cabinet is complete only once flushed; a failed flush or destroy
    // leaves a file that must never be stored.
    const bool closed = CloseCompressor(area);
    TickProgress(progress);
    if (result == 0 && !closed) {
        result = 1;
    }
    return result;
}

UINT StoreCabinet(PatchContext& context, LPCWSTR cabinetPath) {
    if (IsEmpty(cabinetPath)) {
        return 0;
    }
    if (!MakeCabCacheName(context.packagePath.data(), CabCacheNameForm::kBesidePackage,
                          context.newCabCachePath.data())) {
        return 1;
    }
    MsiHandle cabCache;
    if (MsiOpenDatabaseW(context.newCabCachePath.data(), MSIDBOPEN_CREATEDIRECT,
                         cabCache.Receive()) != ERROR_SUCCESS) {
        return 1;
    }
    UINT result = NameCabCache(context, context.newCabCachePath);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    result = WriteCabinetStream(cabCache.get(), cabinetPath);
    if (result == ERROR_SUCCESS) {
        // An uncommitted cab cache holds no cabinet: that is a failure too.
        result = MsiDatabaseCommit(cabCache.get());
    }
    return result;
}

UINT ArchiveUpdatedFiles(PatchContext& context) {
    CabinetWorkArea& area = context.cabinet;
    if (context.changesPending == 0) {
        return 0;
    }
    // The work table went with the first commit; a second one must not
    // build an empty cabinet over the first.
    if (area.cabinetParameters.szCabPath[0] != 0) {
        context.lastMessageId = kMessageArchiveCreate;
        return QLTMSI_ERROR_CABINET;
    }
    if (!WorkTableExists(context.database)) {
        if (context.updateSequence != 0) {
            context.lastMessageId = kMessageArchiveCreate;
            return QLTMSI_ERROR_CABINET;
        }
        // Nothing was replaced: only removals.
        if (KeepCabCache(context) != ERROR_SUCCESS) {
            context.lastMessageId = kMessageCommit;
            return QLTMSI_ERROR_CABINET;
        }
        return ERROR_SUCCESS;
    }
    // A first replacement that stopped before the library's Media row was
    // in place leaves no range to number the archived files in.
    if (context.updateSequence == 0) {
        context.lastMessageId = kMessageUpdateFile;
        return QLTMSI_ERROR_CABINET;
    }
    DWORD archivable = 0;
    UINT result = CountArchivableRows(context.database, archivable);
    if (result == ERROR_SUCCESS && archivable == 0) {
        result = CommitWithoutCabinet(context);
    }
    if (result != ERROR_SUCCESS || archivable == 0) {
        return result;
    }
    if (BuildCabinet(area, context.database, context, context.progressCallback) != 0) {
        context.lastMessageId = kMessageArchiveCreate;
        return QLTMSI_ERROR_CABINET;
    }
    WidePath cabinetPath{};
    if (MultiByteToWideChar(CP_ACP, 0, area.cabinetParameters.szCabPath, -1, cabinetPath.data(),
                            static_cast<int>(cabinetPath.size())) == 0) {
        cabinetPath[0] = 0;
    }
    if (StoreCabinet(context, cabinetPath.data()) != 0) {
        context.lastMessageId = kMessageInsertStream;
        return QLTMSI_ERROR_CABINET;
    }
    WCHAR statement[kStatementChars];
    wsprintfW(statement, TEXT("SELECT `LastSequence` FROM `Media` WHERE `DiskId`=%i"),
              static_cast<int>(context.updateDiskId));
    MsiHandle view;
    result = OpenExecutedView(context.database, statement, 0, view);
    MsiHandle row;
    if (result == ERROR_SUCCESS) {
        result = MsiViewFetch(view.get(), row.Receive());
    }
    if (result == ERROR_SUCCESS) {
        result = MsiRecordSetInteger(row.get(), 1, context.updateSequence);
    }
    if (result == ERROR_SUCCESS) {
        result = MsiViewModify(view.get(), MSIMODIFY_UPDATE, row.get());
    }
    return result;
}

UINT CommitDatabase(PatchContext& context) {
    std::array<char, kProgressTextChars> text{};
    LoadStringA(libraryState.moduleInstance, kMessageCommitProgress, text.data(),
                static_cast<int>(text.size()));
    if (context.progressCallback != nullptr) {
        context.progressCallback(QLTMSI_PROGRESS_TEXT, text.data());
    }
    if (context.database == 0) {
        return 0;
    }
    // The archive's failures record what failed; the rest is the commit's.
    const LONG messageBefore = context.lastMessageId;
    context.lastMessageId = 0;
    UINT result = ArchiveUpdatedFiles(context);
    if (result == ERROR_SUCCESS) {
        result = MsiDatabaseCommit(context.database);
    }
    if (result != ERROR_SUCCESS && context.lastMessageId == 0) {
        context.lastMessageId = kMessageCommit;
    } else if (result == ERROR_SUCCESS) {
        context.lastMessageId = messageBefore;
    }
    return result;
}

UINT FinishCommit(PatchContext& context, LPCWSTR backupDirectory) {
    // A package that changed since the working copy was taken would lose
    // those changes; refused before the undo record, so no entry describes a
    // commit that never happened. The new cab cache stays named for teardown.
    if (!InstalledPackageUnchanged(context)) {
        context.lastMessageId = kMessageCommit;
        return ERROR_FUNCTION_FAILED;
    }
    if (backupDirectory != nullptr) {
        MakeUndoRecord(context, backupDirectory);
    }
    TickProgress(context.progressCallback);
    // The package is replaced in one step: a crash or a full disk leaves it
    // as it was or as committed, never half-written.
    UINT result = 0;
    if (!ReplaceWithCopy(context.workingCopyPath.data(), context.packagePath.data())) {
        context.lastMessageId = kMessageCommit;
        result = ERROR_FUNCTION_FAILED;
        // Its restore would stop at the package code forever.
        TakeBackUndoRecord(context);
    }
    TickProgress(context.progressCallback);
    // Never delete the cab cache the package now names. When the package
    // was not replaced it still names the previous one, and the new cab
    // cache stays recorded so that the teardown deletes it.
    const bool cabCacheIsNew =
        EqualsIgnoringAsciiCase(context.cabCachePath.data(), context.newCabCachePath.data());
    if (result == 0) {
        context.newCabCachePath[0] = 0;
        context.madeUndoRecord = MadeUndoRecord{};
    }
    if (result == 0 && !IsEmpty(context.cabCachePath)) {
        if (!cabCacheIsNew && !context.cabCacheKept) {
            platformCalls.deleteFile(context.cabCachePath.data());
        }
        context.cabCachePath[0] = 0;
        context.cabCacheMovedOut = false;
    }
    return result;
}
