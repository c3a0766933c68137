// Path names: the temporary directory, unique temporary files, and the
// short, long and full forms of a path. No 8.3 names are kept, so the short
// and long forms of an existing path are the path as given.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "faults/faults.h"
#include "kernel/file_support.h"
#include "kernel/text.h"
#include "paths/paths.h"

namespace {

using namespace winsys::kernel;
namespace text = winsys::text;

std::u16string tempDirectory() {
    const char* tmp = getenv("TMPDIR");
    std::u16string path = winsys::paths::toWindows(tmp && *tmp ? tmp : "/tmp");
    if (path.back() != u'\\')
        path += u'\\';
    return path;
}

// Copies with Windows' convention: the length on success, the size needed
// (terminator included) when the buffer is too small.
template <class Char>
DWORD copyResult(const std::basic_string<Char>& text, Char* buffer, DWORD size) {
    if (!buffer || size <= text.size())
        return static_cast<DWORD>(text.size() + 1);
    text.copy(buffer, text.size());
    buffer[text.size()] = 0;
    return static_cast<DWORD>(text.size());
}

UINT tempFileName(LPCWSTR directory, LPCWSTR prefix, UINT unique, std::u16string* result) {
    if (!directory) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::u16string base(directory);
    if (base.empty() || (base.back() != u'\\' && base.back() != u'/'))
        base += u'\\';
    std::u16string start = base;
    for (int i = 0; prefix && prefix[i] && i < 3; ++i)
        start += prefix[i];
    // The name must fit MAX_PATH with four hex digits and ".tmp".
    if (start.size() + 8 >= MAX_PATH) {
        SetLastError(ERROR_BUFFER_OVERFLOW);
        return 0;
    }
    auto nameFor = [&](UINT number) {
        char16_t hex[8];
        int n = 0;
        char digits[8];
        snprintf(digits, sizeof digits, "%X", number);
        for (; digits[n]; ++n)
            hex[n] = static_cast<char16_t>(digits[n]);
        return start + std::u16string(hex, static_cast<size_t>(n)) + u".tmp";
    };
    if (unique) {
        // A caller-chosen number: the name only, nothing is created.
        unique &= 0xFFFF;
        *result = nameFor(unique);
        return unique;
    }
    unsigned error = 0;
    auto nativeDirectory = winsys::paths::toNative(base, &error);
    struct stat st;
    if (!nativeDirectory || stat(nativeDirectory->c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        SetLastError(ERROR_DIRECTORY);
        return 0;
    }
    UINT first = (GetTickCount() ^ static_cast<UINT>(getpid())) & 0xFFFF;
    if (!first)
        first = 1;
    UINT number = first;
    do {
        std::u16string name = nameFor(number);
        auto native = winsys::paths::toNative(name, &error);
        if (!native) {
            SetLastError(error);
            return 0;
        }
        int fd = open(native->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            close(fd);
            *result = name;
            return number;
        }
        if (errno != EEXIST) {
            SetLastError(errorFromErrno(errno, *native));
            return 0;
        }
        number = number == 0xFFFF ? 1 : number + 1;
    } while (number != first);
    SetLastError(ERROR_FILE_EXISTS);
    return 0;
}

// Whether a path exists, for the short and long forms. A missing one fails
// with ERROR_FILE_NOT_FOUND whichever of its names is missing, an empty one
// with `emptyError` (they differ between the two calls).
bool existingPath(LPCWSTR path, DWORD emptyError) {
    if (!path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (!*path) {
        SetLastError(emptyError);
        return false;
    }
    auto native = nativePathW(path);
    if (!native)
        return false;
    struct stat st;
    if (stat(native->c_str(), &st) != 0 && lstat(native->c_str(), &st) != 0) {
        DWORD code = errorFromErrno(errno, *native);
        SetLastError(code == ERROR_PATH_NOT_FOUND ? ERROR_FILE_NOT_FOUND : code);
        return false;
    }
    return true;
}

}  // namespace

extern "C" {

WINSYS_EXPORT DWORD WINAPI GetTempPathW(DWORD size, LPWSTR buffer) {
    return copyResult(tempDirectory(), buffer, size);
}

WINSYS_EXPORT DWORD WINAPI GetTempPathA(DWORD size, LPSTR buffer) {
    return copyResult(text::toUtf8(tempDirectory()), buffer, size);
}

WINSYS_EXPORT UINT WINAPI GetTempFileNameW(LPCWSTR directory, LPCWSTR prefix, UINT unique,
                                           LPWSTR buffer) {
    if (!buffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (DWORD injected = winsys::faults::next(winsys::faults::Kind::TempName)) {
        SetLastError(injected);
        return 0;
    }
    std::u16string name;
    UINT number = tempFileName(directory, prefix, unique, &name);
    if (number) {
        name.copy(buffer, name.size());
        buffer[name.size()] = 0;
    }
    return number;
}

WINSYS_EXPORT UINT WINAPI GetTempFileNameA(LPCSTR directory, LPCSTR prefix, UINT unique,
                                           LPSTR buffer) {
    if (!buffer || !directory) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (DWORD injected = winsys::faults::next(winsys::faults::Kind::TempName)) {
        SetLastError(injected);
        return 0;
    }
    std::u16string wideDirectory = text::toUtf16(directory);
    std::u16string widePrefix = prefix ? text::toUtf16(prefix) : u"";
    std::u16string name;
    UINT number = tempFileName(wideDirectory.c_str(), widePrefix.c_str(), unique, &name);
    if (number) {
        std::string narrow = text::toUtf8(name);
        if (narrow.size() >= MAX_PATH) {
            SetLastError(ERROR_BUFFER_OVERFLOW);
            return 0;
        }
        narrow.copy(buffer, narrow.size());
        buffer[narrow.size()] = 0;
    }
    return number;
}

WINSYS_EXPORT DWORD WINAPI GetShortPathNameW(LPCWSTR longPath, LPWSTR shortPath, DWORD size) {
    if (!existingPath(longPath, ERROR_BAD_PATHNAME))
        return 0;
    std::u16string path(longPath);  // copied first: the buffers may be one
    return copyResult(path, shortPath, size);
}

WINSYS_EXPORT DWORD WINAPI GetShortPathNameA(LPCSTR longPath, LPSTR shortPath, DWORD size) {
    if (!longPath) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string path(longPath);
    std::u16string wide = text::toUtf16(path);
    if (!existingPath(wide.c_str(), ERROR_BAD_PATHNAME))
        return 0;
    return copyResult(path, shortPath, size);
}

WINSYS_EXPORT DWORD WINAPI GetLongPathNameW(LPCWSTR shortPath, LPWSTR longPath, DWORD size) {
    if (!existingPath(shortPath, ERROR_PATH_NOT_FOUND))
        return 0;
    std::u16string path(shortPath);
    return copyResult(path, longPath, size);
}

WINSYS_EXPORT DWORD WINAPI GetFullPathNameW(LPCWSTR name, DWORD size, LPWSTR buffer,
                                            LPWSTR* filePart) {
    if (filePart)
        *filePart = nullptr;
    if (!name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (!*name) {
        SetLastError(ERROR_INVALID_NAME);
        return 0;
    }
    unsigned error = 0;
    auto full = winsys::paths::fullPath(name, &error);
    if (!full) {
        SetLastError(error);
        return 0;
    }
    DWORD result = copyResult(*full, buffer, size);
    if (result < size && filePart && full->back() != u'\\')
        *filePart = buffer + full->rfind(u'\\') + 1;
    return result;
}

WINSYS_EXPORT DWORD WINAPI GetLongPathNameA(LPCSTR shortPath, LPSTR longPath, DWORD size) {
    if (!shortPath) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string path(shortPath);
    std::u16string wide = text::toUtf16(path);
    if (!existingPath(wide.c_str(), ERROR_PATH_NOT_FOUND))
        return 0;
    return copyResult(path, longPath, size);
}

WINSYS_EXPORT DWORD WINAPI GetFullPathNameA(LPCSTR name, DWORD size, LPSTR buffer,
                                            LPSTR* filePart) {
    if (filePart)
        *filePart = nullptr;
    if (!name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::u16string wide = text::toUtf16(name);
    WCHAR full[MAX_PATH];
    DWORD length = GetFullPathNameW(wide.c_str(), MAX_PATH, full, nullptr);
    if (length == 0 || length >= MAX_PATH)
        return 0;
    std::string narrow = text::toUtf8(std::u16string_view(full, length));
    DWORD result = copyResult(narrow, buffer, size);
    if (result < size && filePart && narrow.back() != '\\')
        *filePart = buffer + narrow.rfind('\\') + 1;
    return result;
}
}
