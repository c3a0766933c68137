// Open files: CreateFile with Windows' dispositions, access and sharing, and
// the calls that act on a file handle.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <windows.h>

#include <cerrno>
#include <climits>

#include "faults/faults.h"
#include "kernel/file_support.h"
#include "kernel/handles.h"
#include "kernel/share_modes.h"
#include "kernel/text.h"

namespace faults = winsys::faults;

namespace {

using namespace winsys::kernel;

struct FileObject : KernelObject {
    int fd = -1;
    std::string path;
    DWORD access = 0;  // reduced: share::kReadData, kWriteData, kDelete
    winsys::share::Claim claim;
    bool deleteOnClose = false;
    ~FileObject() override {
        claim.release();
        if (deleteOnClose)
            unlink(path.c_str());
        if (fd >= 0)
            close(fd);
    }
    bool canRead() const { return access & winsys::share::kReadData; }
    bool canWrite() const { return access & winsys::share::kWriteData; }
};

std::shared_ptr<FileObject> fileFromHandle(HANDLE handle) {
    auto file = lookupHandleAs<FileObject>(handle);
    if (!file)
        SetLastError(ERROR_INVALID_HANDLE);
    return file;
}

HANDLE failHandle(DWORD code) {
    SetLastError(code);
    return INVALID_HANDLE_VALUE;
}

HANDLE createFile(const std::optional<std::string>& native, DWORD access, DWORD share,
                  DWORD creation, DWORD flags) {
    if (!native)
        return INVALID_HANDLE_VALUE;  // the last error is set
    if (DWORD injected = faults::next(faults::Kind::Open))
        return failHandle(injected);
    if (creation < CREATE_NEW || creation > TRUNCATE_EXISTING)
        return failHandle(ERROR_INVALID_PARAMETER);
    const DWORD reduced = reduceAccess(access);
    if (creation == TRUNCATE_EXISTING && !(reduced & winsys::share::kWriteData))
        return failHandle(ERROR_INVALID_PARAMETER);

    struct stat st;
    bool exists = stat(native->c_str(), &st) == 0;
    if (!exists && errno != ENOENT)
        return failHandle(errorFromErrno(errno, *native));
    if (exists) {
        if (S_ISDIR(st.st_mode))
            return failHandle(ERROR_ACCESS_DENIED);
        if (creation == CREATE_NEW)
            return failHandle(ERROR_FILE_EXISTS);
        bool replaces = creation == CREATE_ALWAYS || creation == TRUNCATE_EXISTING;
        if (isReadOnly(st) && ((reduced & winsys::share::kWriteData) || replaces))
            return failHandle(ERROR_ACCESS_DENIED);
    } else if (creation == OPEN_EXISTING || creation == TRUNCATE_EXISTING) {
        return failHandle(errorFromErrno(ENOENT, *native));
    }

    const bool writes = reduced & winsys::share::kWriteData;
    const bool reads = reduced & winsys::share::kReadData;
    int mode = writes ? (reads ? O_RDWR : O_WRONLY) : O_RDONLY;
    int openFlags = mode | O_CLOEXEC;
    if (!exists)
        openFlags |= O_CREAT | O_EXCL;
    // Without read permission (a query-only open of an unreadable file) a
    // path descriptor still serves the metadata calls.
    int fd = open(native->c_str(), openFlags, 0666);
    if (fd < 0 && errno == EEXIST)
        return failHandle(creation == CREATE_NEW ? ERROR_FILE_EXISTS : ERROR_SHARING_VIOLATION);
    if (fd < 0 && reduced == 0 && exists)
        fd = open(native->c_str(), O_PATH | O_CLOEXEC);
    if (fd < 0)
        return failHandle(errorFromErrno(errno, *native));
    if (fstat(fd, &st) != 0) {
        close(fd);
        return failHandle(ERROR_ACCESS_DENIED);
    }

    auto file = std::make_shared<FileObject>();
    file->fd = fd;
    file->path = *native;
    file->access = reduced;
    if (DWORD refused = winsys::share::claim(fd, reduced, share, &file->claim)) {
        file->fd = -1;
        close(fd);
        if (!exists)
            unlink(native->c_str());
        return failHandle(refused);
    }
    file->deleteOnClose = flags & FILE_FLAG_DELETE_ON_CLOSE;
    // An empty file is left as it is: truncating it, a no-op to the caller,
    // makes ext4 write the file's new data out at close (its guard for files
    // replaced by truncation), and the scratch files made empty by
    // GetTempFileName and rewritten here would then reach the disk although
    // they are deleted soon after.
    if (exists && (creation == CREATE_ALWAYS || creation == TRUNCATE_EXISTING) &&
        st.st_size != 0 && ftruncate(fd, 0) != 0)
        return failHandle(errorFromErrno(errno, *native));
    if (!exists || creation == CREATE_ALWAYS) {
        DWORD attributes = flags & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                    FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
        if (attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE))
            applyAttributes(*native, attributes | FILE_ATTRIBUTE_ARCHIVE);
    }
    HANDLE handle = insertHandle(file);
    // Opening an existing file where one may be created is reported, not refused.
    SetLastError(exists && (creation == CREATE_ALWAYS || creation == OPEN_ALWAYS)
                     ? ERROR_ALREADY_EXISTS
                     : ERROR_SUCCESS);
    return handle;
}

