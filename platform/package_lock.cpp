// The package lock is a named mutex rather than a lock file beside the
// package: the system hands a mutex over when its holder dies, so a crashed
// patch never leaves a package locked, and nothing is left in the installer's
// folder. The name carries a hash of the path, since a path may be longer
// than a mutex name and holds backslashes, which names may not.
//
// A mutex belongs to the thread that waited for it, and a caller's open and
// close may come from different threads. So each held lock has a small
// thread of its own that takes the mutex, waits to be told to let go, and
// releases it: the lock then goes with the PackageLock object, not with any
// caller's thread, and still goes with the process.
#include "platform/package_lock.h"

#include "platform/fixed_names.h"
#include "platform/object_namespaces.h"
#include "platform/platform_calls.h"

// A commit of a large product can hold its package for minutes; a minute's
// wait covers the slow steps of one commit without hanging for ever.
DWORD packageLockWaitMilliseconds = 60000;

namespace {

constexpr ULONGLONG kOffsetBasis = 14695981039346656037ull;
constexpr ULONGLONG kPrime = 1099511628211ull;

ULONGLONG HashIgnoringAsciiCase(LPCWSTR text) {
    ULONGLONG hash = kOffsetBasis;
    for (; *text != 0; ++text) {
        WCHAR c = *text;
        if (c >= 'a' && c <= 'z') {
            c = static_cast<WCHAR>(c - 'a' + 'A');
        }
        hash = (hash ^ static_cast<ULONGLONG>(c)) * kPrime;
    }
    return hash;
}

}  // namespace

bool PackageLockName(LPCWSTR packagePath, DWORD version,
                     std::array<WCHAR, kPackageLockNameChars>& name) {
    if (packagePath == nullptr || packagePath[0] == 0) {
        return false;
    }
    const ULONGLONG hash = HashIgnoringAsciiCase(packagePath);
    wsprintfW(name.data(), TEXT("%s") QUILLET_PACKAGE_LOCK_PREFIX TEXT("%08lx%08lx"),
              HasObjectNamespaces(version) ? TEXT("Global\\") : TEXT(""),
              static_cast<unsigned long>(hash >> 32), static_cast<unsigned long>(hash));
    return true;
}

struct PackageLock::Holder {
    HANDLE mutex = nullptr;
    HANDLE decided = nullptr;  // set by the holder once it knows the outcome
    HANDLE release = nullptr;  // set by the owner to let the lock go
    HANDLE thread = nullptr;
    DWORD milliseconds = 0;
    bool taken = false;

    ~Holder() {
        for (HANDLE handle : {thread, release, decided, mutex}) {
            if (handle != nullptr) {
                CloseHandle(handle);
            }
        }
    }
};

namespace {

// The holder thread. It calls nothing but the system, so it needs no
// run-time library set-up of its own.
DWORD WINAPI HoldPackageLock(LPVOID parameter) {
    auto& holder = *static_cast<PackageLock::Holder*>(parameter);
    // A lock its holder died with is ours: the package is only ever replaced
    // whole, and what else it left is a leftover like any other.
    const DWORD wait = WaitForSingleObject(holder.mutex, holder.milliseconds);
    holder.taken = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
    const bool told = SetEvent(holder.decided) != FALSE;
    if (holder.taken) {
        // Untold, the owner counts the lock as not had once this thread has
        // ended, so it must not stay.
        if (told) {
            WaitForSingleObject(holder.release, INFINITE);
        }
        ReleaseMutex(holder.mutex);
    }
    return told ? 0 : 1;
}

// The holder's stack: it makes four calls.
constexpr SIZE_T kHolderStackBytes = 64 * 1024;
// How often a waiting owner checks that its holder is still there.
constexpr DWORD kAnswerPollMilliseconds = 100;

}  // namespace

PackageLock::PackageLock() = default;

PackageLock::PackageLock(LPCWSTR packagePath, DWORD milliseconds) {
    Acquire(packagePath, milliseconds);
}

PackageLock::~PackageLock() {
    Release();
}

bool PackageLock::Acquire(LPCWSTR packagePath, DWORD milliseconds) {
    Release();
    std::array<WCHAR, kPackageLockNameChars> name{};
    if (!PackageLockName(packagePath, GetVersion(), name)) {
        return false;
    }
    auto holder = std::make_unique<Holder>();
    holder->milliseconds = milliseconds;
    holder->mutex = platformCalls.createMutex(nullptr, FALSE, name.data());
    // Unnamed events carry no text, and the narrow call is the one every
    // system implements.
    holder->decided = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    holder->release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (holder->mutex == nullptr || holder->decided == nullptr || holder->release == nullptr) {
        return false;
    }
    DWORD threadId = 0;
    holder->thread = CreateThread(nullptr, kHolderStackBytes, HoldPackageLock, holder.get(), 0,
                                  &threadId);
    if (holder->thread == nullptr) {
        return false;
    }
    // The answer normally comes at once or within the wait; a holder that
    // could not give it ends instead, and only then may what it shares go.
    while (WaitForSingleObject(holder->decided, kAnswerPollMilliseconds) != WAIT_OBJECT_0) {
        if (WaitForSingleObject(holder->thread, 0) == WAIT_OBJECT_0) {
            return false;
        }
    }
    if (!holder->taken) {
        WaitForSingleObject(holder->thread, INFINITE);
        return false;
    }
    holder_ = std::move(holder);
    return true;
}

void PackageLock::Release() {
    if (holder_ == nullptr) {
        return;
    }
    if (SetEvent(holder_->release) == FALSE) {
        // The holder cannot be told, so it keeps the lock until the process
        // ends and must keep what it shares: leave it to it.
        static_cast<void>(holder_.release());
        return;
    }
    // Once the holder has ended the lock is free: a close followed at once
    // by another open, here or elsewhere, finds it so.
    WaitForSingleObject(holder_->thread, INFINITE);
    holder_.reset();
}
