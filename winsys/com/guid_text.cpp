// GUIDs as text: "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}", braces required,
// hexadecimal digits in either case. Windows would also try the text as a
// ProgID under HKEY_CLASSES_ROOT; this registry keeps no class registrations,
// so any other text is simply not a class string.
#include <objbase.h>

#include <cstring>
#include <initializer_list>

namespace {

constexpr size_t kGuidTextLength = 38;

int hexValue(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

// Reads count hex digits at text[at]; false on a non-digit.
bool readHex(const WCHAR* text, size_t at, size_t count, uint32_t& out) {
    out = 0;
    for (size_t i = 0; i < count; ++i) {
        int v = hexValue(text[at + i]);
        if (v < 0) return false;
        out = out << 4 | static_cast<uint32_t>(v);
    }
    return true;
}

bool parseGuid(const WCHAR* text, GUID& guid) {
    size_t length = 0;
    while (length <= kGuidTextLength && text[length]) ++length;
    if (length != kGuidTextLength || text[0] != u'{' || text[37] != u'}') return false;
    for (size_t dash : {9, 14, 19, 24})
        if (text[dash] != u'-') return false;
    uint32_t value;
    if (!readHex(text, 1, 8, value)) return false;
    guid.Data1 = value;
    if (!readHex(text, 10, 4, value)) return false;
    guid.Data2 = static_cast<uint16_t>(value);
    if (!readHex(text, 15, 4, value)) return false;
    guid.Data3 = static_cast<uint16_t>(value);
    const size_t byteAt[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (size_t i = 0; i < 8; ++i) {
        if (!readHex(text, byteAt[i], 2, value)) return false;
        guid.Data4[i] = static_cast<uint8_t>(value);
    }
    return true;
}

}  // namespace

extern "C" {

WINSYS_EXPORT HRESULT WINAPI CLSIDFromString(LPCOLESTR text, LPCLSID clsid) {
    if (!clsid) return E_INVALIDARG;
    std::memset(clsid, 0, sizeof *clsid);
    if (!text) return S_OK;  // no text is the null class
    GUID parsed{};
    if (!parseGuid(text, parsed)) return CO_E_CLASSSTRING;
    *clsid = parsed;
    return S_OK;
}

WINSYS_EXPORT int WINAPI StringFromGUID2(REFGUID guid, LPOLESTR buffer, int size) {
    if (!buffer || size < static_cast<int>(kGuidTextLength + 1)) return 0;
    static const char digits[] = "0123456789ABCDEF";
    WCHAR* out = buffer;
    auto put = [&](uint32_t value, int count) {
        for (int shift = (count - 1) * 4; shift >= 0; shift -= 4) *out++ = static_cast<WCHAR>(digits[(value >> shift) & 15]);
    };
    *out++ = u'{';
    put(guid.Data1, 8);
    *out++ = u'-';
    put(guid.Data2, 4);
    *out++ = u'-';
    put(guid.Data3, 4);
    *out++ = u'-';
    put(guid.Data4[0], 2);
    put(guid.Data4[1], 2);
    *out++ = u'-';
    for (int i = 2; i < 8; ++i) put(guid.Data4[i], 2);
    *out++ = u'}';
    *out = 0;
    return static_cast<int>(kGuidTextLength + 1);
}

}  // extern "C"
