// QLTMsiGetLastErrorStrA: the text of the latest failure of the patch
// context.
#include "api/call_lock.h"
#include "api/messages.h"

extern "C" const char* WINAPI QLTMsiGetLastErrorStrA(int handle) {
    if (!CheckHandle(handle)) {
        return nullptr;
    }
    CallLockHold callLock;
    if (!libraryState.currentContext) {
        return nullptr;
    }
    return LoadMessageText(*libraryState.currentContext);
}
