// Threads and unnamed events, and the wait on any kernel object. A thread's
// handle is signalled only once the thread has really ended, after the
// mutexes it still owned were handed over as abandoned, so a waiter on the
// thread sees the same order as on Windows.
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <future>
#include <thread>

#include "kernel/handles.h"

namespace {

using Clock = std::chrono::steady_clock;

// Waits on `condition` until `ready()` or the time is up; true when ready.
template <class Ready>
bool waitUntilReady(std::unique_lock<std::mutex>& guard, std::condition_variable& condition,
                    DWORD milliseconds, Ready ready) {
    if (milliseconds == INFINITE) {
        condition.wait(guard, ready);
        return true;
    }
    return condition.wait_until(guard, Clock::now() + std::chrono::milliseconds(milliseconds),
                                ready);
}

struct EventObject : winsys::kernel::KernelObject {
    std::mutex lock;
    std::condition_variable set;
    bool manualReset = false;
    bool signalled = false;

    DWORD wait(DWORD milliseconds) override {
        std::unique_lock guard(lock);
        if (!waitUntilReady(guard, set, milliseconds, [this] { return signalled; }))
            return WAIT_TIMEOUT;
        if (!manualReset)
            signalled = false;
        return WAIT_OBJECT_0;
    }
};

struct ThreadState {
    std::mutex lock;
    std::condition_variable ended;
    bool done = false;
    DWORD exitCode = STILL_ACTIVE;
};

struct ThreadObject : winsys::kernel::KernelObject {
    std::shared_ptr<ThreadState> state;

    DWORD wait(DWORD milliseconds) override {
        std::unique_lock guard(state->lock);
        if (!waitUntilReady(guard, state->ended, milliseconds, [this] { return state->done; }))
            return WAIT_TIMEOUT;
        return WAIT_OBJECT_0;
    }
};

// Made first on a new thread, so destroyed last of its thread-local objects:
// the thread counts as ended only after the others (its mutex ownership
// among them) are gone.
struct ThreadEnd {
    std::shared_ptr<ThreadState> state;
    DWORD exitCode = 0;
    ~ThreadEnd() {
        if (!state)
            return;
        std::lock_guard guard(state->lock);
        state->exitCode = exitCode;
        state->done = true;
        state->ended.notify_all();
    }
};

thread_local ThreadEnd threadEnd;

HANDLE createEvent(BOOL manualReset, BOOL initialState, bool named) {
    if (named) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    auto event = std::make_shared<EventObject>();
    event->manualReset = manualReset != FALSE;
    event->signalled = initialState != FALSE;
    SetLastError(ERROR_SUCCESS);
    return winsys::kernel::insertHandle(event);
}

}  // namespace

extern "C" {

WINSYS_EXPORT DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    auto object = winsys::kernel::lookupHandle(handle);
    if (!object || !object->closableByCloseHandle()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    return object->wait(milliseconds);
}

WINSYS_EXPORT HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES, BOOL manualReset,
                                         BOOL initialState, LPCWSTR name) {
    return createEvent(manualReset, initialState, name != nullptr);
}

WINSYS_EXPORT HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset,
                                         BOOL initialState, LPCSTR name) {
    return createEvent(manualReset, initialState, name != nullptr);
}

WINSYS_EXPORT BOOL WINAPI SetEvent(HANDLE handle) {
    auto event = winsys::kernel::lookupHandleAs<EventObject>(handle);
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard guard(event->lock);
    event->signalled = true;
    if (event->manualReset)
        event->set.notify_all();
    else
        event->set.notify_one();
    return TRUE;
}

WINSYS_EXPORT BOOL WINAPI ResetEvent(HANDLE handle) {
    auto event = winsys::kernel::lookupHandleAs<EventObject>(handle);
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard guard(event->lock);
    event->signalled = false;
    return TRUE;
}

WINSYS_EXPORT HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T,
                                         LPTHREAD_START_ROUTINE start, LPVOID parameter,
                                         DWORD flags, LPDWORD threadId) {
    if (start == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if ((flags & CREATE_SUSPENDED) != 0) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    auto state = std::make_shared<ThreadState>();
    std::promise<DWORD> started;
    auto id = started.get_future();
    try {
        std::thread([state, start, parameter, started = std::move(started)]() mutable {
            threadEnd.state = state;
            started.set_value(GetCurrentThreadId());
            threadEnd.exitCode = start(parameter);
        }).detach();
    } catch (const std::system_error&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    const DWORD newId = id.get();
    if (threadId != nullptr)
        *threadId = newId;
    auto object = std::make_shared<ThreadObject>();
    object->state = state;
    SetLastError(ERROR_SUCCESS);
    return winsys::kernel::insertHandle(object);
}

WINSYS_EXPORT BOOL WINAPI GetExitCodeThread(HANDLE handle, LPDWORD exitCode) {
    auto thread = winsys::kernel::lookupHandleAs<ThreadObject>(handle);
    if (!thread || exitCode == nullptr) {
        SetLastError(thread ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard guard(thread->state->lock);
    *exitCode = thread->state->exitCode;
    return TRUE;
}
}
