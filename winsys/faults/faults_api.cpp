// The exported test API of fault injection.
#include <windows.h>
#include <winsys_faults.h>

#include "faults/faults.h"

extern "C" {

WINSYS_EXPORT void WINAPI WinsysFaultsReset(void) {
    winsys::faults::reset();
}

WINSYS_EXPORT BOOL WINAPI WinsysFaultsArm(DWORD kind, DWORD call, DWORD error, BOOL persistent) {
    return winsys::faults::arm(kind, call, error, persistent != FALSE) ? TRUE : FALSE;
}

WINSYS_EXPORT DWORD WINAPI WinsysFaultsCount(DWORD kind) {
    return winsys::faults::count(kind);
}

WINSYS_EXPORT DWORD WINAPI WinsysFaultsFired(void) {
    return winsys::faults::fired();
}
}
