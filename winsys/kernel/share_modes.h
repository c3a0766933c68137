// Windows share modes on a POSIX host: the one scheme that every open of a
// file through winsys takes part in (CreateFileW, the calls that delete,
// move or copy a file, and the compound-file layer under StgOpenStorage and
// MsiOpenDatabaseW), so that they see each other in this process and in
// every other.
//
// An open records what it may do and what it denies others as shared
// open-file-description locks (F_OFD_SETLK, F_RDLCK) on single bytes far
// past any real data of the file, from kLockBase = 2^62:
//
//   kLockBase + 0, 1, 2   held by every open with read, write, delete access
//   kLockBase + 3, 4, 5   held by every open that denies readers, writers,
//                         deleters (no FILE_SHARE_READ, _WRITE, _DELETE)
//
// A new open is refused (ERROR_SHARING_VIOLATION) when another open holds the
// deny byte of a right it wants, or the right byte of something it denies:
// CreateFileW's rule. Opens that ask for none of the three rights take no
// part, as on Windows. Checking and taking happen while the opener holds
// flock(LOCK_EX) on the file, so two openers cannot both pass.
//
// Locks of different open file descriptions conflict within one process as
// between processes, so no table of this process's opens is needed: every
// open has its own description. The locks belong to that description and
// vanish when its last descriptor is closed, also when a process dies.
// A file that replaces another by rename gets its opener's locks before the
// rename, so the new file is never unguarded (a compound-file commit), and
// a copy that replaces a file holds delete access on it until the rename.
//
// Shared locks need a descriptor open for reading: an open without read
// access locks through a read-only twin of its descriptor, and an open of a
// file this process may not read at all takes no part.
#pragma once

#include <windef.h>

namespace winsys::share {

// The rights that take part in sharing (the values of FILE_READ_DATA,
// FILE_WRITE_DATA and DELETE).
inline constexpr DWORD kReadData = 0x0001;
inline constexpr DWORD kWriteData = 0x0002;
inline constexpr DWORD kDelete = 0x00010000;

// The locks of one open beyond its own descriptor: the read-only twin of a
// descriptor that cannot carry them. Release it when the open ends.
class Claim {
  public:
    Claim() = default;
    ~Claim() { release(); }
    Claim(Claim&& other) noexcept : twin_(other.twin_) { other.twin_ = -1; }
    Claim& operator=(Claim&& other) noexcept;
    Claim(const Claim&) = delete;
    Claim& operator=(const Claim&) = delete;

    void release();

  private:
    friend DWORD claim(int fd, DWORD access, DWORD share, Claim* out);
    int twin_ = -1;
};

// Records an open of `fd` with `access` (kReadData, kWriteData, kDelete) and
// `share` (FILE_SHARE_*). The locks stay while fd's open file description
// (and `out`) lives. ERROR_SUCCESS, ERROR_SHARING_VIOLATION, or
// ERROR_LOCK_VIOLATION when the locks cannot be taken.
DWORD claim(int fd, DWORD access, DWORD share, Claim* out);

// Whether an open with `access` and `share` would be allowed now, for calls
// that act on a file without keeping it open (delete, move, copy). Takes
// nothing. ERROR_SUCCESS or ERROR_SHARING_VIOLATION.
DWORD check(const char* nativePath, DWORD access, DWORD share);

}  // namespace winsys::share
