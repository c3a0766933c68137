// Opening the installed package: Windows Installer names its cached copy,
// which is copied to a temporary working copy; only that copy is opened as a
// database, so the installed package is read and never written here.
#include "api/open_package.h"

#include "api/leftover_files.h"
#include "api/messages.h"
#include "platform/ascii_text.h"
#include "platform/file_fingerprint.h"
#include "platform/fixed_names.h"
#include "platform/installer_handle.h"
#include "platform/platform_calls.h"
#include "platform/temporary_files.h"

namespace {

constexpr DWORD kPackageCodeChars = 50;
constexpr UINT kPackageCodeProperty = 9;  // PID_REVNUMBER

UINT Fail(PatchContext& context, UINT status, LONG message) {
    context.lastMessageId = message;
    return status;
}

// The package named by the product's registration, or an empty path. A path
// the call could not deliver whole counts as none rather than a cut one.
void FindInstalledPackage(PatchContext& context, LPCWSTR productCode) {
    DWORD count = static_cast<DWORD>(context.packagePath.size());
    context.packagePath[0] = 0;
    if (MsiGetProductInfoW(productCode, INSTALLPROPERTY_LOCALPACKAGE, context.packagePath.data(),
                           &count) != ERROR_SUCCESS) {
        context.packagePath[0] = 0;
    }
}

UINT CheckPackageCode(MSIHANDLE summary, LPCWSTR requiredPackageCode, PatchContext& context) {
    WCHAR packageCode[kPackageCodeChars] = {};
    DWORD count = kPackageCodeChars;
    UINT type = 0;
    const UINT status = MsiSummaryInfoGetPropertyW(summary, kPackageCodeProperty, &type, nullptr,
                                                   nullptr, packageCode, &count);
    if (status != ERROR_SUCCESS) {
        return Fail(context, status, kMessageOpenDatabase);
    }
    if (!EqualsIgnoringAsciiCase(packageCode, requiredPackageCode)) {
        return Fail(context, kMessagePackageMismatch, kMessagePackageMismatch);
    }
    return ERROR_SUCCESS;
}

// Moves the cab cache's path from the working copy's Property table into
// cabCachePath; the commit writes the row anew. Only a view that can't be
// opened is reported.
UINT TakeCabCacheProperty(PatchContext& context) {
    MsiHandle view;
    const UINT status = MsiDatabaseOpenViewW(context.database,
                                             TEXT("SELECT * FROM `Property` WHERE `Property`='")
                                                 QUILLET_CAB_CACHE_PROPERTY TEXT("'"),
                                             view.Receive());
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (MsiViewExecute(view.get(), 0) != ERROR_SUCCESS) {
        return ERROR_SUCCESS;
    }
    MsiHandle row;
    if (MsiViewFetch(view.get(), row.Receive()) != ERROR_SUCCESS) {
        return ERROR_SUCCESS;
    }
    DWORD count = static_cast<DWORD>(context.cabCachePath.size());
    if (MsiRecordGetStringW(row.get(), 2, context.cabCachePath.data(), &count) != ERROR_SUCCESS) {
        context.cabCachePath[0] = 0;
    }
    MsiViewModify(view.get(), MSIMODIFY_DELETE, row.get());
    row.Close();
    MsiViewClose(view.get());
    return ERROR_SUCCESS;
}

}  // namespace

UINT MakeWorkingCopy(PatchContext& context) {
    if (IsEmpty(context.packagePath) ||
        platformCalls.fileAttributes(context.packagePath.data()) == INVALID_FILE_ATTRIBUTES) {
        return ERROR_INVALID_HANDLE;
    }
    DiscardWorkingFiles(context);
    WidePath tempDirectory{};
    const DWORD length =
        platformCalls.tempPath(static_cast<DWORD>(tempDirectory.size()), tempDirectory.data());
    if (length == 0 || length >= tempDirectory.size()) {
        return QLTMSI_ERROR_WORKING_COPY;
    }
    if (MakeTemporaryFile(tempDirectory.data(), TEXT("qlt"), context.workingCopyPath.data()) == 0) {
        context.workingCopyPath[0] = 0;
        return QLTMSI_ERROR_WORKING_COPY;
    }
    if (!platformCalls.copyFile(context.packagePath.data(), context.workingCopyPath.data(),
                                FALSE)) {
        return QLTMSI_ERROR_WORKING_COPY;
    }
    // The copy takes the installed package's attributes; a read-only working
    // copy could be neither written nor deleted at the release.
    const DWORD attributes = platformCalls.fileAttributes(context.workingCopyPath.data());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
        !platformCalls.setFileAttributes(context.workingCopyPath.data(),
                                         attributes & ~FILE_ATTRIBUTE_READONLY)) {
        return QLTMSI_ERROR_WORKING_COPY;
    }
    return ERROR_SUCCESS;
}

UINT OpenPackage(PatchContext& context, LPCWSTR productCode, LPCWSTR requiredPackageCode,
                 LPCWSTR transformPath, ProgressCallback callback) {
    // No database is open yet, so this records message 6, which stays unless
    // a later step records another.
    ReleaseContext(context);
    context.progressCallback = callback;
    if (productCode == nullptr) {
        return Fail(context, ERROR_INVALID_PARAMETER, kMessageInvalidParameter);
    }
    context.productCode = WideString(productCode);

    FindInstalledPackage(context, productCode);
    if (IsEmpty(context.packagePath)) {
        return Fail(context, ERROR_UNKNOWN_PRODUCT, kMessageProductNotOpened);
    }
    // Another process patching, restoring or compacting this package would
    // write it back over whatever this one writes. The Installer's own answer
    // to a busy installation says what happened; message 6 names the cause.
    if (!context.packageLock.Acquire(context.packagePath.data(), packageLockWaitMilliseconds)) {
        return Fail(context, ERROR_INSTALL_ALREADY_RUNNING, kMessageOpenDatabase);
    }
    if (MakeWorkingCopy(context) != ERROR_SUCCESS) {
        return Fail(context, QLTMSI_ERROR_WORKING_COPY, kMessageWorkingCopy);
    }
    if (!FingerprintFile(context.workingCopyPath.data(), context.packageFingerprint)) {
        return Fail(context, QLTMSI_ERROR_WORKING_COPY, kMessageWorkingCopy);
    }
    UINT status =
        MsiOpenDatabaseW(context.workingCopyPath.data(), MSIDBOPEN_DIRECT, &context.database);
    if (status != ERROR_SUCCESS) {
        context.database = 0;
        return Fail(context, status, kMessageOpenDatabase);
    }
    MsiHandle summary;
    status = MsiGetSummaryInformationW(context.database, nullptr, 0, summary.Receive());
    if (status != ERROR_SUCCESS) {
        return Fail(context, status, kMessageOpenDatabase);
    }
    if (requiredPackageCode != nullptr) {
        status = CheckPackageCode(summary.get(), requiredPackageCode, context);
        if (status != ERROR_SUCCESS) {
            return status;
        }
    }
    if (transformPath != nullptr) {
        context.transformPath = WideString(transformPath);
    }
    status = TakeCabCacheProperty(context);
    if (status == ERROR_SUCCESS) {
        RemoveLeftoverFiles(context);
    }
    return status;
}
