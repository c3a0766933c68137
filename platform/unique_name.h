// New file names beside an existing path: "setup.msi" becomes "setup.a345.msi"
// (a letter and the process id), trying letters a to y until a name is free.
// A name is taken by creating it, so two processes (or threads) asking at
// once never get the same one.
#pragma once

#include <windows.h>

// Rewrites `path` in place with a name that did not exist, now held by an
// empty file this call created, and returns it; or returns null and leaves
// `path` as it was (every name taken, or one that could not be created for
// another reason). The caller owns the empty file: it writes over it or
// replaces it, and deletes it when it gives up. The buffer must have room
// for the path plus 5 characters and the terminator; a result that would not
// fit in 256 characters is refused.
LPWSTR MakeUniqueName(LPWSTR path);

// Creates `name` as an empty file, unless something already has that name:
// the one step that takes a name for this caller alone. False when it could
// not be created.
bool ClaimFileName(LPCWSTR name);

// The same, for a name that ends in `suffix` after the code ("C:\dir\" and
// "_.msi" give "C:\dir\a345_.msi"): the name asked about, and the one
// written, is the whole name with the suffix. The buffer must have room for
// the suffix as well.
LPWSTR MakeUniqueName(LPWSTR path, LPCWSTR suffix);
