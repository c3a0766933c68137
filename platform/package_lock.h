// A lock shared by every process on the machine, named after one installed
// package. It is held wherever the package's folder holds a cab cache that
// the package does not name yet (a commit between storing its cabinet and
// replacing the package, a restore from making its cab cache to the end), and
// by the clean-up of leftovers, which therefore never takes a file that a
// live process is about to name.
#pragma once

#include <windows.h>

class PackageLock {
  public:
    // Waits up to `milliseconds` for the lock of `packagePath` (compared
    // without regard to the case of ASCII letters).
    PackageLock(LPCWSTR packagePath, DWORD milliseconds);
    ~PackageLock();
    PackageLock(const PackageLock&) = delete;
    PackageLock& operator=(const PackageLock&) = delete;

    bool held() const { return held_; }

  private:
    HANDLE mutex_ = nullptr;
    bool held_ = false;
};

// How long a commit or a restore waits for another process's work on the
// same package; a clean-up never waits.
inline constexpr DWORD kPackageLockWait = 60000;
