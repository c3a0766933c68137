// Placeholder until the cabinet binding lands: extraction fails.
#include "update/carry_over.h"
UINT ExtractCabinet(CabinetWorkArea&, LPCWSTR) { return 1; }
