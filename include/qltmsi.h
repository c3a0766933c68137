/* qltmsi32: updates files inside the cached Windows Installer package of an
 * installed product. The public interface for both platforms: the eleven
 * exported functions, the progress callback type and the status codes.
 *
 * Windows: the functions are __stdcall on 32-bit x86 (WINAPI), exported from
 * qltmsi32.dll under undecorated names at ordinals 1 to 11; wide text is
 * wchar_t (UTF-16), narrow text is in the ANSI code page.
 * Linux: libqltmsi32.so, C linkage, wide text is char16_t (UTF-16), narrow
 * text is UTF-8. This header needs nothing but the C standard headers. */
#ifndef QLTMSI_H
#define QLTMSI_H

#include <stdint.h>

#if defined(_WIN32)
#define QLTMSI_CALL __stdcall
#if defined(QLTMSI_BUILDING_LIBRARY)
/* the .def file names the exports */
#define QLTMSI_API
#else
#define QLTMSI_API __declspec(dllimport)
#endif
typedef wchar_t QLTMSI_WCHAR;
typedef unsigned long QLTMSI_DWORD; /* DWORD: 32 bits */
#else
#define QLTMSI_CALL
#define QLTMSI_API __attribute__((visibility("default")))
#if !defined(__cplusplus)
#include <uchar.h>
#endif
typedef char16_t QLTMSI_WCHAR;
typedef uint32_t QLTMSI_DWORD;
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Statuses: 0 for success, otherwise one of the codes below. */
typedef QLTMSI_DWORD QLTMSI_STATUS;

/* Window and instance handles, as rundll32 passes them; the same struct tags
 * as the platform's HWND and HINSTANCE. */
struct HWND__;
struct HINSTANCE__;

/* Handle numbers from QLTMsiOpen: 0..32767, or QLTMSI_HANDLE_ALREADY_OPEN. */
typedef int QLTMSI_HANDLE;
#define QLTMSI_HANDLE_ALREADY_OPEN (-1)

/* Progress: code 9 with the narrow progress text (data is a const char *),
 * code 21 with null before and after each long step. Called on the thread of
 * the exported call while that call runs. */
#define QLTMSI_PROGRESS_TEXT 9
#define QLTMSI_PROGRESS_TICK 21
typedef void(QLTMSI_CALL* QLTMSI_PROGRESS_CALLBACK)(int code, void* data);

/* Status codes of the library itself. */
#define QLTMSI_SUCCESS 0u
#define QLTMSI_ERROR_BUSY_OR_BAD_HANDLE 4096u /* wrong handle, or another call runs */
#define QLTMSI_ERROR_NO_PATCH_CONTEXT 4097u   /* no QLTMsiOpenDatabase in force */
#define QLTMSI_ERROR_NO_BACKUP_STRING 4098u   /* no undo record was made */
#define QLTMSI_ERROR_BUFFER_TOO_SMALL 4099u   /* *size now holds what is needed */
#define QLTMSI_ERROR_WORKING_COPY 4100u       /* the package could not be copied */
#define QLTMSI_ERROR_OLD_CABINET 4102u        /* the previous cabinet is unreadable */
#define QLTMSI_ERROR_CABINET 4105u            /* building or storing a cabinet failed */
/* Used inside the undo record only; no export returns them. */
/* 4101: no temporary file for the reverse transform */
#define QLTMSI_ERROR_REVERSE_TRANSFORM_FILE 4101u
#define QLTMSI_ERROR_UNDO_RECORD 4107u /* the undo record could not be made */

/* Windows and Windows Installer codes that the library returns as they are. */
#define QLTMSI_ERROR_EXTRACTION 5u             /* ERROR_ACCESS_DENIED: old cabinet not prepared */
#define QLTMSI_ERROR_NO_DATABASE 6u            /* ERROR_INVALID_HANDLE: no database open */
#define QLTMSI_ERROR_NOT_ENOUGH_MEMORY 8u      /* ERROR_NOT_ENOUGH_MEMORY */
#define QLTMSI_ERROR_TRANSFORM_FAILED 14u      /* the caller's transform did not apply */
#define QLTMSI_ERROR_PACKAGE_CODE_MISMATCH 16u /* installed package is not the required one */
#define QLTMSI_ERROR_INVALID_PARAMETER 87u     /* ERROR_INVALID_PARAMETER */
#define QLTMSI_ERROR_NO_MORE_ITEMS 259u        /* ERROR_NO_MORE_ITEMS: file not in package */
#define QLTMSI_ERROR_UNKNOWN_PRODUCT 1605u     /* ERROR_UNKNOWN_PRODUCT */
#define QLTMSI_ERROR_BAD_QUERY_SYNTAX 1615u    /* ERROR_BAD_QUERY_SYNTAX: file not in package */
#define QLTMSI_ERROR_PACKAGE_IN_USE 1618u      /* ERROR_INSTALL_ALREADY_RUNNING: another process
                                                * is patching, restoring or compacting it */