bool seekTo(FileObject& file, long long distance, DWORD method, long long* position) {
    int whence = method == FILE_BEGIN     ? SEEK_SET
                 : method == FILE_CURRENT ? SEEK_CUR
                 : method == FILE_END     ? SEEK_END
                                          : -1;
    if (whence < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    off_t base = 0;
    if (whence == SEEK_CUR)
        base = lseek(file.fd, 0, SEEK_CUR);
    if (whence == SEEK_END) {
        struct stat st;
        base = fstat(file.fd, &st) == 0 ? st.st_size : -1;
    }
    if (base < 0) {
        SetLastError(errorFromErrno(errno));
        return false;
    }
    long long target = static_cast<long long>(base) + distance;
    if (target < 0) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return false;
    }
    if (lseek(file.fd, static_cast<off_t>(target), SEEK_SET) < 0) {
        SetLastError(errorFromErrno(errno));
        return false;
    }
    *position = target;
    return true;
}

}  // namespace

extern "C" {

WINSYS_EXPORT HANDLE WINAPI CreateFileW(LPCWSTR name, DWORD access, DWORD share,
                                        LPSECURITY_ATTRIBUTES, DWORD creation, DWORD flags,
                                        HANDLE) {
    return createFile(nativePathW(name), access, share, creation, flags);
}

WINSYS_EXPORT HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD share,
                                        LPSECURITY_ATTRIBUTES, DWORD creation, DWORD flags,
                                        HANDLE) {
    return createFile(nativePathA(name), access, share, creation, flags);
}

WINSYS_EXPORT BOOL WINAPI ReadFile(HANDLE handle, LPVOID buffer, DWORD count, LPDWORD read,
                                   LPOVERLAPPED overlapped) {
    if (read)
        *read = 0;
    auto file = fileFromHandle(handle);
    if (!file)
        return FALSE;
    if (overlapped)
        return failWith(ERROR_INVALID_PARAMETER);
    if (!file->canRead())
        return failWith(ERROR_ACCESS_DENIED);
    if (!buffer && count)
        return failWith(ERROR_NOACCESS);
    DWORD done = 0;
    while (done < count) {
        ssize_t n = ::read(file->fd, static_cast<char*>(buffer) + done, count - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (read)
                *read = done;
            return failFromErrno();
        }
        if (n == 0)
            break;
        done += static_cast<DWORD>(n);
    }
    if (read)
        *read = done;
    return TRUE;
}

WINSYS_EXPORT BOOL WINAPI WriteFile(HANDLE handle, LPCVOID buffer, DWORD count, LPDWORD written,
                                    LPOVERLAPPED overlapped) {
    if (written)
        *written = 0;
    auto file = fileFromHandle(handle);
    if (!file)
        return FALSE;
    if (overlapped)
        return failWith(ERROR_INVALID_PARAMETER);
    if (!file->canWrite())
        return failWith(ERROR_ACCESS_DENIED);
    if (!buffer && count)
        return failWith(ERROR_NOACCESS);
    if (DWORD injected = faults::next(faults::Kind::Write))
        return failWith(injected);
    DWORD done = 0;
    while (done < count) {
        ssize_t n = ::write(file->fd, static_cast<const char*>(buffer) + done, count - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (written)
                *written = done;
            return failFromErrno();
        }
        done += static_cast<DWORD>(n);
    }
    if (written)
        *written = done;
    return TRUE;
}

WINSYS_EXPORT DWORD WINAPI GetFileSize(HANDLE handle, LPDWORD high) {
    auto file = fileFromHandle(handle);
    struct stat st;
    if (!file)
        return INVALID_FILE_SIZE;
    if (fstat(file->fd, &st) != 0) {
        failFromErrno();
        return INVALID_FILE_SIZE;
    }
    auto size = static_cast<unsigned long long>(st.st_size);
    if (high)
        *high = static_cast<DWORD>(size >> 32);
    if (static_cast<DWORD>(size) == INVALID_FILE_SIZE)
        SetLastError(NO_ERROR);
    return static_cast<DWORD>(size);
}

WINSYS_EXPORT BOOL WINAPI GetFileSizeEx(HANDLE handle, PLARGE_INTEGER size) {
    auto file = fileFromHandle(handle);
    if (!file)
        return FALSE;
    if (!size)
        return failWith(ERROR_NOACCESS);
    struct stat st;
    if (fstat(file->fd, &st) != 0)
        return failFromErrno();
    size->QuadPart = st.st_size;
    return TRUE;
}

