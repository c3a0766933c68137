/* Version resources of PE files and of our own modules. */
#ifndef WINSYS_WINVER_H
#define WINSYS_WINVER_H

#include "windef.h"

typedef struct tagVS_FIXEDFILEINFO {
    DWORD dwSignature;
    DWORD dwStrucVersion;
    DWORD dwFileVersionMS;
    DWORD dwFileVersionLS;
    DWORD dwProductVersionMS;
    DWORD dwProductVersionLS;
    DWORD dwFileFlagsMask;
    DWORD dwFileFlags;
    DWORD dwFileOS;
    DWORD dwFileType;
    DWORD dwFileSubtype;
    DWORD dwFileDateMS;
    DWORD dwFileDateLS;
} VS_FIXEDFILEINFO;

#define VS_FFI_SIGNATURE 0xFEEF04BDL

WINSYS_BEGIN_DECLS
WINSYS_EXPORT DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR name, LPDWORD handle);
WINSYS_EXPORT DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR name, LPDWORD handle);
WINSYS_EXPORT BOOL WINAPI GetFileVersionInfoW(LPCWSTR name, DWORD handle, DWORD size, LPVOID data);
WINSYS_EXPORT BOOL WINAPI GetFileVersionInfoA(LPCSTR name, DWORD handle, DWORD size, LPVOID data);
WINSYS_EXPORT BOOL WINAPI VerQueryValueW(LPCVOID block, LPCWSTR subBlock, LPVOID *buffer, PUINT len);
WINSYS_EXPORT BOOL WINAPI VerQueryValueA(LPCVOID block, LPCSTR subBlock, LPVOID *buffer, PUINT len);
WINSYS_END_DECLS

#endif
