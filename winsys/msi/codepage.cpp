// Single-byte code-page tables and UTF-8 for database text.
#include "codepage.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

namespace winsys::msi {
namespace {

#include "codepage_tables.inc"

const char16_t* highHalf(unsigned codepage) {
    switch (codepage) {
    case 874: return kCodepage874High;
    case 1250: return kCodepage1250High;
    case 1251: return kCodepage1251High;
    case 0:
    case 1252: return kCodepage1252High;
    case 1253: return kCodepage1253High;
    case 1254: return kCodepage1254High;
    case 1255: return kCodepage1255High;
    case 1256: return kCodepage1256High;
    case 1257: return kCodepage1257High;
    case 1258: return kCodepage1258High;
    default: return nullptr;
    }
}

// Windows maps the five holes of 1252 to the C1 controls of the same value;
// doing the same keeps every byte round-trippable.
char16_t singleByteChar(unsigned codepage, const char16_t* high, unsigned char b) {
    if (b < 0x80) return b;
    char16_t c = high[b - 0x80];
    if (c == 0xFFFD && (codepage == 1252 || codepage == 0)) return b;
    return c;
}

bool decodeUtf8(std::string_view in, std::u16string& out) {
    size_t i = 0;
    while (i < in.size()) {
        unsigned char c = in[i];
        uint32_t cp;
        size_t extra;
        if (c < 0x80) { cp = c; extra = 0; }
        else if ((c & 0xE0) == 0xC0) { cp = c & 0x1F; extra = 1; }
        else if ((c & 0xF0) == 0xE0) { cp = c & 0x0F; extra = 2; }
        else if ((c & 0xF8) == 0xF0) { cp = c & 0x07; extra = 3; }
        else return false;
        if (i + extra >= in.size()) return false;
        for (size_t k = 1; k <= extra; ++k) {
            unsigned char d = in[i + k];
            if ((d & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (d & 0x3F);
        }
        if ((extra == 1 && cp < 0x80) || (extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000) ||
            cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(char16_t(0xD800 + (cp >> 10)));
            out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(char16_t(cp));
        }
        i += extra + 1;
    }
    return true;
}

std::optional<std::string> encodeUtf8(std::u16string_view in) {
    std::string out;
    out.reserve(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        uint32_t cp = in[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (in[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            return std::nullopt;
        }
        if (cp < 0x80) out.push_back(char(cp));
        else if (cp < 0x800) { out.push_back(char(0xC0 | (cp >> 6))); out.push_back(char(0x80 | (cp & 0x3F))); }
        else if (cp < 0x10000) {
            out.push_back(char(0xE0 | (cp >> 12)));
            out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(char(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(char(0xF0 | (cp >> 18)));
            out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(char(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

}  // namespace

bool isAscii(std::string_view bytes) {
    size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
        uint64_t word;
        std::memcpy(&word, bytes.data() + i, 8);
        if (word & 0x8080808080808080ull) return false;
    }
    for (; i < bytes.size(); ++i)
        if ((unsigned char)bytes[i] >= 0x80) return false;
    return true;
}

void widenAscii(std::string_view bytes, char16_t* out) {
    static_assert(std::endian::native == std::endian::little, "the lanes below are little-endian");
    size_t i = 0;
    for (; i + 4 <= bytes.size(); i += 4) {
        uint32_t four;
        std::memcpy(&four, bytes.data() + i, 4);
        uint64_t lanes = four;  // each byte into a 16-bit lane
        lanes = (lanes | (lanes << 16)) & 0x0000FFFF0000FFFFull;
        lanes = (lanes | (lanes << 8)) & 0x00FF00FF00FF00FFull;
        std::memcpy(out + i, &lanes, 8);
    }
    for (; i < bytes.size(); ++i) out[i] = (unsigned char)bytes[i];
}

bool isSupportedCodepage(unsigned codepage) {
    return codepage == kCodepageUtf8 || highHalf(codepage) != nullptr;
}

std::u16string decodeCodepage(unsigned codepage, std::string_view bytes) {
    std::u16string out;
    appendDecoded(codepage, bytes, out);
    return out;
}

void appendDecoded(unsigned codepage, std::string_view bytes, std::u16string& out) {
    size_t start = out.size();
    // Every supported code page keeps ASCII as it is.
    if (isAscii(bytes)) {
        out.resize(start + bytes.size());
        widenAscii(bytes, out.data() + start);
        return;
    }
    out.reserve(start + bytes.size());
    if (codepage == kCodepageUtf8) {
        if (decodeUtf8(bytes, out)) return;
        out.resize(start);
        codepage = 1252;
    }
    const char16_t* high = highHalf(codepage);
    if (!high) high = kCodepage1252High;
    for (unsigned char b : bytes) out.push_back(singleByteChar(codepage, high, b));
}

bool appendEncoded(unsigned codepage, std::u16string_view text, std::string& out) {
    if (std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 0x80; })) {
        size_t start = out.size();
        out.resize(start + text.size());
        std::transform(text.begin(), text.end(), out.begin() + start, [](char16_t c) { return char(c); });
        return true;
    }
    auto bytes = encodeCodepage(codepage, text);
    if (!bytes) return false;
    out += *bytes;
    return true;
}

std::optional<std::string> encodeCodepage(unsigned codepage, std::u16string_view text) {
    if (codepage == kCodepageUtf8) return encodeUtf8(text);
    const char16_t* high = highHalf(codepage);
    if (!high) return std::nullopt;
    std::string out;
    out.reserve(text.size());
    for (char16_t c : text) {
        if (c < 0x80) { out.push_back(char(c)); continue; }
        int found = -1;
        for (int b = 0x80; b < 0x100; ++b) {
            if (singleByteChar(codepage, high, (unsigned char)b) == c) { found = b; break; }
        }
        if (found < 0) return std::nullopt;
        out.push_back(char(found));
    }
    return out;
}

}  // namespace winsys::msi
