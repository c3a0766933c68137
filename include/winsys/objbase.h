/* COM basics the library needs: GUID parsing. Structured storage lives in
 * objidl.h and ole2.h. */
#ifndef WINSYS_OBJBASE_H
#define WINSYS_OBJBASE_H

#include "windef.h"
#include "winerror.h"
#include "coml2api.h"

WINSYS_BEGIN_DECLS
WINSYS_EXPORT HRESULT WINAPI CLSIDFromString(LPCOLESTR text, LPCLSID clsid);
WINSYS_EXPORT int WINAPI StringFromGUID2(REFGUID guid, LPOLESTR buffer, int size);
WINSYS_END_DECLS

#endif
