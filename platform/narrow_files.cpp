// Narrow fallbacks for the file and directory calls of the platform table.
#include "platform/narrow_fallbacks.h"
#include "platform/narrow_text.h"

#include <algorithm>

namespace {

// A file call whose name argument is too long to pass on fails as Windows
// fails an over-long name.
void RefuseLongName() {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
}

// The names are what callers read from a search; the rest is carried along.
void WidenFindData(const WIN32_FIND_DATAA& narrow, LPWIN32_FIND_DATAW wide) {
    if (wide == nullptr) {
        return;
    }
    wide->dwFileAttributes = narrow.dwFileAttributes;
    wide->ftCreationTime = narrow.ftCreationTime;
    wide->ftLastAccessTime = narrow.ftLastAccessTime;
    wide->ftLastWriteTime = narrow.ftLastWriteTime;
    wide->nFileSizeHigh = narrow.nFileSizeHigh;
    wide->nFileSizeLow = narrow.nFileSizeLow;
    wide->dwReserved0 = narrow.dwReserved0;
    wide->dwReserved1 = narrow.dwReserved1;
    WidenInto(narrow.cFileName, wide->cFileName, std::size(wide->cFileName), 0);
    WidenInto(narrow.cAlternateFileName, wide->cAlternateFileName,
              std::size(wide->cAlternateFileName), 0);
}

}  // namespace

DWORD WINAPI NarrowShortPathName(LPCWSTR longPath, LPWSTR shortPath, DWORD size) {
    NarrowArgument path(longPath);
    if (!path.fits()) {
        RefuseLongName();
        return 0;
    }
    const DWORD capacity = std::min(size, kMaxNarrowResultBytes);
    std::vector<char> narrow = NarrowResultBuffer(capacity + 1);
    const DWORD result =
        GetShortPathNameA(path.get(), shortPath ? narrow.data() : nullptr, capacity);
    if (result > 0 && result < capacity) {
        WidenInto(narrow.data(), shortPath, capacity, MB_PRECOMPOSED);
    }
    return result;
}

DWORD WINAPI NarrowTempPath(DWORD size, LPWSTR buffer) {
    const DWORD capacity = std::min(size, kMaxNarrowResultBytes);
    std::vector<char> narrow = NarrowResultBuffer(capacity + 1);
    const DWORD result = GetTempPathA(capacity, buffer ? narrow.data() : nullptr);
    if (result > 0 && result < capacity) {
        WidenInto(narrow.data(), buffer, capacity, MB_PRECOMPOSED);
    }
    return result;
}

UINT WINAPI NarrowTempFileName(LPCWSTR directory, LPCWSTR prefix, UINT unique, LPWSTR buffer) {
    NarrowArgument narrowDirectory(directory);
    NarrowArgument narrowPrefix(prefix);
    if (!narrowDirectory.fits() || !narrowPrefix.fits()) {
        RefuseLongName();
        return 0;
    }
    std::vector<char> narrow = NarrowResultBuffer(MAX_PATH + 1);
    const UINT result =
        GetTempFileNameA(narrowDirectory.get(), narrowPrefix.get(), unique, narrow.data());
    if (result != 0) {
        WidenInto(narrow.data(), buffer, MAX_PATH + 1, MB_PRECOMPOSED);
    }
    return result;
}

BOOL WINAPI NarrowDeleteFile(LPCWSTR name) {
    NarrowArgument path(name);
    if (!path.fits()) {
        RefuseLongName();
        return FALSE;
    }
    return DeleteFileA(path.get());
}

BOOL WINAPI NarrowCopyFile(LPCWSTR from, LPCWSTR to, BOOL failIfExists) {
    NarrowArgument source(from);
    NarrowArgument target(to);
    if (!source.fits() || !target.fits()) {
        RefuseLongName();
        return FALSE;
    }
    return CopyFileA(source.get(), target.get(), failIfExists);
}

BOOL WINAPI NarrowMoveFile(LPCWSTR from, LPCWSTR to) {
    NarrowArgument source(from);
    NarrowArgument target(to);
    if (!source.fits() || !target.fits()) {
        RefuseLongName();
        return FALSE;
    }
    return MoveFileA(source.get(), target.get());
}

BOOL WINAPI NarrowMoveFileEx(LPCWSTR from, LPCWSTR to, DWORD flags) {
    NarrowArgument source(from);
    NarrowArgument target(to);
    if (!source.fits() || !target.fits()) {
        RefuseLongName();
        return FALSE;
    }
    return MoveFileExA(source.get(), target.get(), flags);
}

DWORD WINAPI NarrowFileAttributes(LPCWSTR name) {
    NarrowArgument path(name);
    if (!path.fits()) {
        RefuseLongName();
        return INVALID_FILE_ATTRIBUTES;
    }
    return GetFileAttributesA(path.get());
}

BOOL WINAPI NarrowSetFileAttributes(LPCWSTR name, DWORD attributes) {
    NarrowArgument path(name);
    if (!path.fits()) {
        RefuseLongName();
        return FALSE;
    }
    return SetFileAttributesA(path.get(), attributes);
}

HANDLE WINAPI NarrowCreateFile(LPCWSTR name, DWORD access, DWORD share,
                               LPSECURITY_ATTRIBUTES security, DWORD creation, DWORD flags,
                               HANDLE templateFile) {
    NarrowArgument path(name);
    if (!path.fits()) {
        RefuseLongName();
        return INVALID_HANDLE_VALUE;
    }
    return CreateFileA(path.get(), access, share, security, creation, flags, templateFile);
}

BOOL WINAPI NarrowCreateDirectory(LPCWSTR name, LPSECURITY_ATTRIBUTES security) {
    NarrowArgument path(name);
    if (!path.fits()) {
        RefuseLongName();
        return FALSE;
    }
    return CreateDirectoryA(path.get(), security);
}

BOOL WINAPI NarrowRemoveDirectory(LPCWSTR name) {
    NarrowArgument path(name);
    if (!path.fits()) {
        RefuseLongName();
        return FALSE;
    }
    return RemoveDirectoryA(path.get());
}

HANDLE WINAPI NarrowFindFirstFile(LPCWSTR pattern, LPWIN32_FIND_DATAW data) {
    NarrowArgument narrowPattern(pattern);
    if (!narrowPattern.fits()) {
        RefuseLongName();
        return INVALID_HANDLE_VALUE;
    }
    WIN32_FIND_DATAA narrow{};
    const HANDLE find = FindFirstFileA(narrowPattern.get(), &narrow);
    if (find != INVALID_HANDLE_VALUE) {
        WidenFindData(narrow, data);
    }
    return find;
}

BOOL WINAPI NarrowFindNextFile(HANDLE find, LPWIN32_FIND_DATAW data) {
    WIN32_FIND_DATAA narrow{};
    const BOOL found = FindNextFileA(find, &narrow);
    if (found) {
        WidenFindData(narrow, data);
    }
    return found;
}
