// The narrow registry calls: names and string data go through UTF-8 (the
// ANSI code page here); sizes of string data count the narrow bytes.
#include <windows.h>

#include <cstring>

#include "kernel/text.h"
#include "registry/registry_calls.h"

using namespace winsys::registry;

namespace {

// A stored (wide) string value in its narrow form, embedded terminators kept.
std::string narrowData(const std::vector<uint8_t>& wideBytes) {
    std::u16string wide(wideBytes.size() / sizeof(WCHAR), u'\0');
    std::memcpy(wide.data(), wideBytes.data(), wide.size() * sizeof(WCHAR));
    return winsys::text::toUtf8(wide);
}

}  // namespace

extern "C" {

WINSYS_EXPORT LONG WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR cls, DWORD options,
                                          REGSAM sam, LPSECURITY_ATTRIBUTES sa, PHKEY result, LPDWORD disposition) {
    auto wideKey = wideFromNarrow(subKey);
    auto wideClass = wideFromNarrow(cls);
    return RegCreateKeyExW(key, orNull(wideKey), reserved, wideClass ? wideClass->data() : nullptr, options, sam, sa,
                           result, disposition);
}

WINSYS_EXPORT LONG WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM sam, PHKEY result) {
    auto wideKey = wideFromNarrow(subKey);
    return RegOpenKeyExW(key, orNull(wideKey), options, sam, result);
}

WINSYS_EXPORT LONG WINAPI RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                           LPDWORD size) {
    if (reserved || (data && !size)) return ERROR_INVALID_PARAMETER;
    auto wideName = wideFromNarrow(name);
    StoredValue value;
    long status = queryStoredValue(key, orNull(wideName), value);
    if (status != ERROR_SUCCESS) return status;
    if (type) *type = value.type;
    if (!isStringType(value.type))
        return deliverBytes(value.data.data(), static_cast<DWORD>(value.data.size()), data, size);
    std::string narrow = narrowData(value.data);
    return deliverBytes(narrow.data(), static_cast<DWORD>(narrow.size()), data, size);
}

WINSYS_EXPORT LONG WINAPI RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
                                         DWORD size) {
    auto wideName = wideFromNarrow(name);
    if (!data || !size || !isStringType(type)) return RegSetValueExW(key, orNull(wideName), reserved, type, data, size);
    // The terminator a caller left out of the count is counted, as Windows does.
    if (data[size - 1] != 0 && data[size] == 0) ++size;
    std::u16string wide =
        winsys::text::toUtf16(std::string_view(reinterpret_cast<const char*>(data), static_cast<size_t>(size)));
    return RegSetValueExW(key, orNull(wideName), reserved, type, reinterpret_cast<const BYTE*>(wide.data()),
                          static_cast<DWORD>(wide.size() * sizeof(WCHAR)));
}

WINSYS_EXPORT LONG WINAPI RegDeleteKeyA(HKEY key, LPCSTR subKey) {
    auto wideKey = wideFromNarrow(subKey);
    return RegDeleteKeyW(key, orNull(wideKey));
}

WINSYS_EXPORT LONG WINAPI RegDeleteValueA(HKEY key, LPCSTR name) {
    auto wideName = wideFromNarrow(name);
    return RegDeleteValueW(key, orNull(wideName));
}

}  // extern "C"
