// Carrying the previous cabinet over. The cabinet is copied out of its
// stream through a small buffer into a temporary file, unpacked there, and
// each unpacked file becomes a work-table row; names read from disk reach the
// statements as `?` values.
#include "update/carry_over.h"

#include "cabinet/extract_cabinet.h"
#include "platform/cab_cache_name.h"
#include "platform/fixed_names.h"
#include "platform/installer_handle.h"
#include "platform/platform_calls.h"
#include "platform/temporary_files.h"
#include "update/work_table.h"

namespace {

using Text = std::basic_string<WCHAR>;

constexpr DWORD kStreamChunk = 1024;
constexpr LPCWSTR kCabinetQuery =
    TEXT("SELECT * FROM `_Streams` WHERE `Name`='") QUILLET_CABINET_STREAM TEXT("'");

// The stream row of the library's cabinet, and the database that holds it
// when that is the cab cache rather than the working copy.
struct CabinetSource {
    MsiHandle cabCache;
    MsiHandle view;
    MsiHandle row;
    bool inPackage = false;
};

bool FetchCabinetRow(MSIHANDLE database, CabinetSource& source) {
    return OpenExecutedView(database, kCabinetQuery, 0, source.view) == ERROR_SUCCESS &&
           MsiViewFetch(source.view.get(), source.row.Receive()) == ERROR_SUCCESS;
}

// False when the file did not take every byte read.
bool CopyStream(MSIHANDLE row, HANDLE file) {
    char buffer[kStreamChunk];
    for (;;) {
        DWORD count = kStreamChunk;
        if (MsiRecordReadStream(row, 2, buffer, &count) != ERROR_SUCCESS) {
            return true;
        }
        DWORD written = 0;
        if (!WriteFile(file, buffer, count, &written, nullptr) || written != count) {
            return false;
        }
        if (count < kStreamChunk) {
            return true;
        }
    }
}

// The working copy gives up its own cabinet stream; it moves to a cab cache.
void RemoveStreamFromPackage(MSIHANDLE database, CabinetSource& source) {
    if (MsiRecordSetStreamW(source.row.get(), 2, nullptr) == ERROR_SUCCESS) {
        MsiViewModify(source.view.get(), MSIMODIFY_UPDATE, source.row.get());
        MsiViewModify(source.view.get(), MSIMODIFY_DELETE, source.row.get());
        MsiDatabaseCommit(database);
    }
}

// A new package beside the installed one holding the cabinet as its only
// stream; cabCachePath names it from now on. A cache that could not be
// written whole is removed again and reported.
UINT WriteNewCabCache(PatchContext& context) {
    if (Text(context.packagePath.data()).find(TEXT('\\')) == Text::npos) {
        return QLTMSI_ERROR_EXTRACTION;
    }
    WidePath name{};
    if (!MakeCabCacheName(context.packagePath.data(), CabCacheNameForm::kMovedOut, name.data())) {
        return QLTMSI_ERROR_CABINET;
    }
    const Text cabCache(name.data());
    std::copy(cabCache.begin(), cabCache.end(), context.cabCachePath.begin());
    context.cabCachePath[cabCache.size()] = 0;

    MsiHandle database;
    if (MsiOpenDatabaseW(cabCache.c_str(), MSIDBOPEN_CREATEDIRECT, database.Receive()) !=
        ERROR_SUCCESS) {
        // The name's empty placeholder.
        platformCalls.deleteFile(cabCache.c_str());
        return QLTMSI_ERROR_CABINET;
    }
    MsiHandle view;
    UINT status = OpenExecutedView(database.get(), TEXT("SELECT * FROM `_Streams`"), 0, view);
    if (status == ERROR_SUCCESS) {
        MsiHandle row(MsiCreateRecord(2));
        MsiRecordSetStringW(row.get(), 1, QUILLET_CABINET_STREAM);
        const LPCWSTR cabinetFile =
            context.cabinet.oldCabinetFile ? context.cabinet.oldCabinetFile->c_str() : nullptr;
        status = MsiRecordSetStreamW(row.get(), 2, cabinetFile);
        if (status == ERROR_SUCCESS) {
            status = MsiViewModify(view.get(), MSIMODIFY_INSERT, row.get());
        }
        row.Close();
        MsiViewClose(view.get());
    }
    view.Close();
    if (status == ERROR_SUCCESS) {
        status = MsiDatabaseCommit(database.get());
    }
    database.Close();
    if (status != ERROR_SUCCESS) {
        platformCalls.deleteFile(cabCache.c_str());
        return QLTMSI_ERROR_CABINET;
    }
    context.cabCacheMovedOut = true;
    return ERROR_SUCCESS;
}

// One work-table row per unpacked file, under its name in the cabinet; the
// file on disk may carry another name where two names differ only in case.
UINT ListExtractedFiles(const PatchContext& context) {
    for (const ExtractedFile& file : context.cabinet.extractedFiles) {
        WidePath name{};
        WidePath path{};
        if (MultiByteToWideChar(CP_ACP, 0, file.nameInCabinet.c_str(), -1, name.data(),
                                static_cast<int>(name.size())) == 0 ||
            MultiByteToWideChar(CP_ACP, 0, file.path.c_str(), -1, path.data(),
                                static_cast<int>(path.size())) == 0) {
            return QLTMSI_ERROR_EXTRACTION;
        }
        const UINT status = ListCarriedFile(context.database, name.data(), path.data());
        if (status != ERROR_SUCCESS) {
            return status;
        }
    }
    return ERROR_SUCCESS;
}

}  // namespace

