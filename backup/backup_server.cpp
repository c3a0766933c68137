// The backup server: the copy of this library that restores run, registered
// under the server key, and the version number that decides whether a copy
// already registered is good enough.
//
// The library's own file is only ever copied, never moved: the program that
// loaded it keeps it, and a newer library replaces an older registered
// server by copying over it in one step, so earlier backup strings, which
// carry the registered path, run the newer copy and never find it missing.
#include "api/library_state.h"
#include "backup/undo_record.h"
#include "platform/platform_calls.h"
#include "platform/quillet_registry.h"
#include "platform/replace_file.h"
#include "platform/unique_name.h"
#include "platform/wide_text.h"

#include <algorithm>
#include <vector>

namespace {

constexpr LPCWSTR kServerFileName = TEXT("qltmsi32.dll");

// A new copy of the library in the Windows directory, registered as the
// server; the path goes into serverPath.
bool PlaceNewServer(HKEY serverKey, LPCWSTR ownFile, WidePath& serverPath) {
    WidePath windowsDirectory{};
    const UINT length = platformCalls.windowsDirectory(windowsDirectory.data(), MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) {
        return false;
    }
    if (!JoinPath(serverPath, windowsDirectory.data(), kServerFileName)) {
        return false;
    }
    // The name is taken by an empty file, so two commits at once never place
    // their servers under one name; the copy then replaces it in one step.
    if (MakeUniqueName(serverPath.data()) == nullptr) {
        return false;
    }
    if (!ReplaceWithCopy(ownFile, serverPath.data())) {
        platformCalls.deleteFile(serverPath.data());
        return false;
    }
    // Unregistered, the copy would be no server: no later commit would find
    // it, and nothing would ever delete it.
    const LONG registered = WriteStringValue(serverKey, kBackupServerValue, serverPath.data());
    if (registered != ERROR_SUCCESS) {
        platformCalls.deleteFile(serverPath.data());
        SetLastError(static_cast<DWORD>(registered));
        return false;
    }
    return true;
}

}  // namespace

LONG FileVersionNumber(LPCWSTR path) {
    DWORD ignored = 0;
    const DWORD size = platformCalls.fileVersionInfoSize(path, &ignored);
    if (size == 0) {
        return 0;
    }
    std::vector<BYTE> block(static_cast<size_t>(size) * 2, 0);
    if (!platformCalls.fileVersionInfo(path, 0, size, block.data())) {
        return 0;
    }
    LPVOID value = nullptr;
    UINT valueLength = 0;
    if (!platformCalls.verQueryValue(block.data(), TEXT("\\"), &value, &valueLength) ||
        value == nullptr || valueLength < sizeof(VS_FIXEDFILEINFO)) {
        return 0;
    }
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    const auto major = static_cast<SHORT>(HIWORD(fixed->dwFileVersionMS));
    const auto minor = static_cast<SHORT>(LOWORD(fixed->dwFileVersionMS));
    return 100 * static_cast<LONG>(major) + static_cast<LONG>(minor);
}

LPWSTR PlaceBackupServer(LPWSTR serverPath) {
    WidePath ownFile{};
    const DWORD ownLength =
        platformCalls.moduleFileName(libraryState.moduleInstance, ownFile.data(), MAX_PATH + 1);
    if (ownLength == 0 || ownLength > MAX_PATH || ownFile[ownLength] != 0) {
        return nullptr;
    }
    HKEY serverKey = nullptr;
    bool existed = false;
    if (CreateQuilletKey(kServerKey, &serverKey, &existed) != ERROR_SUCCESS) {
        return nullptr;
    }
    WidePath result{};
    bool placed = false;
    WidePath registered{};
    if (existed) {
        ReadStringValue(serverKey, kBackupServerValue, registered);
    }
    // A key without a registered path is treated as a new key.
    if (!IsEmpty(registered)) {
        if (FileVersionNumber(registered.data()) >= FileVersionNumber(ownFile.data())) {
            result = registered;
            placed = true;
        } else if (platformCalls.copyFile(ownFile.data(), registered.data(), FALSE)) {
            // Over the older server in one step, without deleting it first.
            result = registered;
            placed = true;
        }
    }
    if (!placed) {
        placed = PlaceNewServer(serverKey, ownFile.data(), result);
    }
    RegCloseKey(serverKey);
    if (!placed) {
        return nullptr;
    }
    std::copy(result.begin(), result.end(), serverPath);
    return serverPath;
}
