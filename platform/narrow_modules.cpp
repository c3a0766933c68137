// Narrow fallbacks for module paths, version resources, string resources and
// the Windows directory.
#include "platform/narrow_fallbacks.h"
#include "platform/narrow_text.h"

#include <algorithm>

DWORD WINAPI NarrowModuleFileName(HMODULE module, LPWSTR buffer, DWORD size) {
    // The narrow path goes into a buffer of a full path; never ask for more
    // than that buffer or the caller's can hold.
    const DWORD capacity = std::min<DWORD>(size, MAX_PATH + 1);
    std::vector<char> narrow = NarrowResultBuffer(MAX_PATH + 1);
    const DWORD result = GetModuleFileNameA(module, narrow.data(), capacity);
    if (result > 0) {
        WidenInto(narrow.data(), buffer, capacity, MB_PRECOMPOSED);
    }
    return result;
}

BOOL WINAPI NarrowFileVersionInfo(LPCWSTR name, DWORD handle, DWORD size, LPVOID data) {
    NarrowArgument path(name);
    if (!path.fits()) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }
    return GetFileVersionInfoA(path.get(), handle, size, data);
}

BOOL WINAPI NarrowVerQueryValue(LPCVOID block, LPCWSTR subBlock, LPVOID* buffer, PUINT length) {
    NarrowArgument narrowSubBlock(subBlock);
    if (!narrowSubBlock.fits()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return VerQueryValueA(block, narrowSubBlock.get(), buffer, length);
}

DWORD WINAPI NarrowFileVersionInfoSize(LPCWSTR name, LPDWORD handle) {
    NarrowArgument path(name);
    if (!path.fits()) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    return GetFileVersionInfoSizeA(path.get(), handle);
}

UINT WINAPI NarrowWindowsDirectory(LPWSTR buffer, UINT size) {
    const UINT capacity = std::min<UINT>(size, kMaxNarrowResultBytes);
    std::vector<char> narrow = NarrowResultBuffer(capacity);
    const UINT result = GetWindowsDirectoryA(buffer ? narrow.data() : nullptr, capacity);
    if (result > 0 && result < capacity) {
        WidenInto(narrow.data(), buffer, capacity, MB_PRECOMPOSED);
    }
    return result;
}

int WINAPI NarrowLoadString(HINSTANCE instance, UINT id, LPWSTR buffer, int size) {
    // A size of 0 asks the wide call for a pointer into the resource itself,
    // which narrow text cannot give.
    if (buffer == nullptr || size <= 0) {
        return 0;
    }
    const int capacity = std::min<int>(size, static_cast<int>(kMaxNarrowResultBytes));
    std::vector<char> narrow = NarrowResultBuffer(static_cast<size_t>(capacity));
    const int result = LoadStringA(instance, id, narrow.data(), capacity);
    if (result > 0) {
        WidenInto(narrow.data(), buffer, static_cast<size_t>(capacity), MB_PRECOMPOSED);
    }
    return result;
}
