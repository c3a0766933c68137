// Braced and packed GUID texts.
#include "installer/guid_text.h"

namespace winsys::installer {

namespace {

bool isHex(char16_t c) {
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

char16_t upper(char16_t c) {
    return (c >= u'a' && c <= u'z') ? char16_t(c - u'a' + u'A') : c;
}

// Positions, inside the braced text, of the 32 digits in reading order.
constexpr int kDigitAt[32] = {1,  2,  3,  4,  5,  6,  7,  8,  10, 11, 12, 13, 15, 16, 17, 18,
                              20, 21, 22, 23, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36};
// For each packed position, the reading-order digit it takes: groups of 8, 4
// and 4 reversed, then the 8 bytes with their nibbles swapped.
constexpr int kPackedFrom[32] = {7,  6,  5,  4,  3,  2,  1,  0,  11, 10, 9,  8,  15, 14, 13, 12,
                                 17, 16, 19, 18, 21, 20, 23, 22, 25, 24, 27, 26, 29, 28, 31, 30};

}  // namespace

bool isGuidText(std::u16string_view text) {
    if (text.size() != 38 || text.front() != u'{' || text.back() != u'}')
        return false;
    for (int i = 1; i < 37; ++i) {
        bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (dash ? text[i] != u'-' : !isHex(text[i]))
            return false;
    }
    return true;
}

std::optional<std::u16string> squishGuid(std::u16string_view text) {
    if (!isGuidText(text))
        return std::nullopt;
    std::u16string packed(32, u'0');
    for (int i = 0; i < 32; ++i)
        packed[i] = upper(text[kDigitAt[kPackedFrom[i]]]);
    return packed;
}

std::optional<std::u16string> unsquishGuid(std::u16string_view packed) {
    if (packed.size() != 32)
        return std::nullopt;
    for (char16_t c : packed)
        if (!isHex(c))
            return std::nullopt;
    std::u16string text = u"{00000000-0000-0000-0000-000000000000}";
    // Each packed digit goes back where it was taken from.
    for (int i = 0; i < 32; ++i)
        text[kDigitAt[kPackedFrom[i]]] = upper(packed[i]);
    return text;
}

}  // namespace winsys::installer
