/* Structured storage interfaces: IStorage, IStream, IEnumSTATSTG and their
 * types, with the SDK's names, method order and values. */
#ifndef WINSYS_OBJIDL_H
#define WINSYS_OBJIDL_H

#include "unknwn.h"
#include "combaseapi.h"

#ifndef WINSYS_HAVE_ULARGE_INTEGER
#define WINSYS_HAVE_ULARGE_INTEGER
typedef union _ULARGE_INTEGER {
    struct {
        DWORD LowPart;
        DWORD HighPart;
    } u;
    ULONGLONG QuadPart;
} ULARGE_INTEGER, *PULARGE_INTEGER;
#endif

typedef OLECHAR **SNB;

typedef struct tagSTATSTG {
    LPOLESTR pwcsName;
    DWORD type;
    ULARGE_INTEGER cbSize;
    FILETIME mtime;
    FILETIME ctime;
    FILETIME atime;
    DWORD grfMode;
    DWORD grfLocksSupported;
    CLSID clsid;
    DWORD grfStateBits;
    DWORD reserved;
} STATSTG;

typedef enum tagSTGTY {
    STGTY_STORAGE = 1,
    STGTY_STREAM = 2,
    STGTY_LOCKBYTES = 3,
    STGTY_PROPERTY = 4
} STGTY;

typedef enum tagSTREAM_SEEK {
    STREAM_SEEK_SET = 0,
    STREAM_SEEK_CUR = 1,
    STREAM_SEEK_END = 2
} STREAM_SEEK;

typedef enum tagLOCKTYPE {
    LOCK_WRITE = 1,
    LOCK_EXCLUSIVE = 2,
    LOCK_ONLYONCE = 4
} LOCKTYPE;

typedef enum tagSTGC {
    STGC_DEFAULT = 0,
    STGC_OVERWRITE = 1,
    STGC_ONLYIFCURRENT = 2,
    STGC_DANGEROUSLYCOMMITMERELYTODISKCACHE = 4,
    STGC_CONSOLIDATE = 8
} STGC;

typedef enum tagSTGMOVE {
    STGMOVE_MOVE = 0,
    STGMOVE_COPY = 1,
    STGMOVE_SHALLOWCOPY = 2
} STGMOVE;

typedef enum tagSTATFLAG {
    STATFLAG_DEFAULT = 0,
    STATFLAG_NONAME = 1,
    STATFLAG_NOOPEN = 2
} STATFLAG;

typedef struct ISequentialStream ISequentialStream;
typedef struct IStream IStream;
typedef struct IEnumSTATSTG IEnumSTATSTG;
typedef struct IStorage IStorage;
typedef IStream *LPSTREAM;
typedef IStorage *LPSTORAGE;
typedef IEnumSTATSTG *LPENUMSTATSTG;

WINSYS_BEGIN_DECLS
WINSYS_EXPORT extern const IID IID_ISequentialStream;
WINSYS_EXPORT extern const IID IID_IStream;
WINSYS_EXPORT extern const IID IID_IEnumSTATSTG;
WINSYS_EXPORT extern const IID IID_IStorage;
WINSYS_END_DECLS

#ifdef __cplusplus

struct ISequentialStream : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Read(void *pv, ULONG cb, ULONG *pcbRead) = 0;
    virtual HRESULT STDMETHODCALLTYPE Write(const void *pv, ULONG cb, ULONG *pcbWritten) = 0;
};

struct IStream : public ISequentialStream {
    virtual HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER *plibNewPosition) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER libNewSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE CopyTo(IStream *pstm, ULARGE_INTEGER cb, ULARGE_INTEGER *pcbRead,
                                             ULARGE_INTEGER *pcbWritten) = 0;
    virtual HRESULT STDMETHODCALLTYPE Commit(DWORD grfCommitFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE Revert(void) = 0;
    virtual HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) = 0;
    virtual HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) = 0;
    virtual HRESULT STDMETHODCALLTYPE Stat(STATSTG *pstatstg, DWORD grfStatFlag) = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IStream **ppstm) = 0;
};

struct IEnumSTATSTG : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG celt, STATSTG *rgelt, ULONG *pceltFetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG celt) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset(void) = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IEnumSTATSTG **ppenum) = 0;
};

