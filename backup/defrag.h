// Compacting a package file by copying its storage into a fresh file.
#pragma once

#include <windows.h>

// 0 when a compacted copy was made and opened as a package (the file is
// replaced when the copy is smaller), 1 when nothing was changed.
DWORD CompactPackage(LPCWSTR packagePath);
