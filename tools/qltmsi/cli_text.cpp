// UTF-8/UTF-16 through the code-page calls, and typed paths in Windows form.
#include "cli_text.h"

#include <windows.h>

#include "winsys/paths/paths.h"

namespace qltmsi {

std::u16string toWide(std::string_view utf8) {
    if (utf8.empty())
        return {};
    int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::u16string wide(length, u'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), wide.data(), length);
    return wide;
}

std::string toUtf8(std::u16string_view wide) {
    if (wide.empty())
        return {};
    int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr,
                                     nullptr);
    std::string narrow(length, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), narrow.data(), length, nullptr,
                        nullptr);
    return narrow;
}

std::u16string windowsPathOf(std::string_view typed) {
    bool drivePath = typed.size() >= 2 && typed[1] == ':' &&
                     ((typed[0] >= 'A' && typed[0] <= 'Z') || (typed[0] >= 'a' && typed[0] <= 'z'));
    if (drivePath || typed.find('\\') != std::string_view::npos)
        return toWide(typed);
    // Under the prefix's drive_c a native path reads as C:\..., so paths
    // the user copies from the prefix match what the installer registered.
    return winsys::paths::toWindows(typed);
}

std::u16string fileNameOf(std::u16string_view path) {
    size_t slash = path.find_last_of(u"\\/");
    return std::u16string(slash == std::u16string_view::npos ? path : path.substr(slash + 1));
}

std::u16string folderOf(std::u16string_view path) {
    size_t slash = path.find_last_of(u"\\/");
    return slash == std::u16string_view::npos ? std::u16string()
                                              : std::u16string(path.substr(0, slash + 1));
}

}  // namespace qltmsi
