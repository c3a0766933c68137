/* Structured storage entry points and the STGM mode flags. */
#ifndef WINSYS_COML2API_H
#define WINSYS_COML2API_H

#include "objidl.h"

#define STGM_DIRECT 0x00000000L
#define STGM_TRANSACTED 0x00010000L
#define STGM_SIMPLE 0x08000000L
#define STGM_READ 0x00000000L
#define STGM_WRITE 0x00000001L
#define STGM_READWRITE 0x00000002L
#define STGM_SHARE_DENY_NONE 0x00000040L
#define STGM_SHARE_DENY_READ 0x00000030L
#define STGM_SHARE_DENY_WRITE 0x00000020L
#define STGM_SHARE_EXCLUSIVE 0x00000010L
#define STGM_PRIORITY 0x00040000L
#define STGM_DELETEONRELEASE 0x04000000L
#define STGM_NOSCRATCH 0x00100000L
#define STGM_CREATE 0x00001000L
#define STGM_CONVERT 0x00020000L
#define STGM_FAILIFTHERE 0x00000000L
#define STGM_NOSNAPSHOT 0x00200000L
#define STGM_DIRECT_SWMR 0x00400000L

WINSYS_BEGIN_DECLS
WINSYS_EXPORT HRESULT WINAPI StgCreateDocfile(const WCHAR *pwcsName, DWORD grfMode, DWORD reserved,
                                              IStorage **ppstgOpen);
WINSYS_EXPORT HRESULT WINAPI StgOpenStorage(const WCHAR *pwcsName, IStorage *pstgPriority, DWORD grfMode,
                                            SNB snbExclude, DWORD reserved, IStorage **ppstgOpen);
WINSYS_EXPORT HRESULT WINAPI StgIsStorageFile(const WCHAR *pwcsName);
WINSYS_END_DECLS

#endif
