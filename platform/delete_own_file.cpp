// Deleting files the library made itself, read-only ones included.
#include "platform/delete_own_file.h"

#include "platform/platform_calls.h"

BOOL DeleteOwnFile(LPCWSTR path) {
    const DWORD attributes = platformCalls.fileAttributes(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        platformCalls.setFileAttributes(path, attributes & ~FILE_ATTRIBUTE_READONLY);
    }
    return platformCalls.deleteFile(path);
}
