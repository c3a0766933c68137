// Package compaction. Not built yet: every file is left as it is, which the
// result reports.
#include "backup/defrag.h"

#include <qltmsi.h>

DWORD CompactPackage(LPCWSTR) {
    return QLTMSI_DEFRAG_NOTHING_CHANGED;
}
