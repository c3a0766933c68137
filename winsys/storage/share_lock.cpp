// Share-mode locks: see share_lock.h for the scheme.
#include "storage/share_lock.h"

#include <winerror.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace winsys::share {
namespace {

enum : int64_t { kAccessRead = 0, kAccessWrite = 1, kDenyRead = 2, kDenyWrite = 3 };

// True when an open other than ours holds a lock on the byte.
bool heldByOthers(int fd, int64_t which, bool* failed) {
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = kShareLockBase + which;
    probe.l_len = 1;
    if (fcntl(fd, F_OFD_GETLK, &probe) != 0) {
        *failed = true;
        return false;
    }
    return probe.l_type != F_UNLCK;
}

bool take(int fd, int64_t which) {
    struct flock lock {};
    lock.l_type = F_RDLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = kShareLockBase + which;
    lock.l_len = 1;
    return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

// Holds flock(LOCK_EX) on the file while an open checks and takes its
// share locks. Openers hold it for microseconds; a program that keeps the
// file flock-ed for long makes the open fail instead of hang.
class Gate {
public:
    explicit Gate(int fd) : fd_(fd) {
        for (int attempt = 0; attempt < 5000; ++attempt) {
            if (flock(fd_, LOCK_EX | LOCK_NB) == 0) {
                ok_ = true;
                return;
            }
            if (errno != EWOULDBLOCK && errno != EINTR) return;
            usleep(1000);
        }
    }
    ~Gate() {
        if (ok_) flock(fd_, LOCK_UN);
    }
    bool ok() const { return ok_; }

private:
    int fd_;
    bool ok_ = false;
};

static_assert(sizeof(off_t) == 8, "the share lock bytes lie past 2^62");

}  // namespace

DWORD acquire(int fd, bool readAccess, bool writeAccess, unsigned shareMode) {
    const bool denyRead = (shareMode & kFileShareRead) == 0;
    const bool denyWrite = (shareMode & kFileShareWrite) == 0;
    Gate gate(fd);
    if (!gate.ok()) return ERROR_LOCK_VIOLATION;
    bool failed = false;
    bool conflict = (readAccess && heldByOthers(fd, kDenyRead, &failed)) ||
                    (writeAccess && heldByOthers(fd, kDenyWrite, &failed)) ||
                    (denyRead && heldByOthers(fd, kAccessRead, &failed)) ||
                    (denyWrite && heldByOthers(fd, kAccessWrite, &failed));
    if (failed) return ERROR_LOCK_VIOLATION;
    if (conflict) return ERROR_SHARING_VIOLATION;
    if ((readAccess && !take(fd, kAccessRead)) || (writeAccess && !take(fd, kAccessWrite)) ||
        (denyRead && !take(fd, kDenyRead)) || (denyWrite && !take(fd, kDenyWrite)))
        return ERROR_LOCK_VIOLATION;
    return ERROR_SUCCESS;
}

}  // namespace winsys::share
