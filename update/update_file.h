// Replacing or removing one installed file in the opened package.
#pragma once

#include "api/patch_context.h"

// installedFilePath names the file as installed; a null or short newFilePath
// removes it from the package, otherwise newFilePath holds the new contents
// and newFileName is the name it carries. Returns 0 or the failed step's
// status, with its message recorded.
UINT UpdateFile(PatchContext& context, LPCWSTR installedFilePath, LPCWSTR newFilePath,
                LPCWSTR newFileName);

// The low 32 bits of the file's size; 0 when it can't be opened.
DWORD QueryFileSize(LPCWSTR path);
