// The package lock is a named mutex rather than a lock file beside the
// package: the system hands a mutex over when its holder dies, so a crashed
// patch never leaves a package locked, and nothing is left in the installer's
// folder. The name carries a hash of the path, since a path may be longer
// than a mutex name and holds backslashes, which names may not.
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

bool PackageLock::Acquire(LPCWSTR packagePath, DWORD milliseconds) {
    Release();
    std::array<WCHAR, kPackageLockNameChars> name{};
    if (!PackageLockName(packagePath, GetVersion(), name)) {
        return false;
    }
    mutex_ = platformCalls.createMutex(nullptr, FALSE, name.data());
    if (mutex_ == nullptr) {
        return false;
    }
    // A lock its holder died with is ours: the package is only ever replaced
    // whole, and what else it left is a leftover like any other.
    const DWORD wait = WaitForSingleObject(mutex_, milliseconds);
    held_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
    if (!held_) {
        CloseHandle(mutex_);
        mutex_ = nullptr;
    }
    return held_;
}

void PackageLock::Release() {
    if (held_) {
        ReleaseMutex(mutex_);
        held_ = false;
    }
    if (mutex_ != nullptr) {
        CloseHandle(mutex_);
        mutex_ = nullptr;
    }
}
