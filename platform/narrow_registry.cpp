// Narrow fallbacks for the registry calls of the platform table. String
// values cross in the ANSI code page; byte counts follow the registry
// character width.
#include "platform/narrow_fallbacks.h"
#include "platform/narrow_text.h"
#include "platform/platform_calls.h"

#include <algorithm>
#include <cstring>

LONG WINAPI NarrowRegOpenKey(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result) {
    NarrowArgument name(subKey);
    if (!name.fits()) {
        return ERROR_INVALID_PARAMETER;
    }
    return RegOpenKeyExA(key, name.get(), options, access, result);
}

LONG WINAPI NarrowRegCreateKey(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass,
                               DWORD options, REGSAM access, LPSECURITY_ATTRIBUTES security,
                               PHKEY result, LPDWORD disposition) {
    NarrowArgument name(subKey);
    NarrowArgument narrowClass(keyClass);
    if (!name.fits() || !narrowClass.fits()) {
        return ERROR_INVALID_PARAMETER;
    }
    return RegCreateKeyExA(key, name.get(), reserved, narrowClass.get(), options, access, security,
                           result, disposition);
}

LONG WINAPI NarrowRegQueryValue(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                LPDWORD size) {
    NarrowArgument valueName(name);
    if (!valueName.fits()) {
        return ERROR_INVALID_PARAMETER;
    }
    const DWORD bytesOnEntry = size ? *size : 0;
    const LONG result = RegQueryValueExA(key, valueName.get(), reserved, type, data, size);
    if (result != ERROR_SUCCESS || data == nullptr || size == nullptr || type == nullptr ||
        *type != REG_SZ) {
        return result;
    }
    const DWORDLONG bytesInWidth = static_cast<DWORDLONG>(*size) * registryCharWidth;
    if (bytesInWidth > bytesOnEntry) {
        *size = static_cast<DWORD>(bytesInWidth);
        return ERROR_MORE_DATA;
    }
    // Callers size registry buffers as wide arrays of bytesOnEntry / width
    // characters, so the wide text goes back over the same buffer; it never
    // takes more characters than the narrow text took bytes.
    const DWORD narrowBytes = *size;
    std::vector<WCHAR> wide(narrowBytes + 1, 0);
    int converted = 0;
    if (narrowBytes > 0) {
        converted = MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(data),
                                        static_cast<int>(narrowBytes), wide.data(),
                                        static_cast<int>(narrowBytes));
    }
    if (converted == 0 || wide[converted - 1] != 0) {
        ++converted;  // the stored text had no terminator: keep the one in place
    }
    const size_t roomInBytes =
        static_cast<size_t>(bytesOnEntry / registryCharWidth) * sizeof(WCHAR);
    std::memcpy(data, wide.data(),
                std::min(static_cast<size_t>(converted) * sizeof(WCHAR), roomInBytes));
    return ERROR_SUCCESS;
}

LONG WINAPI NarrowRegSetValue(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                              DWORD size) {
    NarrowArgument valueName(name);
    if (!valueName.fits()) {
        return ERROR_INVALID_PARAMETER;
    }
    if (type != REG_SZ) {
        return RegSetValueExA(key, valueName.get(), reserved, type, data, size);
    }
    // The caller counts characters times the width; the narrow text of those
    // characters may take more bytes than that in a multibyte code page, so
    // the count passed on is the one the conversion produced.
    const size_t characters = size / registryCharWidth;
    NarrowArgument text(reinterpret_cast<LPCWSTR>(data), data ? characters : 0);
    if (!text.fits()) {
        return ERROR_INVALID_PARAMETER;
    }
    return RegSetValueExA(key, valueName.get(), reserved, REG_SZ,
                          reinterpret_cast<const BYTE*>(text.get()),
                          static_cast<DWORD>(text.byteCount()));
}

LONG WINAPI NarrowRegDeleteKey(HKEY key, LPCWSTR subKey) {
    NarrowArgument name(subKey);
    if (!name.fits()) {
        return ERROR_INVALID_PARAMETER;
    }
    return RegDeleteKeyA(key, name.get());
}
