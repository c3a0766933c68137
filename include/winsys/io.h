/* The C runtime's low-level file calls with the flag values Windows uses:
 * descriptors over winsys paths, as the cabinet callbacks expect. */
#ifndef WINSYS_IO_H
#define WINSYS_IO_H

#include "windef.h"

#define _O_RDONLY 0x0000
#define _O_WRONLY 0x0001
#define _O_RDWR 0x0002
#define _O_APPEND 0x0008
#define _O_CREAT 0x0100
#define _O_TRUNC 0x0200
#define _O_EXCL 0x0400
#define _O_TEXT 0x4000
#define _O_BINARY 0x8000
#define _O_TEMPORARY 0x0040
#define _O_NOINHERIT 0x0080
#define _O_SEQUENTIAL 0x0020
#define _O_RANDOM 0x0010
#define _S_IREAD 0x0100
#define _S_IWRITE 0x0080

WINSYS_BEGIN_DECLS
WINSYS_EXPORT int __cdecl _open(const char *name, int flags, ...);
WINSYS_EXPORT int __cdecl _read(int fd, void *buffer, unsigned int count);
WINSYS_EXPORT int __cdecl _write(int fd, const void *buffer, unsigned int count);
WINSYS_EXPORT int __cdecl _close(int fd);
WINSYS_EXPORT long __cdecl _lseek(int fd, long offset, int origin);
WINSYS_EXPORT char *__cdecl _tempnam(const char *dir, const char *prefix);
WINSYS_EXPORT int __cdecl _unlink(const char *name);
WINSYS_END_DECLS

#endif
