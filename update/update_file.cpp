// The update-file operation. Locating the file's row and rewriting it are not
// built yet: past the checks on its arguments and the open database the
// update fails with the update message recorded.
#include "update/update_file.h"

#include "api/messages.h"

UINT UpdateFile(PatchContext& context, LPCWSTR installedFilePath, LPCWSTR, LPCWSTR) {
    if (installedFilePath == nullptr || installedFilePath[0] == 0) {
        return ERROR_SUCCESS;
    }
    if (context.database == 0) {
        context.lastMessageId = kMessageInvalidHandle;
        return ERROR_INVALID_HANDLE;
    }
    context.lastMessageId = kMessageUpdateFile;
    return ERROR_CALL_NOT_IMPLEMENTED;
}
