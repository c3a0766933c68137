// The commit. Building the cabinet and writing the package back are not
// built yet: both halves fail with the commit message recorded, so that
// nothing is reported as written.
#include "cabinet/commit.h"

#include "api/messages.h"

UINT CommitDatabase(PatchContext& context) {
    context.lastMessageId = kMessageCommit;
    return ERROR_CALL_NOT_IMPLEMENTED;
}

UINT FinishCommit(PatchContext& context, LPCWSTR) {
    context.lastMessageId = kMessageCommit;
    return ERROR_FUNCTION_FAILED;
}
