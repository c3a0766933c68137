/* IUnknown, the base of every COM interface. In C++ interfaces are classes of
 * pure virtual functions; in C they are structs whose first member points at
 * a table of functions in the same order, so both call the same objects. */
#ifndef WINSYS_UNKNWN_H
#define WINSYS_UNKNWN_H

#include "windef.h"
#include "winerror.h"

#ifndef STDMETHODCALLTYPE
#define STDMETHODCALLTYPE
#endif
#ifndef CONST_VTBL
#define CONST_VTBL const
#endif

typedef struct IUnknown IUnknown;
typedef IUnknown *LPUNKNOWN;

WINSYS_BEGIN_DECLS
WINSYS_EXPORT extern const IID IID_IUnknown;
WINSYS_END_DECLS

#ifdef __cplusplus
struct IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppvObject) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef(void) = 0;
    virtual ULONG STDMETHODCALLTYPE Release(void) = 0;
};
#else
typedef struct IUnknownVtbl {
    HRESULT (STDMETHODCALLTYPE *QueryInterface)(IUnknown *This, REFIID riid, void **ppvObject);
    ULONG (STDMETHODCALLTYPE *AddRef)(IUnknown *This);
    ULONG (STDMETHODCALLTYPE *Release)(IUnknown *This);
} IUnknownVtbl;
struct IUnknown {
    CONST_VTBL IUnknownVtbl *lpVtbl;
};
#ifdef COBJMACROS
#define IUnknown_QueryInterface(This, riid, ppvObject) (This)->lpVtbl->QueryInterface(This, riid, ppvObject)
#define IUnknown_AddRef(This) (This)->lpVtbl->AddRef(This)
#define IUnknown_Release(This) (This)->lpVtbl->Release(This)
#endif
#endif

#endif
