// The undo record a commit leaves when the caller names a backup directory:
// the reverse transform, a copy of the previous cab cache, the registry
// entry, the backup server copy of the library and the backup string.
#pragma once

#include "api/patch_context.h"

// Made after the working copy is committed and before it is copied over the
// installed package. 0, or QLTMSI_ERROR_UNDO_RECORD (4107) for every failure;
// a null backupDirectory makes no record and returns 4107 as well.
DWORD MakeUndoRecord(PatchContext& context, LPCWSTR backupDirectory);

// Deletes the entry that MakeUndoRecord made for this context, with the
// transform and the cab cache copy it placed, and drops the backup string:
// for a commit whose package was not replaced, so that no entry describes a
// commit that never happened. Nothing when no record was made.
void TakeBackUndoRecord(PatchContext& context);

// The transform that turns the committed working copy back into the
// installed package, in a temporary file named by reverseTransformPath.
// 0, an Installer error code, 6 (no package path) or 4101 (no temporary file).
UINT MakeReverseTransform(PatchContext& context);

// Makes sure a copy of this library that can serve restores is registered,
// and writes its path into serverPath (MAX_PATH + 1 characters). Returns
// serverPath, or null when no server could be placed.
LPWSTR PlaceBackupServer(LPWSTR serverPath);

// 100 times the major plus the minor file version of a library file; 0 when
// the file has no readable version information.
LONG FileVersionNumber(LPCWSTR path);
