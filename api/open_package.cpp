// Opening the installed package. Finding the package through Windows
// Installer and making the working copy are not built yet: the open stops
// after taking its arguments, with the open-failure message recorded.
#include "api/open_package.h"

#include "api/messages.h"

UINT OpenPackage(PatchContext& context, LPCWSTR productCode, LPCWSTR, LPCWSTR,
                 ProgressCallback callback) {
    // No database is open yet, so this records message 6, which stays unless
    // a later step records another.
    ReleaseContext(context);
    context.progressCallback = callback;
    if (productCode == nullptr) {
        context.lastMessageId = kMessageInvalidParameter;
        return ERROR_INVALID_PARAMETER;
    }
    context.productCode = WideString(productCode);
    return ERROR_CALL_NOT_IMPLEMENTED;
}
