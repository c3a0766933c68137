/* String resources and the wsprintf formatter. */
#ifndef WINSYS_WINUSER_H
#define WINSYS_WINUSER_H

#include "windef.h"

#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_SHOW 5

WINSYS_BEGIN_DECLS
WINSYS_EXPORT int WINAPI LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int size);
WINSYS_EXPORT int WINAPI LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int size);
WINSYS_EXPORT int WINAPIV wsprintfW(LPWSTR buffer, LPCWSTR format, ...);
WINSYS_EXPORT int WINAPIV wsprintfA(LPSTR buffer, LPCSTR format, ...);
WINSYS_END_DECLS

#endif
