// Path arguments, error codes, attributes, times and share checks for the
// file calls.
#include "kernel/file_support.h"

#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "faults/faults.h"
#include "kernel/rename_temporaries.h"
#include "kernel/share_modes.h"
#include "kernel/text.h"
#include "paths/paths.h"

namespace winsys::kernel {

namespace {

constexpr const char* dosAttributeName = "user.DOSATTRIB";
constexpr DWORD storedMask = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
constexpr long long epochDifference = 116444736000000000LL;  // 1601 -> 1970 in 100 ns

bool parentExists(const std::string& native) {
    size_t slash = native.rfind('/');
    if (slash == std::string::npos)
        return true;
    std::string parent = slash == 0 ? "/" : native.substr(0, slash);
    struct stat st;
    return stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::optional<std::string> nativePathW(LPCWSTR path) {
    if (!path) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return std::nullopt;
    }
    unsigned error = 0;
    auto native = paths::toNative(path, &error);
    if (!native)
        SetLastError(error);
    return native;
}

std::optional<std::string> nativePathA(LPCSTR path) {
    if (!path) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return std::nullopt;
    }
    std::u16string wide = text::toUtf16(path);
    return nativePathW(wide.c_str());
}

DWORD errorFromErrno(int error, const std::string& native) {
    switch (error) {
        case 0:
            return ERROR_SUCCESS;
        case ENOENT:
            return native.empty() || parentExists(native) ? ERROR_FILE_NOT_FOUND
                                                          : ERROR_PATH_NOT_FOUND;
        case ENOTDIR:
        case ELOOP:
            return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EISDIR:
        case EROFS:
            return ERROR_ACCESS_DENIED;
        case EEXIST:
            return ERROR_FILE_EXISTS;
        case ENOTEMPTY:
            return ERROR_DIR_NOT_EMPTY;
        case ENAMETOOLONG:
            return ERROR_FILENAME_EXCED_RANGE;
        case ENOSPC:
        case EDQUOT:
            return ERROR_DISK_FULL;
        case EXDEV:
            return ERROR_NOT_SAME_DEVICE;
        case EMFILE:
        case ENFILE:
            return ERROR_TOO_MANY_OPEN_FILES;
        case EBADF:
            return ERROR_INVALID_HANDLE;
        case EINVAL:
            return ERROR_INVALID_PARAMETER;
        case EBUSY:
        case ETXTBSY:
            return ERROR_SHARING_VIOLATION;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        default:
            return ERROR_GEN_FAILURE;
    }
}

BOOL failFromErrno(const std::string& native) {
    SetLastError(errorFromErrno(errno, native));
    return FALSE;
}

BOOL failWith(DWORD code) {
    SetLastError(code);
    return FALSE;
}

bool isReadOnly(const struct stat& st) {
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

std::optional<DWORD> storedDosAttributes(const std::string& native) {
    char value[64];
    ssize_t size = getxattr(native.c_str(), dosAttributeName, value, sizeof value - 1);
    if (size < 3)
        return std::nullopt;
    value[size] = 0;
    // The text form "0x<hex>" (Samba's binary forms are not read).
    if (value[0] != '0' || (value[1] != 'x' && value[1] != 'X'))
        return std::nullopt;
    char* end = nullptr;
    unsigned long bits = strtoul(value + 2, &end, 16);
    if (end == value + 2)
        return std::nullopt;
    return static_cast<DWORD>(bits) & storedMask;
}

DWORD attributesOf(const std::string& native, const struct stat& st) {
    DWORD attributes = 0;
    if (S_ISDIR(st.st_mode))
        attributes |= FILE_ATTRIBUTE_DIRECTORY;
    if (isReadOnly(st))
        attributes |= FILE_ATTRIBUTE_READONLY;
    if (auto stored = storedDosAttributes(native)) {
        attributes |= *stored;
    } else if (!S_ISDIR(st.st_mode)) {
        attributes |= FILE_ATTRIBUTE_ARCHIVE;  // what a file that was never marked shows
    }
    return attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
}

bool applyAttributes(const std::string& native, DWORD attributes) {
    struct stat st;
    if (stat(native.c_str(), &st) != 0)
        return false;
    mode_t mode = st.st_mode & 07777;
    // On Windows a read-only directory still takes new files; the mode of a
    // directory is left alone so that it does here too.
    if (!S_ISDIR(st.st_mode)) {
        if (attributes & FILE_ATTRIBUTE_READONLY) {
            mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
        } else if (isReadOnly(st)) {
            // The owner regains writing; wider write bits are not guessed
            // (the umask cannot be read without changing it under other threads).
            mode |= S_IWUSR;
        }
    }
    auto store = [&] {
        DWORD stored = attributes & storedMask;
        auto previous = storedDosAttributes(native);
        // A plain file needs no stored value; one that had a value keeps it current.
        DWORD plain = S_ISDIR(st.st_mode) ? 0u : static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE);
        if (previous ? *previous == stored : stored == plain)
            return;
        char value[16];
        int length = snprintf(value, sizeof value, "0x%x", static_cast<unsigned>(stored));
        setxattr(native.c_str(), dosAttributeName, value, static_cast<size_t>(length),
                 0);  // best effort
    };
    // The extended attribute needs write permission: store it while the file has it.
    bool modeChanges = mode != (st.st_mode & 07777);
    if (attributes & FILE_ATTRIBUTE_READONLY) {
        store();
        if (modeChanges && chmod(native.c_str(), mode) != 0)
            return false;
    } else {
        if (modeChanges && chmod(native.c_str(), mode) != 0)
            return false;
        store();
    }
    return true;
}

FILETIME toFileTime(const struct timespec& ts) {
    long long value =
        static_cast<long long>(ts.tv_sec) * 10000000LL + ts.tv_nsec / 100 + epochDifference;
    if (value < 0)
        value = 0;
    return FILETIME{static_cast<DWORD>(value & 0xFFFFFFFF),
                    static_cast<DWORD>(static_cast<unsigned long long>(value) >> 32)};
}

struct timespec fromFileTime(const FILETIME& ft) {
    long long value = static_cast<long long>(
        (static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
    value -= epochDifference;
    long long seconds = value / 10000000LL;
    long long rest = value % 10000000LL;
    if (rest < 0) {
        rest += 10000000LL;
        --seconds;
    }
    struct timespec ts;
    ts.tv_sec = static_cast<time_t>(seconds);
    ts.tv_nsec = static_cast<long>(rest * 100);
    return ts;
}

FILETIME creationTimeOf(const std::string& native, int fd, const struct stat& st) {
#ifdef STATX_BTIME
    struct statx sx;
    int result = fd >= 0 ? statx(fd, "", AT_EMPTY_PATH, STATX_BTIME, &sx)
                         : statx(AT_FDCWD, native.c_str(), 0, STATX_BTIME, &sx);
    if (result == 0 && (sx.stx_mask & STATX_BTIME)) {
        struct timespec ts {
            static_cast<time_t>(sx.stx_btime.tv_sec), static_cast<long>(sx.stx_btime.tv_nsec)
        };
        return toFileTime(ts);
    }
#else
    (void)native;
    (void)fd;
#endif
    // No birth time: the older of change and modification time.
    const struct timespec& c = st.st_ctim;
    const struct timespec& m = st.st_mtim;
    bool changeOlder = c.tv_sec < m.tv_sec || (c.tv_sec == m.tv_sec && c.tv_nsec < m.tv_nsec);
    return toFileTime(changeOlder ? c : m);
}

DWORD reduceAccess(DWORD access) {
    DWORD reduced = 0;
    if (access & (GENERIC_READ | GENERIC_ALL | GENERIC_EXECUTE | 0x0001 /*FILE_READ_DATA*/ |
                  0x0020 /*FILE_EXECUTE*/))
        reduced |= share::kReadData;
    if (access &
        (GENERIC_WRITE | GENERIC_ALL | 0x0002 /*FILE_WRITE_DATA*/ | 0x0004 /*FILE_APPEND_DATA*/))
        reduced |= share::kWriteData;
    if (access & (GENERIC_ALL | 0x00010000 /*DELETE*/))
        reduced |= share::kDelete;
    return reduced;
}

bool shareAllows(const std::string& native, const struct stat& st, DWORD access, DWORD share) {
    if (!S_ISREG(st.st_mode))
        return true;
    return share::check(native.c_str(), access, share) == ERROR_SUCCESS;
}

BOOL copyFileAtomically(const std::string& from, const std::string& to, bool failIfExists) {
    int source = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (source < 0)
        return failFromErrno(from);
    struct stat st;
    if (fstat(source, &st) != 0) {
        close(source);
        return failFromErrno(from);
    }
    // Reading the source is an open of it that shares everything (as Windows
    // copies), so only an open that denies readers keeps it from starting.
    constexpr DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    share::Claim reading;
    if (share::claim(source, share::kReadData, shareAll, &reading) != ERROR_SUCCESS) {
        close(source);
        return failWith(ERROR_SHARING_VIOLATION);
    }
    size_t slash = to.rfind('/');
    std::string directory = slash == std::string::npos ? "."
                            : slash == 0               ? "/"
                                                       : to.substr(0, slash);
    // Held open, and so marked live, until it has been renamed or deleted.
    std::string temporary;
    int target = renames::create(to, &temporary);
    if (target < 0) {
        int saved = errno;
        close(source);
        errno = saved;
        return failFromErrno(to);
    }
    auto abandon = [&](int error) {
        close(source);
        unlink(temporary.c_str());
        close(target);
        SetLastError(errorFromErrno(error, to));
        return FALSE;
    };
    std::vector<char> buffer(1 << 16);
    for (;;) {
        ssize_t n = read(source, buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return abandon(errno);
        }
        if (n == 0)
            break;
        if (DWORD injected = faults::next(faults::Kind::Write))
            return abandon(0), failWith(injected);
        for (ssize_t done = 0; done < n;) {
            ssize_t w = write(target, buffer.data() + done, static_cast<size_t>(n - done));
            if (w < 0) {
                if (errno == EINTR)
                    continue;
                return abandon(errno);
            }
            done += w;
        }
    }
    // The copy keeps the source's last write time and attributes, marked for archiving.
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    futimens(target, times);
    if (auto stored = storedDosAttributes(from)) {
        char value[16];
        int length = snprintf(value, sizeof value, "0x%x",
                              static_cast<unsigned>(*stored | FILE_ATTRIBUTE_ARCHIVE));
        fsetxattr(target, dosAttributeName, value, static_cast<size_t>(length), 0);
    }
    if (fchmod(target, st.st_mode & 07777) != 0)
        return abandon(errno);
    if (DWORD injected = faults::next(faults::Kind::Flush))
        return abandon(0), failWith(injected);
    if (fsync(target) != 0)
        return abandon(errno);
    close(source);
    // Replacing the target deletes it: that right is held until the rename,
    // so no open that denies deletion can start in between.
    int replaced =
        failIfExists ? -1 : open(to.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    share::Claim deleting;
    if (replaced >= 0 &&
        share::claim(replaced, share::kDelete, shareAll, &deleting) != ERROR_SUCCESS) {
        close(replaced);
        unlink(temporary.c_str());
        close(target);
        return failWith(ERROR_SHARING_VIOLATION);
    }
    int placed;
    if (failIfExists) {
        // Never replaces: a target that appeared meanwhile is kept.
        placed = renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
        if (placed != 0 && (errno == EINVAL || errno == ENOSYS)) {
            placed = link(temporary.c_str(), to.c_str());
            if (placed == 0)
                unlink(temporary.c_str());
        }
    } else {
        placed = rename(temporary.c_str(), to.c_str());
    }
    int saved = errno;
    if (replaced >= 0)
        close(replaced);
    if (placed != 0)
        unlink(temporary.c_str());
    close(target);
    if (placed != 0) {
        SetLastError(errorFromErrno(saved, to));
        return FALSE;
    }
    int dir = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return TRUE;
}

}  // namespace winsys::kernel
