// The Windows and system directories of the prefix.
#include <windows.h>

#include <string>

#include "kernel/text.h"

namespace {

template <class Char>
UINT copyDirectory(std::u16string_view wide, Char* buffer, UINT size) {
    std::basic_string<Char> text;
    if constexpr (sizeof(Char) == 1)
        text = winsys::text::toUtf8(wide);
    else
        text = std::u16string(wide);
    // Too small: the size needed, terminator included.
    if (!buffer || size <= text.size())
        return static_cast<UINT>(text.size() + 1);
    text.copy(buffer, text.size());
    buffer[text.size()] = 0;
    return static_cast<UINT>(text.size());
}

constexpr std::u16string_view windowsDirectory = u"C:\\windows";
constexpr std::u16string_view systemDirectory = u"C:\\windows\\system32";

}  // namespace

extern "C" {

WINSYS_EXPORT UINT WINAPI GetWindowsDirectoryW(LPWSTR buffer, UINT size) {
    return copyDirectory(windowsDirectory, buffer, size);
}
WINSYS_EXPORT UINT WINAPI GetWindowsDirectoryA(LPSTR buffer, UINT size) {
    return copyDirectory(windowsDirectory, buffer, size);
}
WINSYS_EXPORT UINT WINAPI GetSystemDirectoryW(LPWSTR buffer, UINT size) {
    return copyDirectory(systemDirectory, buffer, size);
}
WINSYS_EXPORT UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size) {
    return copyDirectory(systemDirectory, buffer, size);
}
}
