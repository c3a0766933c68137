// QLTMsiGetBackupString and its narrow form: the restore command line that
// the last commit's undo record left.
#include "api/call_lock.h"

#include <algorithm>
#include <vector>

extern "C" {

DWORD WINAPI QLTMsiGetBackupString(int handle, LPWSTR buffer, LPDWORD size) {
    if (!CheckHandle(handle)) {
        return QLTMSI_ERROR_BUSY_OR_BAD_HANDLE;
    }
    CallLockHold callLock;
    if (!libraryState.currentContext) {
        return QLTMSI_ERROR_NO_PATCH_CONTEXT;
    }
    const std::optional<WideString>& backupString = libraryState.currentContext->backupString;
    if (!backupString) {
        return QLTMSI_ERROR_NO_BACKUP_STRING;
    }
    if (size == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    const DWORD needed = static_cast<DWORD>(backupString->size() + 1);
    DWORD status = QLTMSI_ERROR_BUFFER_TOO_SMALL;
    if (*size >= needed) {
        // A buffer said to be large enough must be there.
        if (buffer == nullptr) {
            *size = needed;
            return ERROR_INVALID_PARAMETER;
        }
        std::copy_n(backupString->c_str(), needed, buffer);
        status = QLTMSI_SUCCESS;
    }
    *size = needed;
    return status;
}

// The wide string is fetched whole through the wide export (which does the
// handle check and takes the call lock), then converted; the caller's buffer
// receives it only when the narrow text with its terminator fits in *size
// bytes. In a multibyte code page that is more than the character count,
// and the size then reports the bytes needed.
DWORD WINAPI QLTMsiGetBackupStringA(int handle, LPSTR buffer, LPDWORD size) {
    if (size == nullptr) {
        return QLTMsiGetBackupString(handle, nullptr, nullptr);
    }
    std::vector<WCHAR> wide(kBackupStringChars + 1, 0);
    DWORD wideSize = static_cast<DWORD>(wide.size());
    const DWORD status = QLTMsiGetBackupString(handle, wide.data(), &wideSize);
    if (status != QLTMSI_SUCCESS) {
        return status;
    }
    const int narrowBytes =
        WideCharToMultiByte(CP_ACP, 0, wide.data(), -1, nullptr, 0, nullptr, nullptr);
    const DWORD needed = static_cast<DWORD>(std::max(narrowBytes, 1));
    if (*size < needed) {
        *size = needed;
        return QLTMSI_ERROR_BUFFER_TOO_SMALL;
    }
    if (buffer == nullptr) {
        *size = needed;
        return ERROR_INVALID_PARAMETER;
    }
    if (WideCharToMultiByte(CP_ACP, 0, wide.data(), -1, buffer, static_cast<int>(needed), nullptr,
                            nullptr) == 0) {
        buffer[0] = 0;
    }
    *size = needed;
    return QLTMSI_SUCCESS;
}

}  // extern "C"
