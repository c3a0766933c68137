/* The COM task allocator: names returned by Stat and EnumElements are
 * allocated with it and freed by the caller with CoTaskMemFree. */
#ifndef WINSYS_COMBASEAPI_H
#define WINSYS_COMBASEAPI_H

#include "windef.h"

WINSYS_BEGIN_DECLS
WINSYS_EXPORT LPVOID WINAPI CoTaskMemAlloc(SIZE_T cb);
WINSYS_EXPORT LPVOID WINAPI CoTaskMemRealloc(LPVOID pv, SIZE_T cb);
WINSYS_EXPORT void WINAPI CoTaskMemFree(LPVOID pv);
WINSYS_END_DECLS

#endif
