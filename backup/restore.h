// Putting an installed package back from one undo entry, as the restore
// command line asks.
#pragma once

#include <windows.h>

// commandLine is the undo entry's name exactly as the backup string carries
// it; null does nothing.
void RestoreFromUndoEntry(LPCSTR commandLine);
