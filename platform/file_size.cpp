// Measuring a file through the platform call table.
#include "platform/file_size.h"

#include "platform/platform_calls.h"

UINT MeasureFile(LPCWSTR path, ULONGLONG& size) {
    size = 0;
    const HANDLE file = platformCalls.createFile(path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error != ERROR_SUCCESS ? error : ERROR_OPEN_FAILED;
    }
    DWORD high = 0;
    SetLastError(ERROR_SUCCESS);
    const DWORD low = GetFileSize(file, &high);
    const DWORD error = GetLastError();
    CloseHandle(file);
    if (low == INVALID_FILE_SIZE && error != ERROR_SUCCESS) {
        return error;
    }
    size = (static_cast<ULONGLONG>(high) << 32) | low;
    return ERROR_SUCCESS;
}
