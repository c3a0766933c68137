// New file names beside an existing path: "setup.msi" becomes "setup.a345.msi"
// (a letter and the process id), trying letters a to y until a name is free.
#pragma once

#include <windows.h>

// Rewrites `path` in place with a name that does not exist yet and returns
// it, or returns null and leaves `path` as it was. The buffer must have room
// for the path plus 5 characters and the terminator; a result that would not
// fit in 256 characters is refused.
LPWSTR MakeUniqueName(LPWSTR path);

// The same, for a name that ends in `suffix` after the code ("C:\dir\" and
// "_.msi" give "C:\dir\a345_.msi"): the name asked about, and the one
// written, is the whole name with the suffix. The buffer must have room for
// the suffix as well.
LPWSTR MakeUniqueName(LPWSTR path, LPCWSTR suffix);
