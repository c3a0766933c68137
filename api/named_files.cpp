// Reading what names the library's files: packages' cab cache properties
// and the undo entries' values.
#include "api/named_files.h"

#include "platform/fixed_names.h"
#include "platform/installer_handle.h"
#include "platform/quillet_registry.h"
#include "platform/registry_key.h"

using Text = NamedText;

bool ReadUndoEntryTexts(std::vector<Text>& texts) {
    KeyHolder undo;
    const LONG opened =
        platformCalls.regOpenKey(HKEY_LOCAL_MACHINE, kUndoKey, 0, KEY_READ, undo.out());
    if (opened == ERROR_FILE_NOT_FOUND) {
        return true;
    }
    if (opened != ERROR_SUCCESS) {
        return false;
    }
    for (DWORD index = 0;; ++index) {
        WCHAR entryName[MAX_PATH + 1] = {};
        DWORD entryChars = MAX_PATH + 1;
        const LONG listed = RegEnumKeyExW(undo.get(), index, entryName, &entryChars, nullptr,
                                          nullptr, nullptr, nullptr);
        if (listed == ERROR_NO_MORE_ITEMS) {
            return true;
        }
        KeyHolder entry;
        if (listed != ERROR_SUCCESS || platformCalls.regOpenKey(undo.get(), entryName, 0, KEY_READ,
                                                                entry.out()) != ERROR_SUCCESS) {
            return false;
        }
        for (DWORD value = 0;; ++value) {
            WCHAR valueName[MAX_PATH + 1] = {};
            DWORD valueChars = MAX_PATH + 1;
            WidePath text{};
            DWORD bytes = MAX_PATH * sizeof(WCHAR);
            DWORD type = 0;
            const LONG read = RegEnumValueW(entry.get(), value, valueName, &valueChars, nullptr,
                                            &type, reinterpret_cast<LPBYTE>(text.data()), &bytes);
            if (read == ERROR_NO_MORE_ITEMS) {
                break;
            }
            // A value too long for a path names no file of ours.
            if (read == ERROR_MORE_DATA) {
                continue;
            }
            if (read != ERROR_SUCCESS) {
                return false;
            }
            if (type == REG_SZ) {
                texts.emplace_back(text.data());
            }
        }
    }
}

bool IdentifyNamedFiles(const std::vector<Text>& named, std::vector<FileIdentity>& files) {
    for (const Text& text : named) {
        if (text.empty() || platformCalls.fileAttributes(text.c_str()) == INVALID_FILE_ATTRIBUTES) {
            continue;
        }
        FileIdentity identity;
        if (!IdentifyFile(text.c_str(), identity)) {
            return false;
        }
        files.push_back(identity);
    }
    return true;
}

bool ReadInstalledCabCache(LPCWSTR package, Text& cabCache) {
    MsiHandle database;
    MsiHandle view;
    if (MsiOpenDatabaseW(package, MSIDBOPEN_READONLY, database.Receive()) != ERROR_SUCCESS ||
        MsiDatabaseOpenViewW(database.get(),
                             TEXT("SELECT `Value` FROM `Property` WHERE `Property`='")
                                 QUILLET_CAB_CACHE_PROPERTY TEXT("'"),
                             view.Receive()) != ERROR_SUCCESS ||
        MsiViewExecute(view.get(), 0) != ERROR_SUCCESS) {
        return false;
    }
    MsiHandle row;
    if (MsiViewFetch(view.get(), row.Receive()) != ERROR_SUCCESS) {
        return true;
    }
    WidePath value{};
    DWORD count = static_cast<DWORD>(value.size());
    if (MsiRecordGetStringW(row.get(), 1, value.data(), &count) != ERROR_SUCCESS) {
        return false;
    }
    cabCache = value.data();
    return true;
}

