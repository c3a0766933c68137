// The clean-up at open: temporary files of processes that ended without
// deleting them, and cab caches that a killed commit, restore or compaction
// left beside the installed package, which nothing names any more.
#pragma once

#include "api/patch_context.h"

// Deletes what the temporary-file ledgers of ended processes list, and, in
// the installed package's folder, the files named as the library names this
// package's cab caches ("product.a345.msi" beside "product.msi") that
// neither the package (its cab cache, in cabCachePath) nor any value of any
// undo entry names. Nothing is
// deleted unless the context holds the package's lock, or when the undo
// entries cannot all be read.
void RemoveLeftoverFiles(const PatchContext& context);
