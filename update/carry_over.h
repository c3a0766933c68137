// Carrying the previous cabinet of the library over into the work table, at
// the first replacement in a patch context.
#pragma once

#include "api/patch_context.h"

// Creates the work table, takes the library's previous cabinet (from the cab
// cache, or out of the package's own streams into a new cab cache), unpacks
// it and lists its files. 0; the Installer's error; 5 when the cabinet can't
// be prepared or unpacked; 4102 when the cab cache can't be read; 4105 when
// a new cab cache can't be written.
UINT PrepareCarryOver(PatchContext& context);
