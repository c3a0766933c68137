// The handle check of every export that takes a handle.
#include "api/call_lock.h"

bool CheckHandle(int handle) {
    {
        HandleLockHold handleLock;
        if (handle != libraryState.currentHandle) {
            return false;
        }
    }
    const DWORD wait = WaitForSingleObject(libraryState.callLock, 0);
    if (wait == WAIT_TIMEOUT) {
        return false;
    }
    if (wait == WAIT_ABANDONED) {
        // The thread that held the lock ended inside a call: none runs now.
        libraryState.contextUsers = 0;
    }
    return true;
}
