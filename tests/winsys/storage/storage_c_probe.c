/* Structured storage called from C through the interfaces' function tables,
 * as C callers of the SDK do: compacts `source` into `target` and reports the
 * first failing step's HRESULT, or the target's root class id on success. */
#define COBJMACROS
#include <ole2.h>

#include "storage_c_probe.h"

HRESULT c_probe_compact(const WCHAR *source, const WCHAR *target, CLSID *rootClass, ULONG *elements)
{
    IStorage *from = NULL, *to = NULL;
    IEnumSTATSTG *items = NULL;
    STATSTG st;
    ULONG fetched = 0;
    HRESULT hr = StgOpenStorage(source, NULL, STGM_READ | STGM_SHARE_DENY_WRITE, NULL, 0, &from);
    if (FAILED(hr)) return hr;
    hr = StgCreateDocfile(target, STGM_CREATE | STGM_SHARE_EXCLUSIVE | STGM_WRITE, 0, &to);
    if (FAILED(hr)) {
        IStorage_Release(from);
        return hr;
    }
    hr = IStorage_CopyTo(from, 0, NULL, NULL, to);
    IStorage_Release(to);
    IStorage_Release(from);
    if (FAILED(hr)) return hr;

    hr = StgOpenStorage(target, NULL, STGM_READ | STGM_SHARE_EXCLUSIVE, NULL, 0, &to);
    if (FAILED(hr)) return hr;
    hr = IStorage_Stat(to, &st, STATFLAG_DEFAULT);
    if (SUCCEEDED(hr)) {
        *rootClass = st.clsid;
        CoTaskMemFree(st.pwcsName);
        hr = IStorage_EnumElements(to, 0, NULL, 0, &items);
    }
    *elements = 0;
    while (SUCCEEDED(hr) && IEnumSTATSTG_Next(items, 1, &st, &fetched) == S_OK) {
        ++*elements;
        CoTaskMemFree(st.pwcsName);
    }
    if (items) IEnumSTATSTG_Release(items);
    IStorage_Release(to);
    return hr;
}
