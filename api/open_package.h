// Opening the installed package of a product into a fresh patch context.
#pragma once

#include "api/patch_context.h"

// Fills the patch context for the product's installed package; the package
// code (a GUID in braces) and the transform path may be null. Returns 0 or
// the status of the failed step, with its message recorded.
UINT OpenPackage(PatchContext& context, LPCWSTR productCode, LPCWSTR requiredPackageCode,
                 LPCWSTR transformPath, ProgressCallback callback);
