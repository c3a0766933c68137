// The update-file operation: locate the File row, apply the caller's
// transform once, then remove the row, or rewrite it for the new copy and
// queue the copy in the work table. The first replacement also carries the
// previous cabinet over and adds the Media row of the library's cabinet.
#include "update/update_file.h"

#include "api/messages.h"
#include "platform/ascii_text.h"
#include "platform/file_size.h"
#include "platform/fixed_names.h"
#include "platform/installer_handle.h"
#include "platform/platform_calls.h"
#include "update/carry_over.h"
#include "update/locate_file.h"
#include "update/work_table.h"

#include <algorithm>

namespace {

constexpr size_t kShortestNewFilePath = 3;
constexpr DWORD kTextChars = MAX_PATH + 1;
constexpr int kSequenceGap = 100;

enum FileColumn : UINT {
    kFileKey = 1,
    kFileName = 3,
    kFileSize = 4,
    kFileVersion = 5,
    kFileLanguage = 6,
    kFileAttributes = 7,
    kFileSequence = 8,
};

constexpr int kAttributeNoncompressed = 0x2000;
constexpr int kAttributeCompressed = 0x4000;
// FileSize is a signed 32-bit column.
constexpr DWORD kLargestFileSize = 0x7FFFFFFF;

UINT Fail(PatchContext& context, UINT status, LONG message) {
    context.lastMessageId = message;
    return status;
}

bool RemovesFile(LPCWSTR newFilePath) {
    return newFilePath == nullptr ||
           std::char_traits<WCHAR>::length(newFilePath) < kShortestNewFilePath;
}

// The transform given at open goes in once, whatever its outcome.
UINT ApplyPendingTransform(PatchContext& context) {
    if (!context.transformPath) {
        return ERROR_SUCCESS;
    }
    UINT status = MsiDatabaseApplyTransformW(context.database, context.transformPath->c_str(), 0);
    if (status == ERROR_SUCCESS) {
        status = MsiDatabaseCommit(context.database);
    }
    context.transformPath.reset();
    return status == ERROR_SUCCESS ? ERROR_SUCCESS : static_cast<UINT>(kMessageUserTransform);
}

// Drops the Media row an earlier commit left for the library's cabinet, and
// adds the row for the one the next commit writes, numbered after every
// other row. 0, or the Installer's error with the step unfinished.
UINT PutLibraryMediaRow(PatchContext& context) {
    {
        MsiHandle old;
        if (OpenExecutedView(context.database,
                             TEXT("SELECT * FROM `Media` WHERE `Cabinet`='")
                                 QUILLET_CABINET_MEDIA TEXT("'"),
                             0, old) == ERROR_SUCCESS) {
            MsiHandle row;
            while (MsiViewFetch(old.get(), row.Receive()) == ERROR_SUCCESS) {
                MsiViewModify(old.get(), MSIMODIFY_DELETE, row.get());
            }
        }
    }
    MsiHandle media;
    const UINT status = OpenExecutedView(context.database, TEXT("SELECT * FROM `Media`"), 0, media);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    int largestDiskId = 0;
    int largestLastSequence = 0;
    MsiHandle row;
    while (MsiViewFetch(media.get(), row.Receive()) == ERROR_SUCCESS) {
        largestDiskId = std::max(largestDiskId, MsiRecordGetInteger(row.get(), 1));
        largestLastSequence = std::max(largestLastSequence, MsiRecordGetInteger(row.get(), 2));
    }
    context.updateSequence = largestLastSequence + kSequenceGap;
    context.updateDiskId = largestDiskId + 1;

    MsiHandle added(MsiCreateRecord(6));
    MsiRecordSetInteger(added.get(), 1, context.updateDiskId);
    MsiRecordSetInteger(added.get(), 2, context.updateSequence);
    MsiRecordSetStringW(added.get(), 3, QUILLET_VOLUME_LABEL);
    MsiRecordSetStringW(added.get(), 4, QUILLET_CABINET_MEDIA);
    MsiRecordSetStringW(added.get(), 5, TEXT(""));
    MsiRecordSetStringW(added.get(), 6, QUILLET_CAB_CACHE_PROPERTY);
    return MsiViewModify(media.get(), MSIMODIFY_INSERT, added.get());
}

// Size, version, language, attributes and sequence of the new copy. A null
// Attributes counts as no attributes.
void DescribeNewCopy(MSIHANDLE record, LPCWSTR newFilePath, LONG size) {
    WidePath version{};
    WidePath language{};
    DWORD versionCount = kTextChars;
    DWORD languageCount = kTextChars;
    MsiGetFileVersionW(newFilePath, version.data(), &versionCount, language.data(), &languageCount);
    MsiRecordSetInteger(record, kFileSize, size);
    MsiRecordSetStringW(record, kFileVersion, version.data());
    MsiRecordSetStringW(record, kFileLanguage, language.data());
    int attributes = MsiRecordGetInteger(record, kFileAttributes);
    if (attributes == static_cast<int>(MSI_NULL_INTEGER)) {
        attributes = 0;
    }
    attributes = (attributes & ~kAttributeNoncompressed) | kAttributeCompressed;
    MsiRecordSetInteger(record, kFileAttributes, attributes);
    MsiRecordSetInteger(record, kFileSequence, 0);
}

// True when `name` is the row's FileName or, for a "short|long" value, one
// of its two names, without regard to case.
bool IsCurrentName(WideView current, WideView name) {
    if (EqualsIgnoringAsciiCase(current, name)) {
        return true;
    }
    const size_t bar = current.rfind(TEXT('|'));
    return bar != WideView::npos && (EqualsIgnoringAsciiCase(current.substr(0, bar), name) ||
                                     EqualsIgnoringAsciiCase(current.substr(bar + 1), name));
}

// A name the file already carries leaves FileName as it is: given the long
// name alone, the row would lose its short name, and a long name alone is
// no valid FileName value.
UINT RenameFile(MSIHANDLE record, LPCWSTR newFileName) {
    std::basic_string<WCHAR> current;
    const UINT status = ReadRecordText(record, kFileName, kTextChars, current);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (IsCurrentName(current, newFileName)) {
        return ERROR_SUCCESS;
    }
    return MsiRecordSetStringW(record, kFileName, newFileName);
}

}  // namespace

