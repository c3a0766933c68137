// Share-mode locks: see share_modes.h for the scheme.
#include "kernel/share_modes.h"

#include <winerror.h>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace winsys::share {
namespace {

static_assert(sizeof(off_t) == 8, "the share lock bytes lie past 2^62");

constexpr off_t kLockBase = off_t(1) << 62;
constexpr DWORD kRights[3] = {kReadData, kWriteData, kDelete};
constexpr DWORD kShareFlags[3] = {0x1 /*FILE_SHARE_READ*/, 0x2 /*FILE_SHARE_WRITE*/,
                                  0x4 /*FILE_SHARE_DELETE*/};

off_t rightByte(int i) {
    return kLockBase + i;
}
off_t denyByte(int i) {
    return kLockBase + 3 + i;
}

bool take(int fd, off_t at) {
    struct flock lock {};
    lock.l_type = F_RDLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = at;
    lock.l_len = 1;
    return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

// Whether an open file description other than fd's holds a lock on the
// byte; a failing query counts as held, so that doubt refuses the open.
bool heldByOthers(int fd, off_t at) {
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = at;
    probe.l_len = 1;
    return fcntl(fd, F_OFD_GETLK, &probe) != 0 || probe.l_type != F_UNLCK;
}

void dropAll(int fd) {
    struct flock unlock {};
    unlock.l_type = F_UNLCK;
    unlock.l_whence = SEEK_SET;
    unlock.l_start = kLockBase;
    unlock.l_len = 6;
    fcntl(fd, F_OFD_SETLK, &unlock);
}

bool conflicts(int fd, DWORD access, DWORD share) {
    for (int i = 0; i < 3; ++i) {
        if ((access & kRights[i]) && heldByOthers(fd, denyByte(i)))
            return true;
        if (!(share & kShareFlags[i]) && heldByOthers(fd, rightByte(i)))
            return true;
    }
    return false;
}

// Holds flock(LOCK_EX) on the file while an open checks and takes its
// locks. Openers hold it for microseconds; a program that keeps the file
// flock-ed for long makes the open fail instead of hang.
class Gate {
  public:
    explicit Gate(int fd) : fd_(fd) {
        for (int attempt = 0; attempt < 5000; ++attempt) {
            if (flock(fd_, LOCK_EX | LOCK_NB) == 0) {
                ok_ = true;
                return;
            }
            if (errno != EWOULDBLOCK && errno != EINTR)
                return;
            usleep(1000);
        }
    }
    ~Gate() {
        if (ok_)
            flock(fd_, LOCK_UN);
    }
    bool ok() const { return ok_; }

  private:
    int fd_;
    bool ok_ = false;
};

constexpr int kOpenForLocks = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;

}  // namespace

Claim& Claim::operator=(Claim&& other) noexcept {
    if (this != &other) {
        release();
        twin_ = other.twin_;
        other.twin_ = -1;
    }
    return *this;
}

void Claim::release() {
    if (twin_ >= 0)
        ::close(twin_);  // drops its locks
    twin_ = -1;
}

DWORD claim(int fd, DWORD access, DWORD share, Claim* out) {
    out->release();
    access &= kReadData | kWriteData | kDelete;
    if (access == 0)
        return ERROR_SUCCESS;
    int lockFd = fd;
    int mode = fcntl(fd, F_GETFL);
    if (mode < 0)
        return ERROR_LOCK_VIOLATION;
    if ((mode & O_PATH) || (mode & O_ACCMODE) == O_WRONLY) {
        // A second description of the same file (not of whatever the path
        // names by now), open for reading.
        char self[40];
        snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
        out->twin_ = ::open(self, kOpenForLocks);
        if (out->twin_ < 0)
            return ERROR_SUCCESS;  // unreadable: no part in sharing
        lockFd = out->twin_;
    }
    DWORD result = ERROR_SUCCESS;
    {
        Gate gate(lockFd);
        if (!gate.ok()) {
            result = ERROR_LOCK_VIOLATION;
        } else if (conflicts(lockFd, access, share)) {
            result = ERROR_SHARING_VIOLATION;
        } else {
            for (int i = 0; i < 3 && result == ERROR_SUCCESS; ++i)
                if (((access & kRights[i]) && !take(lockFd, rightByte(i))) ||
                    (!(share & kShareFlags[i]) && !take(lockFd, denyByte(i))))
                    result = ERROR_LOCK_VIOLATION;
        }
    }
    if (result != ERROR_SUCCESS) {
        if (lockFd == fd)
            dropAll(fd);
        out->release();
    }
    return result;
}

DWORD check(const char* nativePath, DWORD access, DWORD share) {
    int fd = ::open(nativePath, kOpenForLocks);
    if (fd < 0)
        return ERROR_SUCCESS;  // nothing to see through: no part in sharing
    bool conflict = conflicts(fd, access, share);
    ::close(fd);
    return conflict ? ERROR_SHARING_VIOLATION : ERROR_SUCCESS;
}

}  // namespace winsys::share
