/* Code-page conversion. CP_ACP, the ANSI code page, is UTF-8 on POSIX hosts. */
#ifndef WINSYS_WINNLS_H
#define WINSYS_WINNLS_H

#include "windef.h"

#define CP_ACP 0
#define CP_OEMCP 1
#define CP_THREAD_ACP 3
#define CP_UTF8 65001
#define MB_PRECOMPOSED 0x00000001
#define MB_ERR_INVALID_CHARS 0x00000008
#define WC_NO_BEST_FIT_CHARS 0x00000400
#define WC_ERR_INVALID_CHARS 0x00000080

WINSYS_BEGIN_DECLS
WINSYS_EXPORT int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR src, int srcLen, LPWSTR dst, int dstLen);
WINSYS_EXPORT int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR src, int srcLen, LPSTR dst, int dstLen, LPCSTR defaultChar, LPBOOL usedDefault);
WINSYS_EXPORT UINT WINAPI GetACP(void);
WINSYS_END_DECLS

#endif
