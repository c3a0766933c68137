// Fills the platform call table with the system's wide calls, or with the
// narrow fallbacks where the system has no wide ones.
#include "platform/platform_calls.h"

#include "platform/narrow_fallbacks.h"

constinit PlatformCalls platformCalls{};
constinit DWORD registryCharWidth = 2;

namespace {

// Built when asked: on Windows the addresses of imported functions are not
// constants, and the table is filled from the load handling.
PlatformCalls WideCalls() {
    return {
        GetShortPathNameW,
        GetTempPathW,
        GetTempFileNameW,
        DeleteFileW,
        CopyFileW,
        MoveFileW,
        GetFileAttributesW,
        CreateFileW,
        RegOpenKeyExW,
        RegCreateKeyExW,
        RegQueryValueExW,
        RegSetValueExW,
        GetModuleFileNameW,
        GetFileVersionInfoW,
        VerQueryValueW,
        GetFileVersionInfoSizeW,
        GetWindowsDirectoryW,
        LoadStringW,
        RegDeleteKeyW,
        CreateDirectoryW,
        RemoveDirectoryW,
        FindFirstFileW,
        FindNextFileW,
        MoveFileExW,
        CreateMutexW,
        SetFileAttributesW,
    };
}

PlatformCalls NarrowCalls() {
    return {
        NarrowShortPathName,       NarrowTempPath,         NarrowTempFileName,
        NarrowDeleteFile,          NarrowCopyFile,         NarrowMoveFile,
        NarrowFileAttributes,      NarrowCreateFile,       NarrowRegOpenKey,
        NarrowRegCreateKey,        NarrowRegQueryValue,    NarrowRegSetValue,
        NarrowModuleFileName,      NarrowFileVersionInfo,  NarrowVerQueryValue,
        NarrowFileVersionInfoSize, NarrowWindowsDirectory, NarrowLoadString,
        NarrowRegDeleteKey,        NarrowCreateDirectory,  NarrowRemoveDirectory,
        NarrowFindFirstFile,       NarrowFindNextFile,     NarrowMoveFileEx,
        NarrowCreateMutex,         NarrowSetFileAttributes,
    };
}

}  // namespace

void SelectPlatformCalls(DWORD version) {
    const bool windows95Family = static_cast<LONG>(version) < 0;
    platformCalls = windows95Family ? NarrowCalls() : WideCalls();
    registryCharWidth = windows95Family ? 1 : 2;
}

void FillPlatformCalls() {
    SelectPlatformCalls(GetVersion());
}