UINT PrepareCarryOver(PatchContext& context) {
    UINT status = CreateWorkTable(context.database);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    WidePath tempDirectory{};
    WidePath cabinetFile{};
    const DWORD length =
        platformCalls.tempPath(static_cast<DWORD>(tempDirectory.size()), tempDirectory.data());
    if (length == 0 || length >= tempDirectory.size() ||
        MakeTemporaryFile(tempDirectory.data(), TEXT("qlt"), cabinetFile.data()) == 0) {
        return QLTMSI_ERROR_EXTRACTION;
    }
    const HANDLE file =
        platformCalls.createFile(cabinetFile.data(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DeleteTemporaryFile(cabinetFile.data());
        return QLTMSI_ERROR_EXTRACTION;
    }

    CabinetSource source;
    if (FetchCabinetRow(context.database, source)) {
        source.inPackage = true;
    } else if (!IsEmpty(context.cabCachePath)) {
        // The cab cache is only read here, so it is opened read-only.
        if (MsiOpenDatabaseW(context.cabCachePath.data(), MSIDBOPEN_READONLY,
                             source.cabCache.Receive()) != ERROR_SUCCESS ||
            !FetchCabinetRow(source.cabCache.get(), source)) {
            CloseHandle(file);
            DeleteTemporaryFile(cabinetFile.data());
            return QLTMSI_ERROR_OLD_CABINET;
        }
    }
    if (source.row.get() != 0) {
        if (!CopyStream(source.row.get(), file)) {
            CloseHandle(file);
            DeleteTemporaryFile(cabinetFile.data());
            return QLTMSI_ERROR_EXTRACTION;
        }
        if (source.inPackage) {
            RemoveStreamFromPackage(context.database, source);
        }
    }
    source.row.Close();
    source.view.Close();
    source.cabCache.Close();

    const DWORD size = GetFileSize(file, nullptr);
    CloseHandle(file);
    if (size != 0) {
        TickProgress(context.progressCallback);
        if (ExtractCabinet(context.cabinet, cabinetFile.data()) != 0) {
            DeleteTemporaryFile(cabinetFile.data());
            return QLTMSI_ERROR_EXTRACTION;
        }
        TickProgress(context.progressCallback);
        context.cabinet.oldCabinetFile = Text(cabinetFile.data());
    } else {
        DeleteTemporaryFile(cabinetFile.data());
    }

    if (source.inPackage) {
        status = WriteNewCabCache(context);
        if (status != ERROR_SUCCESS) {
            return status;
        }
    }
    if (context.cabinet.extractDirectory[0] != 0) {
        return ListExtractedFiles(context);
    }
    return ERROR_SUCCESS;
}
