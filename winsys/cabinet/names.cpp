// Name text checks and conversion for cabinet entries.
#include "names.h"

namespace winsys::cabinet {

bool IsAscii(const char* text, size_t size) {
    for (size_t i = 0; i < size; ++i)
        if (static_cast<unsigned char>(text[i]) >= 0x80)
            return false;
    return true;
}

bool IsValidUtf8(const char* text, size_t size) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    size_t i = 0;
    while (i < size) {
        unsigned c = p[i];
        size_t extra;
        uint32_t cp;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (size - i <= extra)
            return false;
        for (size_t k = 1; k <= extra; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        static constexpr uint32_t kSmallest[4] = {0, 0x80, 0x800, 0x10000};
        if (cp < kSmallest[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}

bool Latin1ToUtf8(const char* text, size_t size, char* out, size_t outSize) {
    size_t o = 0;
    for (size_t i = 0; i < size; ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        size_t need = c < 0x80 ? 1 : 2;
        if (o + need >= outSize)
            return false;
        if (c < 0x80) {
            out[o++] = static_cast<char>(c);
        } else {
            out[o++] = static_cast<char>(0xC0 | (c >> 6));
            out[o++] = static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    if (o >= outSize)
        return false;
    out[o] = '\0';
    return true;
}

}  // namespace winsys::cabinet
