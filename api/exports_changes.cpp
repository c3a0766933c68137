// QLTMsiUpdateFile and QLTMsiCommitChanges: the work on the opened package.
#include "api/call_lock.h"
#include "api/messages.h"
#include "cabinet/commit.h"
#include "update/update_file.h"

extern "C" {

DWORD WINAPI QLTMsiUpdateFile(int handle, LPCWSTR installedFilePath, LPCWSTR newFilePath,
                              LPCWSTR newFileName) {
    if (!CheckHandle(handle)) {
        return QLTMSI_ERROR_BUSY_OR_BAD_HANDLE;
    }
    CallLockHold callLock;
    // From the progress callback of a running commit, an update would change
    // rows that the commit has already archived or numbered.
    if (ContextInUse()) {
        return QLTMSI_ERROR_BUSY_OR_BAD_HANDLE;
    }
    if (!libraryState.currentContext) {
        return QLTMSI_ERROR_NO_PATCH_CONTEXT;
    }
    ContextUse use;
    return UpdateFile(*libraryState.currentContext, installedFilePath, newFilePath, newFileName);
}

DWORD WINAPI QLTMsiCommitChanges(int handle, LPCWSTR backupDirectory) {
    if (!CheckHandle(handle)) {
        return QLTMSI_ERROR_BUSY_OR_BAD_HANDLE;
    }
    CallLockHold callLock;
    // A nested commit would write the package under the one that is running.
    if (ContextInUse()) {
        return QLTMSI_ERROR_BUSY_OR_BAD_HANDLE;
    }
    if (!libraryState.currentContext) {
        return QLTMSI_ERROR_NO_PATCH_CONTEXT;
    }
    PatchContext& context = *libraryState.currentContext;
    if (context.changesPending == 0) {
        return QLTMSI_SUCCESS;
    }
    ContextUse use;
    // From the new cab cache's creation until the package names it, another
    // process's clean-up must not take it for a leftover: the open's lock,
    // held until the close, sees to that.
    if (!context.packageLock.held()) {
        context.lastMessageId = kMessageCommit;
        return ERROR_SHARING_VIOLATION;
    }
    const UINT status = CommitDatabase(context);
    if (status != 0) {
        return status;
    }
    return FinishCommit(context, backupDirectory);
}

}  // extern "C"
