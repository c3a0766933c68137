/* The C-language probe of structured storage. */
#ifndef STORAGE_C_PROBE_H
#define STORAGE_C_PROBE_H

#include <objidl.h>

WINSYS_BEGIN_DECLS
HRESULT c_probe_compact(const WCHAR *source, const WCHAR *target, CLSID *rootClass, ULONG *elements);
WINSYS_END_DECLS

#endif