#define QLTMSI_ERROR_FUNCTION_FAILED 1627u     /* ERROR_FUNCTION_FAILED: package not replaced */

/* No export returns it any more (builds that lacked an export answered it);
 * kept so that code written against those builds still compiles. */
#define QLTMSI_ERROR_CALL_NOT_IMPLEMENTED 120u /* ERROR_CALL_NOT_IMPLEMENTED */

/* DefragMsiFile results. 0 also when a compacted copy would be no smaller:
 * the package is then left as it is. 1 is a failure (no package at the path,
 * the package in use, no room for the copy, the copy not put in place), and
 * the package is left as it was. */
#define QLTMSI_DEFRAG_DONE 0u
#define QLTMSI_DEFRAG_FAILED 1u
#define QLTMSI_DEFRAG_NOTHING_CHANGED QLTMSI_DEFRAG_FAILED /* the earlier name of 1 */

/* Ordinal 1. A new handle number, or QLTMSI_HANDLE_ALREADY_OPEN. */
QLTMSI_API QLTMSI_HANDLE QLTMSI_CALL QLTMsiOpen(void);
/* Ordinal 2. Gives the handle back; tears down an open patch context. */
QLTMSI_API QLTMSI_STATUS QLTMSI_CALL QLTMsiClose(QLTMSI_HANDLE handle);
/* Ordinal 3. Opens the installed package of productCode. first and second are
 * each a package code in braces (required to match) or a transform file name
 * (relative to transformDirectory when that is given). */
QLTMSI_API QLTMSI_STATUS QLTMSI_CALL QLTMsiOpenDatabase(QLTMSI_HANDLE handle,
                                                        const QLTMSI_WCHAR* productCode,
                                                        const QLTMSI_WCHAR* first,
                                                        const QLTMSI_WCHAR* second,
                                                        const QLTMSI_WCHAR* transformDirectory,
                                                        QLTMSI_PROGRESS_CALLBACK callback);
/* Ordinal 4. Releases the opened package and its temporary files. */
QLTMSI_API QLTMSI_STATUS QLTMSI_CALL QLTMsiCloseDatabase(QLTMSI_HANDLE handle);
/* Ordinal 5. Replaces (or, without newFilePath, removes) an installed file. */
QLTMSI_API QLTMSI_STATUS QLTMSI_CALL QLTMsiUpdateFile(QLTMSI_HANDLE handle,
                                                      const QLTMSI_WCHAR* installedFilePath,
                                                      const QLTMSI_WCHAR* newFilePath,
                                                      const QLTMSI_WCHAR* newFileName);
/* Ordinal 6. Writes the changes into the installed package; with a backup
 * directory, first leaves an undo record there. */
QLTMSI_API QLTMSI_STATUS QLTMSI_CALL QLTMsiCommitChanges(QLTMSI_HANDLE handle,
                                                         const QLTMSI_WCHAR* backupDirectory);
/* Ordinal 7. The restore command line of the last commit. *size counts
 * characters, terminator included, and is set to what is needed. */
QLTMSI_API QLTMSI_STATUS QLTMSI_CALL QLTMsiGetBackupString(QLTMSI_HANDLE handle,
                                                           QLTMSI_WCHAR* buffer,
                                                           QLTMSI_DWORD* size);
/* Ordinal 8. The same in narrow text; *size counts bytes of the narrow text,
 * terminator included (the character count wherever the text is ASCII). */
QLTMSI_API QLTMSI_STATUS QLTMSI_CALL QLTMsiGetBackupStringA(QLTMSI_HANDLE handle, char* buffer,
                                                            QLTMSI_DWORD* size);
/* Ordinal 9. The text of the last failure, or null; valid until the next call
 * of this function or the end of the patch context. */
QLTMSI_API const char* QLTMSI_CALL QLTMsiGetLastErrorStrA(QLTMSI_HANDLE handle);
/* Ordinal 10. The restore entry point, in the form rundll32 calls. */
QLTMSI_API void QLTMSI_CALL QltMsiBackupSvr(struct HWND__* window, struct HINSTANCE__* instance,
                                            char* commandLine, int show);
/* Ordinal 11. Compacts a package file in place when that makes it smaller;
 * QLTMSI_DEFRAG_DONE or QLTMSI_DEFRAG_FAILED. */
QLTMSI_API QLTMSI_STATUS QLTMSI_CALL DefragMsiFile(const QLTMSI_WCHAR* packagePath);

#ifdef __cplusplus
}
#endif

#endif