UINT QueryFileSize(LPCWSTR path, LONG& size) {
    size = 0;
    ULONGLONG measured = 0;
    const UINT status = MeasureFile(path, measured);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (measured > kLargestFileSize) {
        return ERROR_FILE_TOO_LARGE;
    }
    size = static_cast<LONG>(measured);
    return ERROR_SUCCESS;
}

UINT UpdateFile(PatchContext& context, LPCWSTR installedFilePath, LPCWSTR newFilePath,
                LPCWSTR newFileName) {
    if (installedFilePath == nullptr || installedFilePath[0] == 0) {
        return ERROR_SUCCESS;
    }
    if (context.database == 0) {
        return Fail(context, ERROR_INVALID_HANDLE, kMessageInvalidHandle);
    }
    const bool removal = RemovesFile(newFilePath);
    UINT status = ERROR_SUCCESS;
    // A replacement without the name it is to carry is refused before
    // anything changes; FileName can't be empty.
    if (!removal && (newFileName == nullptr || newFileName[0] == 0)) {
        return Fail(context, ERROR_INVALID_PARAMETER, kMessageInvalidParameter);
    }
    // So is a new copy whose size the row can't record: it could not be
    // archived either.
    LONG newFileSize = 0;
    if (!removal) {
        status = QueryFileSize(newFilePath, newFileSize);
        if (status != ERROR_SUCCESS) {
            return Fail(context, status, kMessageArchiveFile);
        }
    }
    MsiHandle fileView;
    MsiHandle fileRecord;
    status = LocateFile(context, installedFilePath, fileView, fileRecord);
    if (status != ERROR_SUCCESS) {
        return Fail(context, status, kMessageFileNotFound);
    }
    context.changesPending = 1;
    status = ApplyPendingTransform(context);
    if (status != ERROR_SUCCESS) {
        return Fail(context, status, kMessageUserTransform);
    }

    if (removal) {
        status = MsiViewModify(fileView.get(), MSIMODIFY_DELETE, fileRecord.get());
        return status == ERROR_SUCCESS ? ERROR_SUCCESS
                                       : Fail(context, status, kMessageFileNotFound);
    }

    if (context.updateSequence == 0) {
        status = PrepareCarryOver(context);
        if (status != ERROR_SUCCESS) {
            return Fail(context, status, kMessageUpdateFile);
        }
        status = PutLibraryMediaRow(context);
        if (status != ERROR_SUCCESS) {
            return Fail(context, status, kMessageUpdateFile);
        }
    }

    DescribeNewCopy(fileRecord.get(), newFilePath, newFileSize);
    status = RenameFile(fileRecord.get(), newFileName);
    if (status != ERROR_SUCCESS) {
        return Fail(context, status, kMessageUpdateFile);
    }
    std::basic_string<WCHAR> fileKey;
    status = ReadRecordText(fileRecord.get(), kFileKey, kTextChars, fileKey);
    if (status != ERROR_SUCCESS) {
        return Fail(context, status, kMessageArchiveFile);
    }
    WorkTableRowBefore queuedBefore;
    status = WriteWorkTableRow(context.cabinet, context.database, fileKey.c_str(), newFilePath,
                               newFileName, &queuedBefore);
    if (status != ERROR_SUCCESS) {
        return Fail(context, status, kMessageArchiveFile);
    }
    status = MsiViewModify(fileView.get(), MSIMODIFY_UPDATE, fileRecord.get());
    if (status != ERROR_SUCCESS) {
        // The row keeps its old values, so the commit must not archive the
        // new copy under it.
        RevertWorkTableRow(context.cabinet, context.database, fileKey.c_str(), queuedBefore);
        return Fail(context, status, kMessageUpdateFile);
    }
    MsiViewClose(fileView.get());
    return ERROR_SUCCESS;
}
