// The commit: archiving the updated files into a new cabinet, committing the
// working copy, then writing it over the installed package.
#pragma once

#include "api/patch_context.h"

// The first half: progress text, new cabinet, database commit. 0, 4105 or an
// Installer error code.
UINT CommitDatabase(PatchContext& context);

// The second half: the undo record (when backupDirectory is not null), then
// the working copy over the installed package. 0 or 1627.
UINT FinishCommit(PatchContext& context, LPCWSTR backupDirectory);
