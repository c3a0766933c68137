// One writer per installed package: a lock shared by every process on the
// machine, named after the package's path. A patch holds it from the open to
// the close, a restore and a compaction for their whole run, so that no two
// of them take a copy of the same package and write it back over each other;
// the clean-up of leftovers takes it without waiting, so it never takes a cab
// cache that a live process is about to name.
#pragma once

#include <windows.h>

#include <array>
#include <memory>

// How long a patch, restore or compaction waits for another holder before it
// gives up. Tests shorten it; nothing else writes it.
extern DWORD packageLockWaitMilliseconds;

// The lock's name for a package path on a system of the given GetVersion
// value; ASCII letter case does not count. False for a null or empty path.
inline constexpr size_t kPackageLockNameChars = 64;
bool PackageLockName(LPCWSTR packagePath, DWORD version,
                     std::array<WCHAR, kPackageLockNameChars>& name);

// Holds the lock from a successful Acquire (or constructor) until Release or
// destruction, whichever threads these run on: a caller may open a package
// on one thread and close it on another. The lock is not re-entrant: while
// one holder has it, every other Acquire waits, in this process as in any
// other, so code running under a held lock must not take it again. A
// process that dies holding it hands it over at once.
class PackageLock {
  public:
    PackageLock();
    // Waits up to `milliseconds` for the lock of `packagePath`.
    PackageLock(LPCWSTR packagePath, DWORD milliseconds);
    ~PackageLock();
    PackageLock(const PackageLock&) = delete;
    PackageLock& operator=(const PackageLock&) = delete;

    // False when the lock could not be had in time (or no lock object or
    // holder could be made); nothing is held then.
    bool Acquire(LPCWSTR packagePath, DWORD milliseconds);
    // Returns once the lock is free for others.
    void Release();
    bool held() const { return holder_ != nullptr; }

    // What the holder thread and its owner share.
    struct Holder;

  private:
    std::unique_ptr<Holder> holder_;
};
