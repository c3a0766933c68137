// Unpacking a cabinet through the system's cabinet library into a fresh
// temporary directory that the cabinet work area records, so that the
// teardown of the patch context removes what was unpacked.
#pragma once

#include "cabinet/cabinet_work_area.h"

// Unpacks every file of the cabinet at cabinetPath into a new extraction
// directory (cabinet.extractDirectory). 0 on success, 1 on failure.
UINT ExtractCabinet(CabinetWorkArea& cabinet, LPCWSTR cabinetPath);
