// The clean-up of cab caches that a patch moved out of a package ("a345_.msi"
// beside it) and that no commit ever made the package name: a patch killed,
// or closed without a commit, after its first replacement leaves one.
#pragma once

#include "api/patch_context.h"

// Deletes, beside the opened package, every file named as the library names
// a moved-out cab cache whose cabinet is, byte for byte, the one the
// installed package still holds in its own streams, unless a package of the
// folder or an undo entry names it. Nothing is deleted unless the context
// holds its package's lock and every other package of the folder is free at
// the moment it is read: only a patch between its first replacement and its
// close has such a file that nothing names, and it holds its package's lock.
void RemoveMovedOutCabCaches(const PatchContext& context);
