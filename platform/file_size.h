// The size of a file on disk, all 64 bits of it, for the steps that must not
// take a file for smaller than it is.
#pragma once

#include <windows.h>

// 0 with the size, or the error of the open or of the measure (never 0 on a
// failure). The file is opened for reading and shared for reading only, so a
// file another process is still writing is not measured half-written.
UINT MeasureFile(LPCWSTR path, ULONGLONG& size);
