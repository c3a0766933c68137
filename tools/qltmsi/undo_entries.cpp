// Undo entries and the registered backup server, read from HKLM.
#include "undo_entries.h"

#include <windows.h>

#include "platform/fixed_names.h"
#include "platform/registry_key.h"

namespace qltmsi {

bool undoEntryExists(std::string_view entry) {
    if (entry.empty() || entry.find('\\') != std::string_view::npos)
        return false;
    WideString path = WideString(kUndoKey) + TEXT("\\") + toWide(entry);
    KeyHolder key;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.out()) == ERROR_SUCCESS;
}

WideString registeredBackupServer() {
    KeyHolder key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kServerKey, 0, KEY_READ, key.out()) != ERROR_SUCCESS)
        return {};
    WCHAR path[MAX_PATH + 1] = {};
    DWORD size = MAX_PATH * sizeof(WCHAR);
    DWORD type = 0;
    LONG result = RegQueryValueExW(key.get(), kBackupServerValue, nullptr, &type,
                                   reinterpret_cast<LPBYTE>(path), &size);
    return result == ERROR_SUCCESS && type == REG_SZ ? WideString(path) : WideString();
}

}  // namespace qltmsi
