// Paths and caller buffers for the Installer API.
#include "api_support.h"

#include "kernel/text.h"
#include "paths/paths.h"

namespace winsys::msi {

std::optional<std::string> nativePathOf(std::u16string_view path) {
    if (path.empty()) return std::nullopt;
    if (path[0] == u'/') return text::toUtf8(path);
    return paths::toNative(path);
}

std::optional<std::string> nativePathOfNarrow(const char* path) {
    if (!path) return std::nullopt;
    return nativePathOf(text::toUtf16(path));
}

std::u16string wideOf(const char* narrow) { return narrow ? text::toUtf16(narrow) : std::u16string(); }
std::u16string wideOf(const WCHAR* wide) { return wide ? std::u16string(wide) : std::u16string(); }

template <class Ch>
static UINT copyOutImpl(std::basic_string_view<Ch> text, Ch* buffer, DWORD* count) {
    if (!count) return buffer ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    DWORD capacity = *count;
    *count = DWORD(text.size());
    if (!buffer) return ERROR_SUCCESS;
    if (capacity > text.size()) {
        text.copy(buffer, text.size());
        buffer[text.size()] = 0;
        return ERROR_SUCCESS;
    }
    if (capacity > 0) {
        text.copy(buffer, capacity - 1);
        buffer[capacity - 1] = 0;
    }
    return ERROR_MORE_DATA;
}

UINT copyOut(std::u16string_view text, WCHAR* buffer, DWORD* count) { return copyOutImpl(text, buffer, count); }

UINT copyOut(std::u16string_view wide, char* buffer, DWORD* count) {
    std::string narrow = text::toUtf8(wide);
    return copyOutImpl(std::string_view(narrow), buffer, count);
}

}  // namespace winsys::msi
