/* Windows Installer: handles and the product/component queries, as the SDK's
 * msi.h declares them. The database calls are in msiquery.h. */
#ifndef WINSYS_MSI_H
#define WINSYS_MSI_H

#include "windef.h"
#include "winerror.h"

WINSYS_BEGIN_DECLS

typedef uint32_t MSIHANDLE;

typedef enum tagINSTALLSTATE {
    INSTALLSTATE_NOTUSED = -7,
    INSTALLSTATE_BADCONFIG = -6,
    INSTALLSTATE_INCOMPLETE = -5,
    INSTALLSTATE_SOURCEABSENT = -4,
    INSTALLSTATE_MOREDATA = -3,
    INSTALLSTATE_INVALIDARG = -2,
    INSTALLSTATE_UNKNOWN = -1,
    INSTALLSTATE_BROKEN = 0,
    INSTALLSTATE_ADVERTISED = 1,
    INSTALLSTATE_REMOVED = 1,
    INSTALLSTATE_ABSENT = 2,
    INSTALLSTATE_LOCAL = 3,
    INSTALLSTATE_SOURCE = 4,
    INSTALLSTATE_DEFAULT = 5
} INSTALLSTATE;

#define INSTALLPROPERTY_LOCALPACKAGE u"LocalPackage"

WINSYS_EXPORT UINT WINAPI MsiCloseHandle(MSIHANDLE hAny);
WINSYS_EXPORT UINT WINAPI MsiCloseAllHandles(void);

WINSYS_EXPORT UINT WINAPI MsiGetProductInfoW(LPCWSTR szProduct, LPCWSTR szAttribute, LPWSTR lpValueBuf, DWORD *pcchValueBuf);
WINSYS_EXPORT INSTALLSTATE WINAPI MsiGetComponentPathW(LPCWSTR szProduct, LPCWSTR szComponent, LPWSTR lpPathBuf, DWORD *pcchBuf);
WINSYS_EXPORT UINT WINAPI MsiGetFileVersionW(LPCWSTR szFilePath, LPWSTR lpVersionBuf, DWORD *pcchVersionBuf, LPWSTR lpLangBuf, DWORD *pcchLangBuf);

WINSYS_END_DECLS

#endif
