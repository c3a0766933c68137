// Undo entries and the registered backup server, read from HKLM.
#include "undo_entries.h"

#include <windows.h>

namespace qltmsi {

namespace {

constexpr const WCHAR* kServerKey = TEXT("Software\\Brambleway\\Quillet");
constexpr const WCHAR* kUndoKey = TEXT("Software\\Brambleway\\Quillet\\MsiRegUndo\\");

}  // namespace

bool undoEntryExists(std::string_view entry) {
    if (entry.empty() || entry.find('\\') != std::string_view::npos)
        return false;
    WideString path = WideString(kUndoKey) + toWide(entry);
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

WideString registeredBackupServer() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kServerKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return {};
    WCHAR path[MAX_PATH + 1] = {};
    DWORD size = MAX_PATH * sizeof(WCHAR);
    DWORD type = 0;
    LONG result = RegQueryValueExW(key, TEXT("MsiBackupServer"), nullptr, &type,
                                   reinterpret_cast<LPBYTE>(path), &size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS && type == REG_SZ ? WideString(path) : WideString();
}

}  // namespace qltmsi
