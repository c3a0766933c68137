// UTF-8/UTF-16 through the code-page calls, and typed paths in Windows form.
#include "cli_text.h"

#include <windows.h>

#include "host/host.h"

namespace qltmsi {

WideString toWide(std::string_view utf8) {
    if (utf8.empty())
        return {};
    int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    WideString wide(length, TEXT('\0'));
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), wide.data(), length);
    return wide;
}

std::string toUtf8(WideView wide) {
    if (wide.empty())
        return {};
    int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr,
                                     nullptr);
    std::string narrow(length, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), narrow.data(), length, nullptr,
                        nullptr);
    return narrow;
}

WideString windowsPathOf(std::string_view typed) {
    bool drivePath = typed.size() >= 2 && typed[1] == ':' &&
                     ((typed[0] >= 'A' && typed[0] <= 'Z') || (typed[0] >= 'a' && typed[0] <= 'z'));
    return drivePath ? toWide(typed) : host::windowsPathOfTyped(typed);
}

WideString fileNameOf(WideView path) {
    size_t slash = path.find_last_of(TEXT("\\/"));
    return WideString(slash == WideView::npos ? path : path.substr(slash + 1));
}

WideString folderOf(WideView path) {
    size_t slash = path.find_last_of(TEXT("\\/"));
    return slash == WideView::npos ? WideString() : WideString(path.substr(0, slash + 1));
}

}  // namespace qltmsi