struct IStorage : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CreateStream(const OLECHAR *pwcsName, DWORD grfMode, DWORD reserved1,
                                                   DWORD reserved2, IStream **ppstm) = 0;
    virtual HRESULT STDMETHODCALLTYPE OpenStream(const OLECHAR *pwcsName, void *reserved1, DWORD grfMode,
                                                 DWORD reserved2, IStream **ppstm) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateStorage(const OLECHAR *pwcsName, DWORD grfMode, DWORD reserved1,
                                                    DWORD reserved2, IStorage **ppstg) = 0;
    virtual HRESULT STDMETHODCALLTYPE OpenStorage(const OLECHAR *pwcsName, IStorage *pstgPriority, DWORD grfMode,
                                                  SNB snbExclude, DWORD reserved, IStorage **ppstg) = 0;
    virtual HRESULT STDMETHODCALLTYPE CopyTo(DWORD ciidExclude, const IID *rgiidExclude, SNB snbExclude,
                                             IStorage *pstgDest) = 0;
    virtual HRESULT STDMETHODCALLTYPE MoveElementTo(const OLECHAR *pwcsName, IStorage *pstgDest,
                                                    const OLECHAR *pwcsNewName, DWORD grfFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE Commit(DWORD grfCommitFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE Revert(void) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumElements(DWORD reserved1, void *reserved2, DWORD reserved3,
                                                   IEnumSTATSTG **ppenum) = 0;
    virtual HRESULT STDMETHODCALLTYPE DestroyElement(const OLECHAR *pwcsName) = 0;
    virtual HRESULT STDMETHODCALLTYPE RenameElement(const OLECHAR *pwcsOldName, const OLECHAR *pwcsNewName) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetElementTimes(const OLECHAR *pwcsName, const FILETIME *pctime,
                                                      const FILETIME *patime, const FILETIME *pmtime) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetClass(REFCLSID clsid) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetStateBits(DWORD grfStateBits, DWORD grfMask) = 0;
    virtual HRESULT STDMETHODCALLTYPE Stat(STATSTG *pstatstg, DWORD grfStatFlag) = 0;
};

#else /* C */

typedef struct IStreamVtbl {
    HRESULT (STDMETHODCALLTYPE *QueryInterface)(IStream *This, REFIID riid, void **ppvObject);
    ULONG (STDMETHODCALLTYPE *AddRef)(IStream *This);
    ULONG (STDMETHODCALLTYPE *Release)(IStream *This);
    HRESULT (STDMETHODCALLTYPE *Read)(IStream *This, void *pv, ULONG cb, ULONG *pcbRead);
    HRESULT (STDMETHODCALLTYPE *Write)(IStream *This, const void *pv, ULONG cb, ULONG *pcbWritten);
    HRESULT (STDMETHODCALLTYPE *Seek)(IStream *This, LARGE_INTEGER dlibMove, DWORD dwOrigin,
                                      ULARGE_INTEGER *plibNewPosition);
    HRESULT (STDMETHODCALLTYPE *SetSize)(IStream *This, ULARGE_INTEGER libNewSize);
    HRESULT (STDMETHODCALLTYPE *CopyTo)(IStream *This, IStream *pstm, ULARGE_INTEGER cb, ULARGE_INTEGER *pcbRead,
                                        ULARGE_INTEGER *pcbWritten);
    HRESULT (STDMETHODCALLTYPE *Commit)(IStream *This, DWORD grfCommitFlags);
    HRESULT (STDMETHODCALLTYPE *Revert)(IStream *This);
    HRESULT (STDMETHODCALLTYPE *LockRegion)(IStream *This, ULARGE_INTEGER libOffset, ULARGE_INTEGER cb,
                                            DWORD dwLockType);
    HRESULT (STDMETHODCALLTYPE *UnlockRegion)(IStream *This, ULARGE_INTEGER libOffset, ULARGE_INTEGER cb,
                                              DWORD dwLockType);
    HRESULT (STDMETHODCALLTYPE *Stat)(IStream *This, STATSTG *pstatstg, DWORD grfStatFlag);
    HRESULT (STDMETHODCALLTYPE *Clone)(IStream *This, IStream **ppstm);
} IStreamVtbl;
struct IStream {
    CONST_VTBL IStreamVtbl *lpVtbl;
};

typedef struct IEnumSTATSTGVtbl {
    HRESULT (STDMETHODCALLTYPE *QueryInterface)(IEnumSTATSTG *This, REFIID riid, void **ppvObject);
    ULONG (STDMETHODCALLTYPE *AddRef)(IEnumSTATSTG *This);
    ULONG (STDMETHODCALLTYPE *Release)(IEnumSTATSTG *This);
    HRESULT (STDMETHODCALLTYPE *Next)(IEnumSTATSTG *This, ULONG celt, STATSTG *rgelt, ULONG *pceltFetched);
    HRESULT (STDMETHODCALLTYPE *Skip)(IEnumSTATSTG *This, ULONG celt);
    HRESULT (STDMETHODCALLTYPE *Reset)(IEnumSTATSTG *This);
    HRESULT (STDMETHODCALLTYPE *Clone)(IEnumSTATSTG *This, IEnumSTATSTG **ppenum);
} IEnumSTATSTGVtbl;
struct IEnumSTATSTG {
    CONST_VTBL IEnumSTATSTGVtbl *lpVtbl;
};

typedef struct IStorageVtbl {
    HRESULT (STDMETHODCALLTYPE *QueryInterface)(IStorage *This, REFIID riid, void **ppvObject);
    ULONG (STDMETHODCALLTYPE *AddRef)(IStorage *This);
    ULONG (STDMETHODCALLTYPE *Release)(IStorage *This);
    HRESULT (STDMETHODCALLTYPE *CreateStream)(IStorage *This, const OLECHAR *pwcsName, DWORD grfMode,
                                              DWORD reserved1, DWORD reserved2, IStream **ppstm);
    HRESULT (STDMETHODCALLTYPE *OpenStream)(IStorage *This, const OLECHAR *pwcsName, void *reserved1,
                                            DWORD grfMode, DWORD reserved2, IStream **ppstm);
    HRESULT (STDMETHODCALLTYPE *CreateStorage)(IStorage *This, const OLECHAR *pwcsName, DWORD grfMode,
                                               DWORD reserved1, DWORD reserved2, IStorage **ppstg);
    HRESULT (STDMETHODCALLTYPE *OpenStorage)(IStorage *This, const OLECHAR *pwcsName, IStorage *pstgPriority,
                                             DWORD grfMode, SNB snbExclude, DWORD reserved, IStorage **ppstg);
    HRESULT (STDMETHODCALLTYPE *CopyTo)(IStorage *This, DWORD ciidExclude, const IID *rgiidExclude,
                                        SNB snbExclude, IStorage *pstgDest);
    HRESULT (STDMETHODCALLTYPE *MoveElementTo)(IStorage *This, const OLECHAR *pwcsName, IStorage *pstgDest,
                                               const OLECHAR *pwcsNewName, DWORD grfFlags);
    HRESULT (STDMETHODCALLTYPE *Commit)(IStorage *This, DWORD grfCommitFlags);
    HRESULT (STDMETHODCALLTYPE *Revert)(IStorage *This);
    HRESULT (STDMETHODCALLTYPE *EnumElements)(IStorage *This, DWORD reserved1, void *reserved2, DWORD reserved3,
                                              IEnumSTATSTG **ppenum);
    HRESULT (STDMETHODCALLTYPE *DestroyElement)(IStorage *This, const OLECHAR *pwcsName);
    HRESULT (STDMETHODCALLTYPE *RenameElement)(IStorage *This, const OLECHAR *pwcsOldName,
                                               const OLECHAR *pwcsNewName);
    HRESULT (STDMETHODCALLTYPE *SetElementTimes)(IStorage *This, const OLECHAR *pwcsName, const FILETIME *pctime,
                                                 const FILETIME *patime, const FILETIME *pmtime);
    HRESULT (STDMETHODCALLTYPE *SetClass)(IStorage *This, REFCLSID clsid);
    HRESULT (STDMETHODCALLTYPE *SetStateBits)(IStorage *This, DWORD grfStateBits, DWORD grfMask);
    HRESULT (STDMETHODCALLTYPE *Stat)(IStorage *This, STATSTG *pstatstg, DWORD grfStatFlag);
} IStorageVtbl;
struct IStorage {
    CONST_VTBL IStorageVtbl *lpVtbl;
};

#ifdef COBJMACROS
#define IStream_QueryInterface(This, riid, ppv) (This)->lpVtbl->QueryInterface(This, riid, ppv)
#define IStream_AddRef(This) (This)->lpVtbl->AddRef(This)
#define IStream_Release(This) (This)->lpVtbl->Release(This)
#define IStream_Read(This, pv, cb, pcbRead) (This)->lpVtbl->Read(This, pv, cb, pcbRead)
#define IStream_Write(This, pv, cb, pcbWritten) (This)->lpVtbl->Write(This, pv, cb, pcbWritten)
#define IStream_Seek(This, dlibMove, dwOrigin, plibNewPosition) (This)->lpVtbl->Seek(This, dlibMove, dwOrigin, plibNewPosition)
#define IStream_SetSize(This, libNewSize) (This)->lpVtbl->SetSize(This, libNewSize)
#define IStream_CopyTo(This, pstm, cb, pcbRead, pcbWritten) (This)->lpVtbl->CopyTo(This, pstm, cb, pcbRead, pcbWritten)
#define IStream_Commit(This, grfCommitFlags) (This)->lpVtbl->Commit(This, grfCommitFlags)
#define IStream_Revert(This) (This)->lpVtbl->Revert(This)
#define IStream_LockRegion(This, libOffset, cb, dwLockType) (This)->lpVtbl->LockRegion(This, libOffset, cb, dwLockType)
#define IStream_UnlockRegion(This, libOffset, cb, dwLockType) (This)->lpVtbl->UnlockRegion(This, libOffset, cb, dwLockType)
#define IStream_Stat(This, pstatstg, grfStatFlag) (This)->lpVtbl->Stat(This, pstatstg, grfStatFlag)
#define IStream_Clone(This, ppstm) (This)->lpVtbl->Clone(This, ppstm)
#define IEnumSTATSTG_QueryInterface(This, riid, ppv) (This)->lpVtbl->QueryInterface(This, riid, ppv)
#define IEnumSTATSTG_AddRef(This) (This)->lpVtbl->AddRef(This)
#define IEnumSTATSTG_Release(This) (This)->lpVtbl->Release(This)
#define IEnumSTATSTG_Next(This, celt, rgelt, pceltFetched) (This)->lpVtbl->Next(This, celt, rgelt, pceltFetched)
#define IEnumSTATSTG_Skip(This, celt) (This)->lpVtbl->Skip(This, celt)
#define IEnumSTATSTG_Reset(This) (This)->lpVtbl->Reset(This)
#define IEnumSTATSTG_Clone(This, ppenum) (This)->lpVtbl->Clone(This, ppenum)
#define IStorage_QueryInterface(This, riid, ppv) (This)->lpVtbl->QueryInterface(This, riid, ppv)
#define IStorage_AddRef(This) (This)->lpVtbl->AddRef(This)
#define IStorage_Release(This) (This)->lpVtbl->Release(This)
#define IStorage_CreateStream(This, pwcsName, grfMode, reserved1, reserved2, ppstm) (This)->lpVtbl->CreateStream(This, pwcsName, grfMode, reserved1, reserved2, ppstm)
#define IStorage_OpenStream(This, pwcsName, reserved1, grfMode, reserved2, ppstm) (This)->lpVtbl->OpenStream(This, pwcsName, reserved1, grfMode, reserved2, ppstm)
#define IStorage_CreateStorage(This, pwcsName, grfMode, reserved1, reserved2, ppstg) (This)->lpVtbl->CreateStorage(This, pwcsName, grfMode, reserved1, reserved2, ppstg)
#define IStorage_OpenStorage(This, pwcsName, pstgPriority, grfMode, snbExclude, reserved, ppstg) (This)->lpVtbl->OpenStorage(This, pwcsName, pstgPriority, grfMode, snbExclude, reserved, ppstg)
#define IStorage_CopyTo(This, ciidExclude, rgiidExclude, snbExclude, pstgDest) (This)->lpVtbl->CopyTo(This, ciidExclude, rgiidExclude, snbExclude, pstgDest)
#define IStorage_MoveElementTo(This, pwcsName, pstgDest, pwcsNewName, grfFlags) (This)->lpVtbl->MoveElementTo(This, pwcsName, pstgDest, pwcsNewName, grfFlags)
#define IStorage_Commit(This, grfCommitFlags) (This)->lpVtbl->Commit(This, grfCommitFlags)
#define IStorage_Revert(This) (This)->lpVtbl->Revert(This)
#define IStorage_EnumElements(This, reserved1, reserved2, reserved3, ppenum) (This)->lpVtbl->EnumElements(This, reserved1, reserved2, reserved3, ppenum)
#define IStorage_DestroyElement(This, pwcsName) (This)->lpVtbl->DestroyElement(This, pwcsName)
#define IStorage_RenameElement(This, pwcsOldName, pwcsNewName) (This)->lpVtbl->RenameElement(This, pwcsOldName, pwcsNewName)
#define IStorage_SetElementTimes(This, pwcsName, pctime, patime, pmtime) (This)->lpVtbl->SetElementTimes(This, pwcsName, pctime, patime, pmtime)
#define IStorage_SetClass(This, clsid) (This)->lpVtbl->SetClass(This, clsid)
#define IStorage_SetStateBits(This, grfStateBits, grfMask) (This)->lpVtbl->SetStateBits(This, grfStateBits, grfMask)
#define IStorage_Stat(This, pstatstg, grfStatFlag) (This)->lpVtbl->Stat(This, pstatstg, grfStatFlag)
#endif

#endif /* C */

#endif
