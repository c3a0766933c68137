// Registry reads and writes of the undo record and the restore.
#include "platform/quillet_registry.h"

#include "platform/platform_calls.h"
#include "platform/wide_text.h"

LONG CreateQuilletKey(LPCWSTR subKey, HKEY* key, bool* existed) {
    DWORD disposition = 0;
    const LONG result = platformCalls.regCreateKey(HKEY_LOCAL_MACHINE, subKey, 0, nullptr, 0,
                                                   KEY_ALL_ACCESS, nullptr, key, &disposition);
    if (existed != nullptr) {
        *existed = result == ERROR_SUCCESS && disposition == REG_OPENED_EXISTING_KEY;
    }
    return result;
}

LONG ReadStringValue(HKEY key, LPCWSTR name, WidePath& text) {
    text.fill(0);
    DWORD type = 0;
    DWORD size = MAX_PATH * registryCharWidth + 1;
    const LONG result = platformCalls.regQueryValue(key, name, nullptr, &type,
                                                    reinterpret_cast<LPBYTE>(text.data()), &size);
    text[MAX_PATH] = 0;
    if (result != ERROR_SUCCESS) {
        text[0] = 0;
    }
    return result;
}

LONG ReadNumberValue(HKEY key, LPCWSTR name, DWORD* value) {
    DWORD read = *value;
    DWORD type = 0;
    DWORD size = sizeof read;
    const LONG result = platformCalls.regQueryValue(key, name, nullptr, &type,
                                                    reinterpret_cast<LPBYTE>(&read), &size);
    if (result == ERROR_SUCCESS && size == sizeof read) {
        *value = read;
    }
    return result;
}

LONG WriteStringValue(HKEY key, LPCWSTR name, LPCWSTR text) {
    const DWORD bytes = static_cast<DWORD>(WideLength(text) + 1) * registryCharWidth;
    return platformCalls.regSetValue(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                                     bytes);
}

LONG WriteNumberValue(HKEY key, LPCWSTR name, DWORD value) {
    return platformCalls.regSetValue(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                     sizeof value);
}
