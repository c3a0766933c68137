// The handle check and the call lock that let one exported call run at a
// time. A thread that holds the call lock may call again (from its progress
// callback); another thread is turned away at once.
#pragma once

#include "api/library_state.h"

// Compares the number with the open handle under the handle lock, then tries
// the call lock without waiting. True when the calling thread now holds the
// call lock; false (holding nothing) for another number or a busy lock.
bool CheckHandle(int handle);

// Releases the call lock taken by a passed CheckHandle when it goes out of
// scope, on every path out of an export.
class CallLockHold {
  public:
    CallLockHold() = default;
    CallLockHold(const CallLockHold&) = delete;
    CallLockHold& operator=(const CallLockHold&) = delete;
    ~CallLockHold() { ReleaseMutex(libraryState.callLock); }
};

// Marks an exported call that works on the patch context and may call back
// into the caller, so that a nested call cannot pull the context away.
class ContextUse {
  public:
    ContextUse() { ++libraryState.contextUsers; }
    ContextUse(const ContextUse&) = delete;
    ContextUse& operator=(const ContextUse&) = delete;
    ~ContextUse() { --libraryState.contextUsers; }
};

// True while an outer call on this thread works on the patch context: a
// nested close or open is then refused.
inline bool ContextInUse() {
    return libraryState.contextUsers > 0;
}

// Takes and releases the handle lock, waiting as long as it takes.
class HandleLockHold {
  public:
    HandleLockHold() { WaitForSingleObject(libraryState.handleLock, INFINITE); }
    HandleLockHold(const HandleLockHold&) = delete;
    HandleLockHold& operator=(const HandleLockHold&) = delete;
    ~HandleLockHold() { ReleaseMutex(libraryState.handleLock); }
};
