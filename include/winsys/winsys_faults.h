/* winsys's own test API, not part of the Windows SDK: make the Nth call of
 * one kind fail with a chosen Windows error, and count the calls of each
 * kind. The kinds cover every layer of winsys, the compound-file writer and
 * the registry store included. The WINSYS_FAIL environment variable arms the
 * same faults for a whole process ("write:3:disk_full,move:1+:5"), and
 * WINSYS_FAULT_COUNTS names a file that gets the counts at exit. */
#ifndef WINSYS_FAULTS_H
#define WINSYS_FAULTS_H

#include "windef.h"

#define WINSYS_FAULT_OPEN 0     /* CreateFile, _open, compound-file and temporary creation */
#define WINSYS_FAULT_WRITE 1    /* WriteFile, _write, compound-file and copy writes */
#define WINSYS_FAULT_FLUSH 2    /* FlushFileBuffers and every fsync before a replacement */
#define WINSYS_FAULT_MOVE 3     /* MoveFile(Ex), CopyFile, the compound file's final rename */
#define WINSYS_FAULT_DELETE 4   /* DeleteFile, RemoveDirectory, _unlink */
#define WINSYS_FAULT_REGISTRY 5 /* every registry call that writes */
#define WINSYS_FAULT_TEMPNAME 6 /* GetTempFileName, _tempnam */
#define WINSYS_FAULT_KINDS 7

WINSYS_BEGIN_DECLS
/* Clears the counts and every armed fault. */
WINSYS_EXPORT void WINAPI WinsysFaultsReset(void);
/* Fails the `call`th call of `kind` from now (1 is the next one) with
 * `error`; with `persistent`, every later call of that kind too. */
WINSYS_EXPORT BOOL WINAPI WinsysFaultsArm(DWORD kind, DWORD call, DWORD error, BOOL persistent);
/* Calls of `kind` since the last reset. */
WINSYS_EXPORT DWORD WINAPI WinsysFaultsCount(DWORD kind);
/* Calls failed by injection since the last reset. */
WINSYS_EXPORT DWORD WINAPI WinsysFaultsFired(void);
WINSYS_END_DECLS

#endif
