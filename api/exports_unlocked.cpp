// The two exports that take no handle and no lock: the restore entry point
// that rundll32 runs, and package compaction.
#include "backup/defrag.h"
#include "backup/restore.h"

#include <qltmsi.h>

extern "C" {

void CALLBACK QltMsiBackupSvr(HWND, HINSTANCE, LPSTR commandLine, int) {
    RestoreFromUndoEntry(commandLine);
}

DWORD WINAPI DefragMsiFile(LPCWSTR packagePath) {
    return CompactPackage(packagePath);
}

}  // extern "C"
