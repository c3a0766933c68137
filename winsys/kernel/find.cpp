// Directory searches: FindFirstFile/FindNextFile/FindClose with Windows'
// wildcards, matched ignoring case. Entries come sorted by name ignoring
// case (as NTFS lists them), "." and ".." first in any directory but a
// drive's root. No 8.3 names exist, so cAlternateFileName stays empty.
#include <dirent.h>
#include <sys/stat.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "kernel/file_support.h"
#include "kernel/handles.h"
#include "kernel/text.h"
#include "paths/paths.h"

namespace {

using namespace winsys::kernel;
namespace text = winsys::text;

struct FoundEntry {
    std::u16string name;
    DWORD attributes;
    FILETIME creation, access, write;
    unsigned long long size;
};

struct SearchObject : KernelObject {
    std::vector<FoundEntry> entries;
    size_t next = 0;
    bool closableByCloseHandle() const override { return false; }
};

bool matches(std::u16string_view pattern, std::u16string_view name) {
    // Iterative '*' / '?' matching with backtracking to the last star.
    size_t p = 0, n = 0, star = std::u16string_view::npos, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() &&
            (pattern[p] == u'?' || text::foldCase(pattern[p]) == text::foldCase(name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == u'*') {
            star = p++;
            resume = n;
        } else if (star != std::u16string_view::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*')
        ++p;
    return p == pattern.size();
}

// Windows' readings of the DOS forms: "*.*" is everything, "name.*" also
// matches "name", and a pattern ending in '.' matches names without a dot.
bool windowsMatches(std::u16string_view pattern, std::u16string_view name) {
    if (pattern == u"*.*" || pattern == u"*")
        return true;
    if (matches(pattern, name))
        return true;
    if (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == u".*" &&
        matches(pattern.substr(0, pattern.size() - 2), name))
        return true;
    if (!pattern.empty() && pattern.back() == u'.' && name.find(u'.') == std::u16string_view::npos)
        return matches(pattern.substr(0, pattern.size() - 1), name);
    return false;
}

FoundEntry describe(const std::string& native, std::u16string name) {
    FoundEntry entry{std::move(name), FILE_ATTRIBUTE_NORMAL, {}, {}, {}, 0};
    struct stat st;
    if (stat(native.c_str(), &st) != 0 && lstat(native.c_str(), &st) != 0)
        return entry;
    entry.attributes = attributesOf(native, st);
    entry.creation = creationTimeOf(native, -1, st);
    entry.access = toFileTime(st.st_atim);
    entry.write = toFileTime(st.st_mtim);
    entry.size = S_ISDIR(st.st_mode) ? 0 : static_cast<unsigned long long>(st.st_size);
    return entry;
}

HANDLE failHandle(DWORD code) {
    SetLastError(code);
    return INVALID_HANDLE_VALUE;
}

const std::u16string& nameFor(const FoundEntry& entry, WIN32_FIND_DATAW*) {
    return entry.name;
}
std::string nameFor(const FoundEntry& entry, WIN32_FIND_DATAA*) {
    return text::toUtf8(entry.name);
}

template <class Data>
bool fill(const FoundEntry& entry, Data* data) {
    const auto& name = nameFor(entry, data);
    if (name.size() >= MAX_PATH)
        return false;
    *data = Data{};
    data->dwFileAttributes = entry.attributes;
    data->ftCreationTime = entry.creation;
    data->ftLastAccessTime = entry.access;
    data->ftLastWriteTime = entry.write;
    data->nFileSizeHigh = static_cast<DWORD>(entry.size >> 32);
    data->nFileSizeLow = static_cast<DWORD>(entry.size);
    name.copy(data->cFileName, name.size());
    return true;
}

template <class Data>
bool nextEntry(SearchObject& search, Data* data) {
    while (search.next < search.entries.size())
        if (fill(search.entries[search.next++], data))
            return true;  // names too long for the record are skipped
    return false;
}

template <class Data>
HANDLE findFirst(LPCWSTR pattern, Data* data) {
    if (!pattern)
        return failHandle(ERROR_PATH_NOT_FOUND);
    if (!data)
        return failHandle(ERROR_INVALID_PARAMETER);
    std::u16string_view whole(pattern);
    if (whole.empty())
        return failHandle(ERROR_PATH_NOT_FOUND);
    size_t split = whole.find_last_of(u"\\/");
    std::u16string directory, filePattern;
    if (split == std::u16string_view::npos) {
        if (whole.size() >= 2 && whole[1] == u':') {
            directory = std::u16string(whole.substr(0, 2)) + u"\\";
            filePattern = whole.substr(2);
        } else {
            directory = u".";
            filePattern = whole;
        }
    } else {
        directory = whole.substr(0, split + 1);
        filePattern = whole.substr(split + 1);
    }
    if (whole.size() >= MAX_PATH)
        return failHandle(ERROR_FILENAME_EXCED_RANGE);
    if (filePattern.empty())
        return failHandle(ERROR_FILE_NOT_FOUND);
    unsigned error = 0;
    auto native = winsys::paths::toNative(directory, &error);
    if (!native)
        return failHandle(error);
    auto full = winsys::paths::fullPath(directory);
    bool driveRoot = full && full->size() == 3;

    DIR* dir = opendir(native->c_str());
    if (!dir) {
        DWORD code = errorFromErrno(errno, *native);
        return failHandle(
            code == ERROR_FILE_NOT_FOUND || code == ERROR_DIRECTORY ? ERROR_PATH_NOT_FOUND : code);
    }
    auto search = std::make_shared<SearchObject>();
    std::vector<FoundEntry> dots;
    while (const dirent* item = readdir(dir)) {
        std::string name = item->d_name;
        bool isDot = name == "." || name == "..";
        if (isDot && driveRoot)
            continue;
        std::u16string wide = text::toUtf16(name);
        if (!windowsMatches(filePattern, wide))
            continue;
        std::string path = *native == "/" ? "/" + name : *native + "/" + name;
        (isDot ? dots : search->entries).push_back(describe(path, std::move(wide)));
    }
    closedir(dir);
    auto byName = [](const FoundEntry& a, const FoundEntry& b) {
        return std::lexicographical_compare(
            a.name.begin(), a.name.end(), b.name.begin(), b.name.end(),
            [](char16_t x, char16_t y) { return text::foldCase(x) < text::foldCase(y); });
    };
    std::sort(dots.begin(), dots.end(), byName);
    std::sort(search->entries.begin(), search->entries.end(), byName);
    search->entries.insert(search->entries.begin(), dots.begin(), dots.end());
    if (!nextEntry(*search, data))
        return failHandle(ERROR_FILE_NOT_FOUND);
    return insertHandle(search);
}

template <class Data>
BOOL findNext(HANDLE handle, Data* data) {
    auto search = lookupHandleAs<SearchObject>(handle);
    if (!search)
        return failWith(ERROR_INVALID_HANDLE);
    if (!data)
        return failWith(ERROR_INVALID_PARAMETER);
    if (!nextEntry(*search, data))
        return failWith(ERROR_NO_MORE_FILES);
    return TRUE;
}

}  // namespace

extern "C" {

WINSYS_EXPORT HANDLE WINAPI FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data) {
    return findFirst(pattern, data);
}

WINSYS_EXPORT HANDLE WINAPI FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data) {
    if (!pattern)
        return failHandle(ERROR_PATH_NOT_FOUND);
    std::u16string wide = text::toUtf16(pattern);
    return findFirst(wide.c_str(), data);
}

WINSYS_EXPORT BOOL WINAPI FindNextFileW(HANDLE handle, LPWIN32_FIND_DATAW data) {
    return findNext(handle, data);
}
WINSYS_EXPORT BOOL WINAPI FindNextFileA(HANDLE handle, LPWIN32_FIND_DATAA data) {
    return findNext(handle, data);
}

WINSYS_EXPORT BOOL WINAPI FindClose(HANDLE handle) {
    if (!lookupHandleAs<SearchObject>(handle) || !removeHandle(handle))
        return failWith(ERROR_INVALID_HANDLE);
    return TRUE;
}
}
