// Finding the File row of an installed file from the path at which the
// product installed it.
#pragma once

#include "api/patch_context.h"
#include "platform/installer_handle.h"

// Removes '\' characters from the end of `path`, never its first character.
LPWSTR StripTrailingSeparators(LPWSTR path);

// 0 with a view over the File table and the row's record (all eight columns),
// for writing the row back or deleting it through that view; 1615 for a path
// without '\' or longer than a path; 259 when no row matches.
UINT LocateFile(const PatchContext& context, LPCWSTR installedFilePath, MsiHandle& fileView,
                MsiHandle& fileRecord);
