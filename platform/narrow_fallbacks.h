// Wide-text wrappers over the narrow ("A") system calls, for systems that
// offer only those. Each has the parameters and results of the wide call it
// stands in for.
#pragma once

#include <windows.h>

DWORD WINAPI NarrowShortPathName(LPCWSTR longPath, LPWSTR shortPath, DWORD size);
DWORD WINAPI NarrowTempPath(DWORD size, LPWSTR buffer);
UINT WINAPI NarrowTempFileName(LPCWSTR directory, LPCWSTR prefix, UINT unique, LPWSTR buffer);
BOOL WINAPI NarrowDeleteFile(LPCWSTR name);
BOOL WINAPI NarrowCopyFile(LPCWSTR from, LPCWSTR to, BOOL failIfExists);
BOOL WINAPI NarrowMoveFile(LPCWSTR from, LPCWSTR to);
// Systems of the Windows 95 family export MoveFileExA but answer
// ERROR_CALL_NOT_IMPLEMENTED; callers fall back on that answer.
BOOL WINAPI NarrowMoveFileEx(LPCWSTR from, LPCWSTR to, DWORD flags);
DWORD WINAPI NarrowFileAttributes(LPCWSTR name);
HANDLE WINAPI NarrowCreateFile(LPCWSTR name, DWORD access, DWORD share,
                               LPSECURITY_ATTRIBUTES security, DWORD creation, DWORD flags,
                               HANDLE templateFile);
BOOL WINAPI NarrowCreateDirectory(LPCWSTR name, LPSECURITY_ATTRIBUTES security);
BOOL WINAPI NarrowRemoveDirectory(LPCWSTR name);
HANDLE WINAPI NarrowFindFirstFile(LPCWSTR pattern, LPWIN32_FIND_DATAW data);
BOOL WINAPI NarrowFindNextFile(HANDLE find, LPWIN32_FIND_DATAW data);
BOOL WINAPI NarrowSetFileAttributes(LPCWSTR name, DWORD attributes);

HANDLE WINAPI NarrowCreateMutex(LPSECURITY_ATTRIBUTES security, BOOL initialOwner, LPCWSTR name);

LONG WINAPI NarrowRegOpenKey(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result);
LONG WINAPI NarrowRegCreateKey(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass,
                               DWORD options, REGSAM access, LPSECURITY_ATTRIBUTES security,
                               PHKEY result, LPDWORD disposition);
LONG WINAPI NarrowRegQueryValue(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                LPDWORD size);
LONG WINAPI NarrowRegSetValue(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                              DWORD size);
LONG WINAPI NarrowRegDeleteKey(HKEY key, LPCWSTR subKey);

DWORD WINAPI NarrowModuleFileName(HMODULE module, LPWSTR buffer, DWORD size);
BOOL WINAPI NarrowFileVersionInfo(LPCWSTR name, DWORD handle, DWORD size, LPVOID data);
BOOL WINAPI NarrowVerQueryValue(LPCVOID block, LPCWSTR subBlock, LPVOID* buffer, PUINT length);
DWORD WINAPI NarrowFileVersionInfoSize(LPCWSTR name, LPDWORD handle);
UINT WINAPI NarrowWindowsDirectory(LPWSTR buffer, UINT size);
int WINAPI NarrowLoadString(HINSTANCE instance, UINT id, LPWSTR buffer, int size);
