// Shared steps of the wide and narrow registry calls: resolving a handle to a
// live key inside one transaction, reading a value whole, and Windows' rules
// for filling a caller's sized buffer.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string_view>

#include "registry/registry_database.h"
#include "registry/registry_handles.h"
#include "registry/registry_store.h"

namespace winsys::registry {

// Runs body on the key behind handle, in one transaction: ERROR_INVALID_HANDLE
// for a handle that is not open, ERROR_ACCESS_DENIED when the handle lacks
// needed access, ERROR_KEY_DELETED when the key is gone.
long onKey(HKEY handle, Access access, REGSAM needed, const std::function<long(sqlite3*, const OpenKey&)>& body);

// The value named (null or empty: the default value) of the key.
long queryStoredValue(HKEY handle, const WCHAR* name, StoredValue& out);

// Copies bytes to a caller's (data, size) pair the way the query calls do:
// a null data only reports the size; a short buffer gives ERROR_MORE_DATA and
// the size needed.
long deliverBytes(const void* bytes, DWORD count, LPBYTE data, LPDWORD size);

bool isStringType(DWORD type);

// Null stays null: an absent name differs from an empty one for some calls.
std::optional<std::u16string> wideFromNarrow(const char* narrow);
inline const WCHAR* orNull(const std::optional<std::u16string>& s) { return s ? s->c_str() : nullptr; }

}  // namespace winsys::registry
