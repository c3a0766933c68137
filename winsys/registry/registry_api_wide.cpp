// The wide registry calls.
#include <windows.h>

#include <cstring>

#include "kernel/text.h"
#include "registry/registry_calls.h"
#include "registry/registry_names.h"

namespace winsys::registry {

long onKey(HKEY handle, Access access, REGSAM needed, const std::function<long(sqlite3*, const OpenKey&)>& body) {
    OpenKey key;
    if (!lookUpHandle(handle, key)) return ERROR_INVALID_HANDLE;
    if ((key.access & needed) != needed) return ERROR_ACCESS_DENIED;
    return inTransaction(access, [&](sqlite3* db) -> long {
        if (!keyExists(db, key.id)) return ERROR_KEY_DELETED;
        return body(db, key);
    });
}

long queryStoredValue(HKEY handle, const WCHAR* name, StoredValue& out) {
    std::string folded = foldName(name ? std::u16string_view(name) : std::u16string_view());
    return onKey(handle, Access::Read, KEY_QUERY_VALUE, [&](sqlite3* db, const OpenKey& key) -> long {
        auto value = readValue(db, key.id, folded);
        if (!value) return ERROR_FILE_NOT_FOUND;
        out = std::move(*value);
        return ERROR_SUCCESS;
    });
}

long deliverBytes(const void* bytes, DWORD count, LPBYTE data, LPDWORD size) {
    if (data) {
        if (*size < count) {
            *size = count;
            return ERROR_MORE_DATA;
        }
        if (count) std::memcpy(data, bytes, count);
    }
    if (size) *size = count;
    return ERROR_SUCCESS;
}

bool isStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

std::optional<std::u16string> wideFromNarrow(const char* narrow) {
    if (!narrow) return std::nullopt;
    return text::toUtf16(narrow);
}

namespace {

// Walks parts from base; creates missing keys when asked. Returns the key
// reached, or nothing when a part is missing and creation was not asked.
std::optional<KeyId> walk(sqlite3* db, KeyId base, const std::vector<std::u16string_view>& parts, bool create,
                          bool* created) {
    KeyId current = base;
    if (created) *created = false;
    for (std::u16string_view part : parts) {
        std::string folded = foldName(part);
        if (auto child = findChild(db, current, folded)) {
            current = *child;
            continue;
        }
        if (!create) return std::nullopt;
        current = createChild(db, current, text::toUtf8(part), folded);
        if (created) *created = true;
    }
    return current;
}

std::u16string_view viewOf(const WCHAR* s) { return s ? std::u16string_view(s) : std::u16string_view(); }

}  // namespace

}  // namespace winsys::registry

using namespace winsys::registry;

extern "C" {

WINSYS_EXPORT LONG WINAPI RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR /*cls*/,
                                          DWORD /*options*/, REGSAM sam, LPSECURITY_ATTRIBUTES /*sa*/,
                                          PHKEY result, LPDWORD disposition) {
    // Volatile keys are kept like the others: nothing here outlives a reboot
    // differently from the rest of the prefix.
    if (reserved || !result) return ERROR_INVALID_PARAMETER;
    std::vector<std::u16string_view> parts;
    long error = ERROR_SUCCESS;
    if (!splitKeyPath(viewOf(subKey), parts, error)) return error;
    KeyId reached = 0;
    bool created = false;
    long status = onKey(key, Access::Write, 0, [&](sqlite3* db, const OpenKey& base) -> long {
        reached = *walk(db, base.id, parts, true, &created);
        return ERROR_SUCCESS;
    });
    if (status != ERROR_SUCCESS) return status;
    *result = openHandle(reached, sam);
    if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
}

WINSYS_EXPORT LONG WINAPI RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD /*options*/, REGSAM sam, PHKEY result) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    std::vector<std::u16string_view> parts;
    long error = ERROR_SUCCESS;
    if (!splitKeyPath(viewOf(subKey), parts, error)) return error;
    if (parts.empty() && viewOf(subKey).empty() && isPredefined(key)) {
        *result = key;  // the root answers for itself, as on Windows
        return ERROR_SUCCESS;
    }
    KeyId reached = 0;
    long status = onKey(key, Access::Read, 0, [&](sqlite3* db, const OpenKey& base) -> long {
        auto found = walk(db, base.id, parts, false, nullptr);
        if (!found) return ERROR_FILE_NOT_FOUND;
        reached = *found;
        return ERROR_SUCCESS;
    });
    if (status != ERROR_SUCCESS) return status;
    *result = openHandle(reached, sam);
    return ERROR_SUCCESS;
}

WINSYS_EXPORT LONG WINAPI RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                           LPDWORD size) {
    if (reserved || (data && !size)) return ERROR_INVALID_PARAMETER;
    StoredValue value;
    long status = queryStoredValue(key, name, value);
    if (status != ERROR_SUCCESS) return status;
    if (type) *type = value.type;
    return deliverBytes(value.data.data(), static_cast<DWORD>(value.data.size()), data, size);
}

