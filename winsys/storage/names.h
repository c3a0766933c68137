// Entry-name rules of the compound file format.
#pragma once

#include <string_view>

namespace winsys::cfb {

// Simple upper-case mapping of one UTF-16 code unit.
char16_t upcase(char16_t c);

// 1 to 31 code units, none of them NUL, '/', '\\', ':' or '!'.
bool isValidName(std::u16string_view name);

struct NameLess {
    using is_transparent = void;
    bool operator()(std::u16string_view a, std::u16string_view b) const;
};

}  // namespace winsys::cfb
