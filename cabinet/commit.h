// The commit: archiving the updated files into a new cabinet held by a new
// cab cache beside the installed package, numbering their File rows,
// committing the working copy, then writing it over the installed package.
#pragma once

#include "api/patch_context.h"

// The first half: progress text, new cabinet, database commit. 0, 4105 or an
// Installer error code; message 7 recorded on failure. A patch context
// commits once: a second commit fails with 4105 before touching anything.
UINT CommitDatabase(PatchContext& context);

// The second half: the undo record (when backupDirectory is not null), then
// the working copy over the installed package and the previous cab cache
// deleted. 0 or 1627.
UINT FinishCommit(PatchContext& context, LPCWSTR backupDirectory);

// Packs the work table's files into a cabinet, stores it in a new cab cache
// and sets the library's Media row's LastSequence. 0, 4105 or an Installer
// error code.
UINT ArchiveUpdatedFiles(PatchContext& context);

// Packs every work-table row into a new temporary cabinet (the work area's
// cabinet file), gives the File rows consecutive Sequence numbers from
// context.updateSequence, and drops the work table. 0, 1 or an Installer
// error code.
UINT BuildCabinet(CabinetWorkArea& area, MSIHANDLE database, PatchContext& context,
                  ProgressCallback progress);

// Creates the cab cache named into newCabCachePath with the cabinet file as
// its only stream "QuilletCab", and names it in the Property table. 0, 1,
// 4105 or an Installer error code.
UINT StoreCabinet(PatchContext& context, LPCWSTR cabinetPath);
