// Stream-name packing of Windows Installer packages.
#include "stream_name.h"

namespace winsys::msi {
namespace {

int symbolOf(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'A' && c <= u'Z') return c - u'A' + 10;
    if (c >= u'a' && c <= u'z') return c - u'a' + 36;
    if (c == u'.') return 62;
    if (c == u'_') return 63;
    return -1;
}

char16_t charOf(unsigned symbol) {
    if (symbol < 10) return char16_t(u'0' + symbol);
    if (symbol < 36) return char16_t(u'A' + symbol - 10);
    if (symbol < 62) return char16_t(u'a' + symbol - 36);
    return symbol == 62 ? u'.' : u'_';
}

}  // namespace

std::u16string encodeStreamName(std::u16string_view name, bool isTable) {
    std::u16string out;
    if (isTable) out.push_back(kTableMarker);
    for (size_t i = 0; i < name.size(); ++i) {
        int c = symbolOf(name[i]);
        if (c < 0) { out.push_back(name[i]); continue; }
        int d = i + 1 < name.size() ? symbolOf(name[i + 1]) : -1;
        if (d >= 0) {
            out.push_back(char16_t(0x3800 + c + (d << 6)));
            ++i;
        } else {
            out.push_back(char16_t(0x4800 + c));
        }
    }
    return out;
}

std::u16string decodeStreamName(std::u16string_view encoded, bool* isTable) {
    std::u16string out;
    bool table = false;
    for (size_t i = 0; i < encoded.size(); ++i) {
        char16_t u = encoded[i];
        if (u == kTableMarker && i == 0) { table = true; continue; }
        if (u >= 0x3800 && u < 0x4800) {
            unsigned v = u - 0x3800;
            out.push_back(charOf(v & 0x3F));
            out.push_back(charOf(v >> 6));
        } else if (u >= 0x4800 && u < 0x4840) {
            out.push_back(charOf(u - 0x4800));
        } else {
            out.push_back(u);
        }
    }
    if (isTable) *isTable = table;
    return out;
}

}  // namespace winsys::msi
