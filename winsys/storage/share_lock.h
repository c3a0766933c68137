// Windows share modes between processes on a POSIX host.
//
// Every open of a file through winsys that takes part (the compound-file
// layer, and CreateFileW where it wants Windows sharing) records its access
// and its sharing as shared open-file-description locks (F_OFD_SETLK, F_RDLCK)
// on single bytes far past any real data of the file:
//
//   kShareLockBase + 0   held by every open with read access
//   kShareLockBase + 1   held by every open with write access
//   kShareLockBase + 2   held by every open that denies readers (no FILE_SHARE_READ)
//   kShareLockBase + 3   held by every open that denies writers (no FILE_SHARE_WRITE)
//
// A new open is refused (ERROR_SHARING_VIOLATION) when another open holds the
// deny byte of an access it wants, or holds the access byte of something it
// denies: exactly CreateFileW's rule. Checking and taking happen while the
// opener holds flock(LOCK_EX) on the file, so two openers cannot both pass.
// The locks belong to the open file description and vanish when its last
// descriptor is closed (also when a process dies). A file replaced by rename
// gets the same locks taken on the new file before the rename.
#pragma once

#include <windef.h>

#include <cstdint>

namespace winsys::share {

inline constexpr int64_t kShareLockBase = 0x7FFFFFFF00000000LL;

inline constexpr unsigned kFileShareRead = 1;   // FILE_SHARE_READ
inline constexpr unsigned kFileShareWrite = 2;  // FILE_SHARE_WRITE

// Records an open of `fd` with the given access and sharing. The descriptor
// must be open for reading (shared locks need that); a write-only handle
// keeps a second, read-only descriptor of the file for its locks. The
// locks last until the open file description is closed. ERROR_SUCCESS, ERROR_SHARING_VIOLATION, or another Windows code
// for a failing lock call.
DWORD acquire(int fd, bool readAccess, bool writeAccess, unsigned shareMode);

}  // namespace winsys::share
