// Making, releasing and tearing down a patch context. Deletions ignore their
// results: a file that stays is forgotten all the same.
#include "api/patch_context.h"

#include "api/messages.h"
#include "platform/delete_own_file.h"
#include "platform/file_fingerprint.h"
#include "platform/platform_calls.h"
#include "platform/temporary_files.h"

void InitContext(PatchContext& context) {
    InitCabinetWorkArea(context.cabinet);
    context.packagePath[0] = 0;
    context.workingCopyPath[0] = 0;
    context.reverseTransformPath[0] = 0;
    context.newCabCachePath[0] = 0;
    context.cabCachePath[0] = 0;
    context.cabCacheKept = false;
    context.cabCacheMovedOut = false;
    context.backupString.reset();
    context.madeUndoRecord = MadeUndoRecord{};
    context.productCode.reset();
    context.transformPath.reset();
    context.updateSequence = 0;
    context.updateDiskId = 0;
    context.database = 0;
    context.lastMessageId = 0;
    context.changesPending = 0;
    context.progressCallback = nullptr;
    context.packageLock.Release();
    context.packageFingerprint[0] = 0;
}

UINT ReleaseContext(PatchContext& context) {
    context.packagePath[0] = 0;
    context.productCode.reset();
    context.transformPath.reset();
    context.backupString.reset();
    context.madeUndoRecord = MadeUndoRecord{};
    UINT status = ERROR_INVALID_HANDLE;
    if (context.database != 0) {
        status = MsiCloseHandle(context.database);
    } else {
        context.lastMessageId = kMessageOpenDatabase;
    }
    context.database = 0;
    MsiCloseAllHandles();
    DiscardWorkingFiles(context);
    DiscardReverseTransform(context);
    DiscardCabinetFile(context.cabinet);
    // A moved-out cab cache that no commit made the package name is a copy
    // of the cabinet the package still holds: nothing would ever name it.
    // A commit that succeeded has emptied the path.
    if (context.cabCacheMovedOut && !IsEmpty(context.cabCachePath)) {
        DeleteOwnFile(context.cabCachePath.data());
        context.cabCachePath[0] = 0;
    }
    context.cabCacheMovedOut = false;
    context.packageFingerprint[0] = 0;
    context.packageLock.Release();
    return status;
}

void DestroyContext(PatchContext& context) {
    ReleaseContext(context);
    ReleaseCabinetWorkArea(context.cabinet);
}

bool DiscardWorkingFiles(PatchContext& context) {
    if (context.database != 0) {
        MsiCloseHandle(context.database);
        context.database = 0;
    }
    bool deleted = true;
    if (!IsEmpty(context.workingCopyPath)) {
        deleted = DeleteTemporaryFile(context.workingCopyPath.data()) != FALSE;
        context.workingCopyPath[0] = 0;
    }
    if (!IsEmpty(context.newCabCachePath)) {
        platformCalls.deleteFile(context.newCabCachePath.data());
        context.newCabCachePath[0] = 0;
    }
    return deleted;
}

void DiscardReverseTransform(PatchContext& context) {
    if (!IsEmpty(context.reverseTransformPath)) {
        DeleteTemporaryFile(context.reverseTransformPath.data());
        context.reverseTransformPath[0] = 0;
    }
}

bool InstalledPackageUnchanged(const PatchContext& context) {
    if (IsEmpty(context.packageFingerprint)) {
        return true;
    }
    WidePath now{};
    return FingerprintFile(context.packagePath.data(), now) &&
           WideView(now.data()) == WideView(context.packageFingerprint.data());
}
