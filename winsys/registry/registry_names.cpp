// Name folding and key-path splitting for the registry.
#include "registry/registry_names.h"

#include <windows.h>

#include "kernel/text.h"

namespace winsys::registry {

std::string foldName(std::u16string_view name) {
    std::u16string folded(name);
    for (char16_t& c : folded)
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    return text::toUtf8(folded);
}

bool splitKeyPath(std::u16string_view path, std::vector<std::u16string_view>& parts, long& error) {
    constexpr size_t kMaxKeyNameLength = 255;
    parts.clear();
    if (!path.empty() && path.front() == u'\\') {
        error = ERROR_BAD_PATHNAME;
        return false;
    }
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(u'\\', start);
        if (end == std::u16string_view::npos) end = path.size();
        std::u16string_view part = path.substr(start, end - start);
        if (part.size() > kMaxKeyNameLength) {
            error = ERROR_INVALID_PARAMETER;
            return false;
        }
        if (!part.empty()) parts.push_back(part);
        start = end + 1;
    }
    return true;
}

}  // namespace winsys::registry
