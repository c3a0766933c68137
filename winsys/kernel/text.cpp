// UTF-8 <-> UTF-16 for winsys internals and for the code-page calls built on
// them. Malformed input never stops a lenient conversion: bad sequences and
// lone surrogates become U+FFFD, as the system's own conversions do.
#include "text.h"

namespace winsys::text {

namespace {

constexpr char32_t replacement = 0xFFFD;

}  // namespace

bool decodeUtf8(std::string_view s, size_t& at, char32_t& codePoint) {
    const auto lead = static_cast<unsigned char>(s[at++]);
    if (lead < 0x80) {
        codePoint = lead;
        return true;
    }
    // The second byte's range is what rules out overlongs (E0, F0),
    // surrogates (ED) and values above U+10FFFF (F4).
    size_t extra;
    unsigned char low = 0x80, high = 0xBF;
    char32_t cp;
    if (lead >= 0xC2 && lead <= 0xDF) {
        extra = 1, cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        extra = 2, cp = lead & 0x0F;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        extra = 3, cp = lead & 0x07;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        codePoint = replacement;
        return false;
    }
    for (; extra > 0; --extra, low = 0x80, high = 0xBF) {
        if (at >= s.size() || static_cast<unsigned char>(s[at]) < low ||
            static_cast<unsigned char>(s[at]) > high) {
            codePoint = replacement;
            return false;
        }
        cp = (cp << 6) | (static_cast<unsigned char>(s[at++]) & 0x3F);
    }
    codePoint = cp;
    return true;
}

std::string toUtf8(std::u16string_view wide) {
    std::string out;
    out.reserve(wide.size());
    for (size_t i = 0; i < wide.size(); ++i) {
        char32_t cp = wide[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
            wide[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = replacement;
        }
        appendUtf8(out, cp);
    }
    return out;
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void appendUtf16(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out += static_cast<char16_t>(cp);
    } else {
        cp -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (cp >> 10));
        out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    }
}

bool isValidUtf8(std::string_view narrow) {
    char32_t cp;
    for (size_t i = 0; i < narrow.size();)
        if (!decodeUtf8(narrow, i, cp))
            return false;
    return true;
}

std::u16string toUtf16(std::string_view narrow) {
    std::u16string out;
    out.reserve(narrow.size());
    char32_t cp;
    for (size_t i = 0; i < narrow.size();) {
        decodeUtf8(narrow, i, cp);
        appendUtf16(out, cp);
    }
    return out;
}

size_t wideLength(const char16_t* s) {
    if (!s)
        return 0;
    size_t n = 0;
    while (s[n])
        ++n;
    return n;
}

bool equalsIgnoreAsciiCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x += 32;
        if (y >= 'A' && y <= 'Z')
            y += 32;
        if (x != y)
            return false;
    }
    return true;
}

char16_t foldCase(char16_t c) {
    if (c < 0x80)
        return (c >= 'A' && c <= 'Z') ? c + 32 : c;
    // Latin-1, Greek and Cyrillic capitals: the letters names in those
    // scripts use; Windows' own table covers more, these cover the files we meet.
    if ((c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x391 && c <= 0x3AB && c != 0x3A2) ||
        (c >= 0x410 && c <= 0x42F))
        return c + 32;
    if (c >= 0x400 && c <= 0x40F)
        return c + 80;
    if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 &&
        c != 0x17F) {
        // Latin Extended-A pairs capitals with the next code point, except
        // in the 0x139-0x148 and 0x179-0x17E runs where the capital is odd.
        bool oddCapitals = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        if (oddCapitals ? (c & 1) : !(c & 1))
            return c + 1;
    }
    return c;
}

bool equalsIgnoreCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (foldCase(a[i]) != foldCase(b[i]))
            return false;
    return true;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    if (a == b)
        return true;
    return equalsIgnoreCase(toUtf16(a), toUtf16(b));
}

}  // namespace winsys::text
