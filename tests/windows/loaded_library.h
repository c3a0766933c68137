// qltmsi32.dll as a caller loads it: LoadLibrary from the test program's own
// directory and the eleven entry points looked up by name. The function types
// are those the public header declares, so the tests call the DLL the way the
// header tells callers to (on i686 the stdcall test checks the DLL agrees).
#pragma once

#include <windows.h>

#include <qltmsi.h>

namespace qltmsi_windows_test {

using ProgressFn = QLTMSI_PROGRESS_CALLBACK;
using OpenFn = decltype(&::QLTMsiOpen);
using CloseFn = decltype(&::QLTMsiClose);
using OpenDatabaseFn = decltype(&::QLTMsiOpenDatabase);
using CloseDatabaseFn = decltype(&::QLTMsiCloseDatabase);
using UpdateFileFn = decltype(&::QLTMsiUpdateFile);
using CommitChangesFn = decltype(&::QLTMsiCommitChanges);
using GetBackupStringFn = decltype(&::QLTMsiGetBackupString);
using GetBackupStringAFn = decltype(&::QLTMsiGetBackupStringA);
using GetLastErrorStrAFn = decltype(&::QLTMsiGetLastErrorStrA);
using BackupSvrFn = decltype(&::QltMsiBackupSvr);
using DefragFn = decltype(&::DefragMsiFile);

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
