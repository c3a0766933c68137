// Whole-file operations by name: attributes, delete, copy, move, and
// directories, with Windows' refusals (read-only files, existing targets,
// directories where files are expected).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>

#include "faults/faults.h"
#include "kernel/file_support.h"
#include "kernel/rename_temporaries.h"
#include "kernel/text.h"

namespace {

using namespace winsys::kernel;
namespace faults = winsys::faults;
namespace renames = winsys::renames;

constexpr DWORD deleteAccess = 0x00010000;
constexpr size_t directoryNameLimit = MAX_PATH - 12;  // room for an 8.3 name inside

DWORD getAttributes(const std::optional<std::string>& native) {
    if (!native)
        return INVALID_FILE_ATTRIBUTES;
    struct stat st;
    if (stat(native->c_str(), &st) != 0 && lstat(native->c_str(), &st) != 0) {
        failFromErrno(*native);
        return INVALID_FILE_ATTRIBUTES;
    }
    return attributesOf(*native, st);
}

BOOL setAttributes(const std::optional<std::string>& native, DWORD attributes) {
    if (!native)
        return FALSE;
    struct stat st;
    if (stat(native->c_str(), &st) != 0)
        return failFromErrno(*native);
    if (!applyAttributes(*native, attributes))
        return failFromErrno(*native);
    return TRUE;
}

// Whether every open handle on the file lets it be deleted (or renamed over).
bool othersAllowDeleting(const std::string& native, const struct stat& st) {
    return shareAllows(native, st, deleteAccess,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
}

// After a failed look-up of a copy's or move's target: true when the name is
// simply free, else false with the error set (its directory missing, say).
bool targetIsFree(const std::string& to) {
    if (errno != ENOENT)
        return failFromErrno(to);
    if (errorFromErrno(ENOENT, to) == ERROR_PATH_NOT_FOUND)
        return failWith(ERROR_PATH_NOT_FOUND);
    return true;
}

// The entry a name stands for, not following a last link (deleting or
// removing acts on the link); nothing, with the error set, when there is none.
std::optional<struct stat> entryOf(const std::optional<std::string>& native) {
    struct stat st;
    if (!native)
        return std::nullopt;
    if (lstat(native->c_str(), &st) != 0) {
        failFromErrno(*native);
        return std::nullopt;
    }
    return st;
}

// What a killed copy or commit left in the folder goes with the next change
// there, however that change is made.
void sweepFolderOf(const std::optional<std::string>& native) {
    if (!native)
        return;
    const size_t slash = native->rfind('/');
    if (slash != std::string::npos)
        renames::sweep(slash == 0 ? "/" : native->substr(0, slash));
}

BOOL deleteFile(const std::optional<std::string>& native) {
    sweepFolderOf(native);
    if (DWORD injected = native ? faults::next(faults::Kind::Delete) : 0)
        return failWith(injected);
    auto entry = entryOf(native);
    if (!entry)
        return FALSE;
    const struct stat& st = *entry;
    if (S_ISDIR(st.st_mode))
        return failWith(ERROR_ACCESS_DENIED);
    if (!S_ISLNK(st.st_mode) && isReadOnly(st))
        return failWith(ERROR_ACCESS_DENIED);
    if (!othersAllowDeleting(*native, st))
        return failWith(ERROR_SHARING_VIOLATION);
    if (unlink(native->c_str()) != 0)
        return failFromErrno(*native);
    return TRUE;
}

BOOL copyFile(const std::optional<std::string>& from, const std::optional<std::string>& to,
              BOOL failIfExists) {
    if (!from || !to)
        return FALSE;
    if (DWORD injected = faults::next(faults::Kind::Move))
        return failWith(injected);
    struct stat source;
    if (stat(from->c_str(), &source) != 0)
        return failFromErrno(*from);
    if (S_ISDIR(source.st_mode))
        return failWith(ERROR_ACCESS_DENIED);
    if (!shareAllows(*from, source, 0x0001, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE))
        return failWith(ERROR_SHARING_VIOLATION);
    struct stat target;
    if (stat(to->c_str(), &target) == 0) {
        if (failIfExists)
            return failWith(ERROR_FILE_EXISTS);
        // Copying a file onto itself is a sharing violation on Windows (the
        // source is open); it must never truncate the only copy.
        if (target.st_dev == source.st_dev && target.st_ino == source.st_ino)
            return failWith(ERROR_SHARING_VIOLATION);
        // Windows will not overwrite a read-only or hidden file by copying.
        if (S_ISDIR(target.st_mode) || isReadOnly(target) ||
            (attributesOf(*to, target) & FILE_ATTRIBUTE_HIDDEN))
            return failWith(ERROR_ACCESS_DENIED);
        // The copy is renamed over the target: handles on it must allow deletion.
        if (!othersAllowDeleting(*to, target))
            return failWith(ERROR_SHARING_VIOLATION);
    } else if (!targetIsFree(*to)) {
        return FALSE;
    }
    return copyFileAtomically(*from, *to, failIfExists);
}

// The last name of a Windows path as written (trailing dots and spaces dropped).
std::string requestedName(std::u16string_view path) {
    size_t slash = path.find_last_of(u"\\/");
    std::u16string_view name = slash == std::u16string_view::npos ? path : path.substr(slash + 1);
    while (!name.empty() && (name.back() == u'.' || name.back() == u' '))
        name.remove_suffix(1);
    return winsys::text::toUtf8(name);
}

BOOL moveFile(const std::optional<std::string>& from, const std::optional<std::string>& to,
              DWORD flags, std::u16string_view requestedTo) {
    if (!from || !to)
        return FALSE;
    sweepFolderOf(to);
    if (flags & ~static_cast<DWORD>(MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED |
                                    MOVEFILE_WRITE_THROUGH))
        return failWith(ERROR_INVALID_PARAMETER);
    if (DWORD injected = faults::next(faults::Kind::Move))
        return failWith(injected);
    struct stat source;
    if (lstat(from->c_str(), &source) != 0)
        return failFromErrno(*from);
    if (!othersAllowDeleting(*from, source))
        return failWith(ERROR_SHARING_VIOLATION);
    const bool replace = flags & MOVEFILE_REPLACE_EXISTING;
    struct stat target;
    if (lstat(to->c_str(), &target) == 0) {
        bool sameFile = target.st_dev == source.st_dev && target.st_ino == source.st_ino;
        if (sameFile && *from == *to) {
            // The name resolved to the file itself, ignoring case: a rename
            // to a new spelling, as Windows does it.
            std::string name = requestedName(requestedTo);
            size_t slash = to->rfind('/');
            if (name.empty() || to->compare(slash + 1, std::string::npos, name) == 0)
                return TRUE;
            if (rename(from->c_str(), (to->substr(0, slash + 1) + name).c_str()) != 0)
                return failFromErrno(*to);
            return TRUE;
        }
        // A new spelling of the same name (case only) is a rename, not a clash.
        if (!sameFile || !winsys::text::equalsIgnoreCase(*from, *to)) {
            if (!replace)
                return failWith(ERROR_ALREADY_EXISTS);
            if (S_ISDIR(target.st_mode) || S_ISDIR(source.st_mode) || isReadOnly(target))
                return failWith(ERROR_ACCESS_DENIED);
            // Renaming over a file that is open is refused as access denied,
            // not as a sharing violation (the target is not being opened).
            if (!othersAllowDeleting(*to, target))
                return failWith(ERROR_ACCESS_DENIED);
        }
    } else if (!targetIsFree(*to)) {
        return FALSE;
    }

    int moved = replace
                    ? rename(from->c_str(), to->c_str())
                    : renameat2(AT_FDCWD, from->c_str(), AT_FDCWD, to->c_str(), RENAME_NOREPLACE);
    if (moved != 0 && !replace && (errno == EINVAL || errno == ENOSYS)) {
        struct stat again;
        if (lstat(to->c_str(), &again) == 0 &&
            !(again.st_dev == source.st_dev && again.st_ino == source.st_ino))
            return failWith(ERROR_ALREADY_EXISTS);
        moved = rename(from->c_str(), to->c_str());
    }
    if (moved == 0)
        return TRUE;
    if (errno == EEXIST)
        return failWith(ERROR_ALREADY_EXISTS);
    if (errno != EXDEV)
        return failFromErrno(*to);

    // Another file system: copy, then remove the original.
    if (!(flags & MOVEFILE_COPY_ALLOWED) || S_ISDIR(source.st_mode))
        return failWith(ERROR_NOT_SAME_DEVICE);
    if (!copyFileAtomically(*from, *to, !replace)) {
        if (GetLastError() == ERROR_FILE_EXISTS)
            SetLastError(ERROR_ALREADY_EXISTS);
        return FALSE;
    }
    if (unlink(from->c_str()) != 0)
        return failFromErrno(*from);
    return TRUE;
}

BOOL createDirectory(LPCWSTR name, const std::optional<std::string>& native) {
    if (!native)
        return FALSE;
    if (winsys::text::wideLength(name) >= directoryNameLimit)
        return failWith(ERROR_FILENAME_EXCED_RANGE);
    if (DWORD injected = faults::next(faults::Kind::Open))
        return failWith(injected);
    if (mkdir(native->c_str(), 0777) != 0) {
        if (errno == EEXIST)
            return failWith(ERROR_ALREADY_EXISTS);
        DWORD code = errorFromErrno(errno, *native);
        return failWith(code == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : code);
    }
    return TRUE;
}

BOOL removeDirectory(const std::optional<std::string>& native) {
    if (DWORD injected = native ? faults::next(faults::Kind::Delete) : 0)
        return failWith(injected);
    auto entry = entryOf(native);
    if (!entry)
        return FALSE;
    if (!S_ISDIR(entry->st_mode))
        return failWith(ERROR_DIRECTORY);
    if (rmdir(native->c_str()) != 0) {
        if (errno == EEXIST)
            return failWith(ERROR_DIR_NOT_EMPTY);
        return failFromErrno(*native);
    }
    return TRUE;
}

}  // namespace

extern "C" {

WINSYS_EXPORT DWORD WINAPI GetFileAttributesW(LPCWSTR name) {
    return getAttributes(nativePathW(name));
}
WINSYS_EXPORT DWORD WINAPI GetFileAttributesA(LPCSTR name) {
    return getAttributes(nativePathA(name));
}
WINSYS_EXPORT BOOL WINAPI SetFileAttributesW(LPCWSTR name, DWORD attributes) {
    return setAttributes(nativePathW(name), attributes);
}
WINSYS_EXPORT BOOL WINAPI SetFileAttributesA(LPCSTR name, DWORD attributes) {
    return setAttributes(nativePathA(name), attributes);
}
WINSYS_EXPORT BOOL WINAPI DeleteFileW(LPCWSTR name) {
    return deleteFile(nativePathW(name));
}
WINSYS_EXPORT BOOL WINAPI DeleteFileA(LPCSTR name) {
    return deleteFile(nativePathA(name));
}

WINSYS_EXPORT BOOL WINAPI CopyFileW(LPCWSTR from, LPCWSTR to, BOOL failIfExists) {
    auto source = nativePathW(from);
    if (!source)
        return FALSE;
    return copyFile(source, nativePathW(to), failIfExists);
}
WINSYS_EXPORT BOOL WINAPI CopyFileA(LPCSTR from, LPCSTR to, BOOL failIfExists) {
    auto source = nativePathA(from);
    if (!source)
        return FALSE;
    return copyFile(source, nativePathA(to), failIfExists);
}

WINSYS_EXPORT BOOL WINAPI MoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags) {
    if (!to)
        return failWith(ERROR_INVALID_PARAMETER);  // delayed deletion needs a reboot we never have
    auto source = nativePathW(from);
    if (!source)
        return FALSE;
    return moveFile(source, nativePathW(to), flags, to);
}
WINSYS_EXPORT BOOL WINAPI MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags) {
    if (!to)
        return failWith(ERROR_INVALID_PARAMETER);
    auto source = nativePathA(from);
    if (!source)
        return FALSE;
    return moveFile(source, nativePathA(to), flags, winsys::text::toUtf16(to));
}
WINSYS_EXPORT BOOL WINAPI MoveFileW(LPCWSTR from, LPCWSTR to) {
    return MoveFileExW(from, to, MOVEFILE_COPY_ALLOWED);
}
WINSYS_EXPORT BOOL WINAPI MoveFileA(LPCSTR from, LPCSTR to) {
    return MoveFileExA(from, to, MOVEFILE_COPY_ALLOWED);
}

WINSYS_EXPORT BOOL WINAPI CreateDirectoryW(LPCWSTR name, LPSECURITY_ATTRIBUTES) {
    return createDirectory(name, nativePathW(name));
}
WINSYS_EXPORT BOOL WINAPI CreateDirectoryA(LPCSTR name, LPSECURITY_ATTRIBUTES) {
    if (!name)
        return failWith(ERROR_PATH_NOT_FOUND);
    std::u16string wide = winsys::text::toUtf16(name);
    return createDirectory(wide.c_str(), nativePathW(wide.c_str()));
}
WINSYS_EXPORT BOOL WINAPI RemoveDirectoryW(LPCWSTR name) {
    return removeDirectory(nativePathW(name));
}
WINSYS_EXPORT BOOL WINAPI RemoveDirectoryA(LPCSTR name) {
    return removeDirectory(nativePathA(name));
}
}
