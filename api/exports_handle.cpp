// QLTMsiOpen and QLTMsiClose: handing out the one handle of the process and
// taking it back.
#include "api/call_lock.h"

extern "C" {

int WINAPI QLTMsiOpen(void) {
    HandleLockHold handleLock;
    if (libraryState.currentHandle != 0) {
        return QLTMSI_HANDLE_ALREADY_OPEN;
    }
    libraryState.currentHandle =
        static_cast<int>((GetTickCount() ^ GetCurrentThreadId() ^ GetCurrentProcessId()) & 0x7FFF);
    return libraryState.currentHandle;
}

DWORD WINAPI QLTMsiClose(int handle) {
    if (!CheckHandle(handle)) {
        return QLTMSI_ERROR_BUSY_OR_BAD_HANDLE;
    }
    CallLockHold callLock;
    // From inside the progress callback of a call that works on the patch
    // context, a close would tear that context from under it.
    if (ContextInUse()) {
        return QLTMSI_ERROR_BUSY_OR_BAD_HANDLE;
    }
    HandleLockHold handleLock;
    libraryState.currentHandle = 0;
    if (libraryState.currentContext) {
        DestroyContext(*libraryState.currentContext);
        libraryState.currentContext.reset();
    }
    return QLTMSI_SUCCESS;
}

}  // extern "C"
