// Narrow fallback for the mutexes behind the library's locks. Unnamed ones
// pass a null name on, so they stay unnamed.
#include "platform/narrow_fallbacks.h"
#include "platform/narrow_text.h"

HANDLE WINAPI NarrowCreateMutex(LPSECURITY_ATTRIBUTES security, BOOL initialOwner, LPCWSTR name) {
    NarrowArgument narrowName(name);
    if (!narrowName.fits()) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    return CreateMutexA(security, initialOwner, narrowName.get());
}