WINSYS_EXPORT LONG WINAPI RegSetValueExW(HKEY key, LPCWSTR name, DWORD /*reserved*/, DWORD type, const BYTE* data,
                                         DWORD size) {
    if (!data && size) return ERROR_NOACCESS;
    if (data && size >= sizeof(WCHAR) && isStringType(type)) {
        // A caller that left the terminator out of the count gets it counted,
        // as Windows does when it sits right after the data.
        auto text = reinterpret_cast<const WCHAR*>(data);
        size_t chars = size / sizeof(WCHAR);
        if (size % sizeof(WCHAR) == 0 && text[chars - 1] != 0 && text[chars] == 0) size += sizeof(WCHAR);
    }
    std::vector<uint8_t> bytes(data, data + (data ? size : 0));
    std::u16string_view nameView = viewOf(name);
    std::string folded = foldName(nameView);
    std::string stored = winsys::text::toUtf8(nameView);
    return onKey(key, Access::Write, KEY_SET_VALUE, [&](sqlite3* db, const OpenKey& k) -> long {
        writeValue(db, k.id, stored, folded, type, bytes);
        return ERROR_SUCCESS;
    });
}

WINSYS_EXPORT LONG WINAPI RegDeleteKeyW(HKEY key, LPCWSTR subKey) {
    if (!subKey) return ERROR_INVALID_PARAMETER;
    std::vector<std::u16string_view> parts;
    long error = ERROR_SUCCESS;
    if (!splitKeyPath(subKey, parts, error)) return error;
    return onKey(key, Access::Write, 0, [&](sqlite3* db, const OpenKey& base) -> long {
        auto target = walk(db, base.id, parts, false, nullptr);
        if (!target) return ERROR_FILE_NOT_FOUND;
        bool isRoot = *target == kLocalMachine || *target == kCurrentUser || *target == kUsers;
        // Windows refuses a key that still has subkeys rather than deleting a tree.
        if (isRoot || hasChildren(db, *target)) return ERROR_ACCESS_DENIED;
        deleteKey(db, *target);
        return ERROR_SUCCESS;
    });
}

WINSYS_EXPORT LONG WINAPI RegDeleteValueW(HKEY key, LPCWSTR name) {
    std::string folded = foldName(viewOf(name));
    return onKey(key, Access::Write, KEY_SET_VALUE, [&](sqlite3* db, const OpenKey& k) -> long {
        return deleteValue(db, k.id, folded) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    });
}

WINSYS_EXPORT LONG WINAPI RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLen, LPDWORD reserved,
                                        LPWSTR cls, LPDWORD clsLen, PFILETIME lastWrite) {
    if (reserved || !name || !nameLen) return ERROR_INVALID_PARAMETER;
    std::optional<StoredKey> child;
    long status = onKey(key, Access::Read, KEY_ENUMERATE_SUB_KEYS, [&](sqlite3* db, const OpenKey& k) -> long {
        child = childAt(db, k.id, index);
        return child ? ERROR_SUCCESS : ERROR_NO_MORE_ITEMS;
    });
    if (status != ERROR_SUCCESS) return status;
    std::u16string wide = winsys::text::toUtf16(child->name);
    if (wide.size() + 1 > *nameLen) return ERROR_MORE_DATA;
    std::memcpy(name, wide.c_str(), (wide.size() + 1) * sizeof(WCHAR));
    *nameLen = static_cast<DWORD>(wide.size());
    if (cls && clsLen && *clsLen) cls[0] = 0;  // keys here have no class
    if (clsLen) *clsLen = 0;
    if (lastWrite) {
        lastWrite->dwLowDateTime = static_cast<DWORD>(child->lastWrite);
        lastWrite->dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(child->lastWrite) >> 32);
    }
    return ERROR_SUCCESS;
}

WINSYS_EXPORT LONG WINAPI RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLen, LPDWORD reserved,
                                        LPDWORD type, LPBYTE data, LPDWORD size) {
    if (reserved || !name || !nameLen || (data && !size)) return ERROR_INVALID_PARAMETER;
    std::optional<StoredValue> value;
    long status = onKey(key, Access::Read, KEY_QUERY_VALUE, [&](sqlite3* db, const OpenKey& k) -> long {
        value = valueAt(db, k.id, index);
        return value ? ERROR_SUCCESS : ERROR_NO_MORE_ITEMS;
    });
    if (status != ERROR_SUCCESS) return status;
    std::u16string wide = winsys::text::toUtf16(value->name);
    if (wide.size() + 1 > *nameLen) return ERROR_MORE_DATA;
    std::memcpy(name, wide.c_str(), (wide.size() + 1) * sizeof(WCHAR));
    *nameLen = static_cast<DWORD>(wide.size());
    if (type) *type = value->type;
    return deliverBytes(value->data.data(), static_cast<DWORD>(value->data.size()), data, size);
}

WINSYS_EXPORT LONG WINAPI RegCloseKey(HKEY key) {
    return closeHandle(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

}  // extern "C"
