// The runtime library's low-level file calls over winsys paths: Windows flag
// values and Windows-form paths in, POSIX descriptors out, errno as the
// runtime library sets it.
#include <io.h>
#include <windows.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "faults/faults.h"
#include "kernel/text.h"
#include "paths/paths.h"

namespace {

namespace text = winsys::text;
namespace faults = winsys::faults;

// Counts a call of `kind`; false with errno set when it is to fail.
bool proceed(faults::Kind kind) {
    if (DWORD injected = faults::next(kind)) {
        errno = faults::errnoOf(injected);
        return false;
    }
    return true;
}

// A Windows path, or a native one when it is absolute in POSIX form.
std::optional<std::string> nativeOf(const char* name) {
    if (name[0] == '/')
        return std::string(name);
    unsigned error = 0;
    auto native = winsys::paths::toNative(text::toUtf16(name), &error);
    if (!native)
        errno = error == ERROR_FILENAME_EXCED_RANGE ? ENAMETOOLONG
                : error == ERROR_INVALID_NAME       ? EINVAL
                                                    : ENOENT;
    return native;
}

bool isDirectory(const std::string& native) {
    struct stat st;
    return stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::atomic<unsigned> tempCounter{0};

}  // namespace

extern "C" {

WINSYS_EXPORT int __cdecl _open(const char* name, int flags, ...) {
    if (!name) {
        errno = EINVAL;
        return -1;
    }
    int mode = 0;
    if (flags & _O_CREAT) {
        va_list args;
        va_start(args, flags);
        mode = va_arg(args, int);
        va_end(args);
    }
    auto native = nativeOf(name);
    if (!native || !proceed(faults::Kind::Open))
        return -1;
    int access = flags & (_O_WRONLY | _O_RDWR);
    int posix = access == _O_RDWR ? O_RDWR : access == _O_WRONLY ? O_WRONLY : O_RDONLY;
    if (flags & _O_APPEND)
        posix |= O_APPEND;
    if (flags & _O_CREAT)
        posix |= O_CREAT;
    // Truncation is done below, and only to a file that has bytes to lose.
    const bool truncate = (flags & _O_TRUNC) && access != 0;
    if ((flags & _O_TRUNC) && !truncate)
        posix |= O_TRUNC;
    if (flags & _O_EXCL)
        posix |= O_EXCL;
    if (flags & _O_NOINHERIT)
        posix |= O_CLOEXEC;
    // Without _S_IWRITE the runtime creates a read-only file.
    mode_t permissions = (mode & _S_IWRITE) ? 0666 : 0444;
    int fd = open(native->c_str(), posix, permissions);
    if (fd < 0)
        return -1;
    struct stat st;
    const bool stated = fstat(fd, &st) == 0;
    if (stated && S_ISDIR(st.st_mode)) {
        close(fd);
        errno = EACCES;
        return -1;
    }
    // Truncating a file that is already empty, as a file made by
    // GetTempFileName is, still makes some file systems (ext4) write the
    // file's new data out when it is closed: a scratch file deleted soon
    // after would then reach the disk for nothing.
    const bool empty = stated && (!S_ISREG(st.st_mode) || st.st_size == 0);
    if (truncate && !empty && ftruncate(fd, 0) != 0) {
        const int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    // Deleted when the last descriptor closes: unlinking now gives exactly that.
    if (flags & _O_TEMPORARY)
        unlink(native->c_str());
    return fd;
}

WINSYS_EXPORT int __cdecl _read(int fd, void* buffer, unsigned int count) {
    if (count > INT_MAX || (!buffer && count)) {
        errno = EINVAL;
        return -1;
    }
    ssize_t n;
    do
        n = read(fd, buffer, count);
    while (n < 0 && errno == EINTR);
    return static_cast<int>(n);
}

WINSYS_EXPORT int __cdecl _write(int fd, const void* buffer, unsigned int count) {
    if (count > INT_MAX || (!buffer && count)) {
        errno = EINVAL;
        return -1;
    }
    if (!proceed(faults::Kind::Write))
        return -1;
    unsigned int done = 0;
    while (done < count) {
        ssize_t n = write(fd, static_cast<const char*>(buffer) + done, count - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        done += static_cast<unsigned int>(n);
    }
    return static_cast<int>(done);
}

WINSYS_EXPORT int __cdecl _close(int fd) {
    return close(fd);
}

WINSYS_EXPORT long __cdecl _lseek(int fd, long offset, int origin) {
    if (origin != SEEK_SET && origin != SEEK_CUR && origin != SEEK_END) {
        errno = EINVAL;
        return -1;
    }
    off_t position = lseek(fd, static_cast<off_t>(offset), origin);
    if (position < 0)
        return -1;
    // The runtime's long is 32 bits: positions beyond it are refused.
    if (position > 0x7FFFFFFF) {
        errno = EINVAL;
        return -1;
    }
    return static_cast<long>(position);
}

WINSYS_EXPORT int __cdecl _unlink(const char* name) {
    if (!name) {
        errno = EINVAL;
        return -1;
    }
    auto native = nativeOf(name);
    if (!native || !proceed(faults::Kind::Delete))
        return -1;
    // Directories and read-only files are refused, as the runtime does.
    struct stat st;
    if (stat(native->c_str(), &st) == 0 && (S_ISDIR(st.st_mode) || !(st.st_mode & S_IWUSR))) {
        errno = EACCES;
        return -1;
    }
    return unlink(native->c_str());
}

WINSYS_EXPORT char* __cdecl _tempnam(const char* dir, const char* prefix) {
    if (!proceed(faults::Kind::TempName))
        return nullptr;
    // The TMP variable's directory when it exists, else the given one, else
    // the system's temporary directory.
    std::string directory;
    auto usable = [](const char* candidate) -> std::optional<std::string> {
        if (!candidate || !*candidate)
            return std::nullopt;
        auto native = nativeOf(candidate);
        if (!native || !isDirectory(*native))
            return std::nullopt;
        return text::toUtf8(winsys::paths::toWindows(*native));
    };
    if (auto tmp = usable(getenv("TMP"))) {
        directory = *tmp;
    } else if (auto given = usable(dir)) {
        directory = *given;
    } else {
        char temp[MAX_PATH + 1];
        DWORD length = GetTempPathA(sizeof temp, temp);
        if (length == 0 || length >= sizeof temp) {
            errno = ENOENT;
            return nullptr;
        }
        directory = temp;
    }
    if (directory.back() != '\\')
        directory += '\\';
    std::string start = directory + (prefix ? prefix : "");
    for (unsigned attempt = 0; attempt < 100000; ++attempt) {
        unsigned number = (static_cast<unsigned>(getpid()) << 8) + tempCounter.fetch_add(1) + 1;
        char suffix[16];
        snprintf(suffix, sizeof suffix, "%x", number);
        std::string candidate = start + suffix;
        auto native = nativeOf(candidate.c_str());
        if (!native)
            return nullptr;
        struct stat st;
        if (lstat(native->c_str(), &st) != 0 && errno == ENOENT) {
            char* result = static_cast<char*>(malloc(candidate.size() + 1));
            if (!result) {
                errno = ENOMEM;
                return nullptr;
            }
            memcpy(result, candidate.c_str(), candidate.size() + 1);
            return result;
        }
    }
    errno = EEXIST;
    return nullptr;
}
}