WINSYS_EXPORT DWORD WINAPI SetFilePointer(HANDLE handle, LONG distance, PLONG high, DWORD method) {
    auto file = fileFromHandle(handle);
    if (!file)
        return INVALID_SET_FILE_POINTER;
    long long move = high ? static_cast<long long>(
                                (static_cast<unsigned long long>(static_cast<DWORD>(*high)) << 32) |
                                static_cast<DWORD>(distance))
                          : static_cast<long long>(distance);
    long long position;
    if (!seekTo(*file, move, method, &position))
        return INVALID_SET_FILE_POINTER;
    if (high) {
        *high = static_cast<LONG>(static_cast<unsigned long long>(position) >> 32);
    } else if (position > 0xFFFFFFFFLL) {
        // The position moved but cannot be reported in 32 bits.
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if (static_cast<DWORD>(position) == INVALID_SET_FILE_POINTER)
        SetLastError(NO_ERROR);
    return static_cast<DWORD>(position);
}

WINSYS_EXPORT BOOL WINAPI SetFilePointerEx(HANDLE handle, LARGE_INTEGER distance,
                                           PLARGE_INTEGER newPosition, DWORD method) {
    auto file = fileFromHandle(handle);
    if (!file)
        return FALSE;
    long long position;
    if (!seekTo(*file, distance.QuadPart, method, &position))
        return FALSE;
    if (newPosition)
        newPosition->QuadPart = position;
    return TRUE;
}

WINSYS_EXPORT BOOL WINAPI SetEndOfFile(HANDLE handle) {
    auto file = fileFromHandle(handle);
    if (!file)
        return FALSE;
    if (!file->canWrite())
        return failWith(ERROR_ACCESS_DENIED);
    off_t position = lseek(file->fd, 0, SEEK_CUR);
    if (position < 0 || ftruncate(file->fd, position) != 0)
        return failFromErrno();
    return TRUE;
}

WINSYS_EXPORT BOOL WINAPI FlushFileBuffers(HANDLE handle) {
    auto file = fileFromHandle(handle);
    if (!file)
        return FALSE;
    if (!file->canWrite())
        return failWith(ERROR_ACCESS_DENIED);
    if (DWORD injected = faults::next(faults::Kind::Flush))
        return failWith(injected);
    if (fsync(file->fd) != 0)
        return failFromErrno();
    return TRUE;
}

WINSYS_EXPORT BOOL WINAPI GetFileInformationByHandle(HANDLE handle,
                                                     LPBY_HANDLE_FILE_INFORMATION info) {
    auto file = fileFromHandle(handle);
    if (!file)
        return FALSE;
    if (!info)
        return failWith(ERROR_NOACCESS);
    struct stat st;
    if (fstat(file->fd, &st) != 0)
        return failFromErrno();
    info->dwFileAttributes = attributesOf(file->path, st);
    info->ftCreationTime = creationTimeOf(file->path, file->fd, st);
    info->ftLastAccessTime = toFileTime(st.st_atim);
    info->ftLastWriteTime = toFileTime(st.st_mtim);
    info->dwVolumeSerialNumber = static_cast<DWORD>(st.st_dev);
    info->nFileSizeHigh = static_cast<DWORD>(static_cast<unsigned long long>(st.st_size) >> 32);
    info->nFileSizeLow = static_cast<DWORD>(st.st_size);
    info->nNumberOfLinks = static_cast<DWORD>(st.st_nlink);
    info->nFileIndexHigh = static_cast<DWORD>(static_cast<unsigned long long>(st.st_ino) >> 32);
    info->nFileIndexLow = static_cast<DWORD>(st.st_ino);
    return TRUE;
}

WINSYS_EXPORT BOOL WINAPI GetFileTime(HANDLE handle, LPFILETIME creation, LPFILETIME access,
                                      LPFILETIME write) {
    auto file = fileFromHandle(handle);
    if (!file)
        return FALSE;
    struct stat st;
    if (fstat(file->fd, &st) != 0)
        return failFromErrno();
    if (creation)
        *creation = creationTimeOf(file->path, file->fd, st);
    if (access)
        *access = toFileTime(st.st_atim);
    if (write)
        *write = toFileTime(st.st_mtim);
    return TRUE;
}

WINSYS_EXPORT BOOL WINAPI SetFileTime(HANDLE handle, const FILETIME* creation,
                                      const FILETIME* access, const FILETIME* write) {
    auto file = fileFromHandle(handle);
    if (!file)
        return FALSE;
    if (!file->canWrite())
        return failWith(ERROR_ACCESS_DENIED);
    (void)creation;  // POSIX keeps no settable creation time
    // Null, zero and all-ones leave a time unchanged.
    auto pick = [](const FILETIME* ft) {
        struct timespec ts {
            0, UTIME_OMIT
        };
        if (ft && !(ft->dwLowDateTime == 0 && ft->dwHighDateTime == 0) &&
            !(ft->dwLowDateTime == 0xFFFFFFFF && ft->dwHighDateTime == 0xFFFFFFFF))
            ts = fromFileTime(*ft);
        return ts;
    };
    struct timespec times[2] = {pick(access), pick(write)};
    if (futimens(file->fd, times) != 0)
        return failFromErrno();
    return TRUE;
}
}
