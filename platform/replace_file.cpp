// The copy-beside, flush, move-over replacement of a file.
#include "platform/replace_file.h"

#include "platform/platform_calls.h"
#include "platform/temporary_files.h"

#include <array>

namespace {

using PathBuffer = std::array<WCHAR, MAX_PATH + 1>;

// The folder part of `path` (without its last backslash); false when the
// path has none or it does not fit.
bool FolderOf(LPCWSTR path, PathBuffer& folder) {
    size_t cut = 0;
    size_t length = 0;
    for (; path[length] != 0; ++length) {
        if (path[length] == '\\') {
            cut = length;
        }
    }
    if (cut == 0 || cut >= folder.size()) {
        return false;
    }
    for (size_t i = 0; i < cut; ++i) {
        folder[i] = path[i];
    }
    folder[cut] = 0;
    return true;
}

// Writes the file's buffers through to the disk, so that the move below can
// never put a file in place whose bytes are still only in memory.
bool Flush(LPCWSTR path) {
    const HANDLE file = platformCalls.createFile(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    const BOOL flushed = FlushFileBuffers(file);
    const DWORD error = GetLastError();
    CloseHandle(file);
    SetLastError(error);
    return flushed != FALSE;
}

// Deletes the temporary file, keeping the error that made the replacement
// fail.
BOOL Abandon(LPCWSTR temporary) {
    const DWORD error = GetLastError();
    DeleteTemporaryFile(temporary);
    SetLastError(error);
    return FALSE;
}

}  // namespace

BOOL ReplaceWithCopy(LPCWSTR source, LPCWSTR target) {
    if (source == nullptr || target == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    PathBuffer folder{};
    PathBuffer temporary{};
    if (!FolderOf(target, folder)) {
        SetLastError(ERROR_INVALID_NAME);
        return FALSE;
    }
    if (MakeTemporaryFile(folder.data(), TEXT("qlt"), temporary.data()) == 0) {
        return FALSE;
    }
    if (!platformCalls.copyFile(source, temporary.data(), FALSE) || !Flush(temporary.data())) {
        return Abandon(temporary.data());
    }
    if (MoveTemporaryFile(temporary.data(), target,
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return TRUE;
    }
    const bool noReplacingMove = GetLastError() == ERROR_CALL_NOT_IMPLEMENTED;
    Abandon(temporary.data());
    if (!noReplacingMove) {
        return FALSE;
    }
    return platformCalls.copyFile(source, target, FALSE);
}
