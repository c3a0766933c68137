// The machine-wide lock of one installed package: a named mutex whose name
// carries a hash of the package path, since a path may be longer than a
// mutex name and holds backslashes, which names may not.
#include "platform/package_lock.h"

#include "platform/object_namespaces.h"
#include "platform/platform_calls.h"

namespace {

constexpr ULONGLONG kOffsetBasis = 14695981039346656037ull;
constexpr ULONGLONG kPrime = 1099511628211ull;

ULONGLONG HashIgnoringAsciiCase(LPCWSTR text) {
    ULONGLONG hash = kOffsetBasis;
    for (; text != nullptr && *text != 0; ++text) {
        WCHAR c = *text;
        if (c >= 'a' && c <= 'z') {
            c = static_cast<WCHAR>(c - 'a' + 'A');
        }
        hash = (hash ^ static_cast<ULONGLONG>(c)) * kPrime;
    }
    return hash;
}

}  // namespace

PackageLock::PackageLock(LPCWSTR packagePath, DWORD milliseconds) {
    const ULONGLONG hash = HashIgnoringAsciiCase(packagePath);
    WCHAR name[64];
    wsprintfW(name, TEXT("%sQuilletPackage-%08x%08x"),
              HasObjectNamespaces(GetVersion()) ? TEXT("Global\\") : TEXT(""),
              static_cast<DWORD>(hash >> 32), static_cast<DWORD>(hash));
    mutex_ = platformCalls.createMutex(nullptr, FALSE, name);
    if (mutex_ == nullptr) {
        return;
    }
    // An owner that died holding it hands it over: whatever it left is a
    // leftover like any other.
    const DWORD wait = WaitForSingleObject(mutex_, milliseconds);
    held_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
}

PackageLock::~PackageLock() {
    if (held_) {
        ReleaseMutex(mutex_);
    }
    if (mutex_ != nullptr) {
        CloseHandle(mutex_);
    }
}
