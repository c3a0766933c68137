// qltmsi32.dll as a caller loads it: LoadLibrary from the test program's own
// directory and the eleven entry points looked up by name. The function types
// are written out here from the exported interface, so that a header or DLL
// whose calling convention drifts shows up as a mismatch, not as a quiet fix.
#pragma once

#include <windows.h>

namespace qltmsi_windows_test {

using ProgressFn = void(CALLBACK *)(int code, void *data);

using OpenFn = int(WINAPI *)();
using CloseFn = UINT(WINAPI *)(int handle);
using OpenDatabaseFn = UINT(WINAPI *)(int handle, LPCWSTR productCode, LPCWSTR first, LPCWSTR second,
                                      LPCWSTR transformDirectory, ProgressFn callback);
using CloseDatabaseFn = UINT(WINAPI *)(int handle);
using UpdateFileFn = UINT(WINAPI *)(int handle, LPCWSTR installedPath, LPCWSTR newPath, LPCWSTR newName);
using CommitChangesFn = UINT(WINAPI *)(int handle, LPCWSTR backupDirectory);
using GetBackupStringFn = UINT(WINAPI *)(int handle, LPWSTR buffer, DWORD *size);
using GetBackupStringAFn = UINT(WINAPI *)(int handle, LPSTR buffer, DWORD *size);
using GetLastErrorStrAFn = const char *(WINAPI *)(int handle);
using BackupSvrFn = void(CALLBACK *)(HWND window, HINSTANCE instance, LPSTR commandLine, int show);
using DefragFn = UINT(WINAPI *)(LPCWSTR packagePath);

struct LoadedLibrary {
    HMODULE module = nullptr;
    OpenFn open = nullptr;
    CloseFn close = nullptr;
    OpenDatabaseFn openDatabase = nullptr;
    CloseDatabaseFn closeDatabase = nullptr;
    UpdateFileFn updateFile = nullptr;
    CommitChangesFn commitChanges = nullptr;
    GetBackupStringFn getBackupString = nullptr;
    GetBackupStringAFn getBackupStringA = nullptr;
    GetLastErrorStrAFn getLastErrorStrA = nullptr;
    BackupSvrFn backupSvr = nullptr;
    DefragFn defrag = nullptr;
};

// Full path of qltmsi32.dll beside the running test program.
const wchar_t *LibraryPath();

// The library, loaded once for the whole program (the handle and the locks
// are per process, as they are for real callers). Entry points that the DLL
// lacks stay null; the export tests report them.
const LoadedLibrary &Library();

// One export of the interface: its name and fixed ordinal.
struct ExportEntry {
    const char *name;
    WORD ordinal;
};
extern const ExportEntry kExports[11];

}  // namespace qltmsi_windows_test
