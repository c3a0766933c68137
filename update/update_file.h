// Replacing or removing one installed file in the opened package.
#pragma once

#include "api/patch_context.h"

// installedFilePath names the file as installed; a null or short newFilePath
// removes it from the package, otherwise newFilePath holds the new contents
// and newFileName is the name it carries. Returns 0 or the failed step's
// status, with its message recorded.
UINT UpdateFile(PatchContext& context, LPCWSTR installedFilePath, LPCWSTR newFilePath,
                LPCWSTR newFileName);

// The size of the file at `path` as the File table's signed 32-bit FileSize
// holds it. 0 with the size; the open's error when the file can't be opened;
// ERROR_FILE_TOO_LARGE for 2 GiB or more, which the column can't hold.
UINT QueryFileSize(LPCWSTR path, LONG& size);
