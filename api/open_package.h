// Opening the installed package of a product into a fresh patch context.
#pragma once

#include "api/patch_context.h"

// Fills the patch context for the product's installed package; the package
// code (a GUID in braces) and the transform path may be null. Returns 0 or
// the status of the failed step, with its message recorded.
UINT OpenPackage(PatchContext& context, LPCWSTR productCode, LPCWSTR requiredPackageCode,
                 LPCWSTR transformPath, ProgressCallback callback);

// Copies the installed package (packagePath) to a new temporary file, the
// working copy. 0; 6 when the installed package is missing; 4100 when the
// copy can't be made.
UINT MakeWorkingCopy(PatchContext& context);
