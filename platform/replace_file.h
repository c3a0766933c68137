// Replacing a file that others rely on (the installed package, a cab cache)
// so that a crash or a full disk at any moment leaves either the old file or
// the new one, never a mix of the two.
#pragma once

#include <windows.h>

// Makes `target` a copy of `source`: the copy is written to a temporary file
// beside the target, flushed, then moved over it in one step. Only where the
// system has no replacing move (the Windows 95 family) is the target copied
// over in place. TRUE when the target holds the new bytes; FALSE, with the
// last error set, when it still holds the old ones and nothing new is left.
BOOL ReplaceWithCopy(LPCWSTR source, LPCWSTR target);
