// The table of file, registry, module and resource calls that every other
// part of the library goes through. It takes wide text everywhere; on systems
// of the Windows 95 family it is filled with wrappers over the narrow calls.
#pragma once

#include <windows.h>

struct PlatformCalls {
    DWORD(WINAPI* shortPathName)(LPCWSTR longPath, LPWSTR shortPath, DWORD size);
    DWORD(WINAPI* tempPath)(DWORD size, LPWSTR buffer);
    UINT(WINAPI* tempFileName)(LPCWSTR directory, LPCWSTR prefix, UINT unique, LPWSTR buffer);
    BOOL(WINAPI* deleteFile)(LPCWSTR name);
    BOOL(WINAPI* copyFile)(LPCWSTR from, LPCWSTR to, BOOL failIfExists);
    BOOL(WINAPI* moveFile)(LPCWSTR from, LPCWSTR to);
    DWORD(WINAPI* fileAttributes)(LPCWSTR name);
    HANDLE(WINAPI* createFile)
    (LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD creation,
     DWORD flags, HANDLE templateFile);
    LONG(WINAPI* regOpenKey)(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result);
    LONG(WINAPI* regCreateKey)
    (HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options, REGSAM access,
     LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD disposition);
    LONG(WINAPI* regQueryValue)
    (HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size);
    LONG(WINAPI* regSetValue)
    (HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size);
    DWORD(WINAPI* moduleFileName)(HMODULE module, LPWSTR buffer, DWORD size);
    BOOL(WINAPI* fileVersionInfo)(LPCWSTR name, DWORD handle, DWORD size, LPVOID data);
    BOOL(WINAPI* verQueryValue)(LPCVOID block, LPCWSTR subBlock, LPVOID* buffer, PUINT length);
    DWORD(WINAPI* fileVersionInfoSize)(LPCWSTR name, LPDWORD handle);
    UINT(WINAPI* windowsDirectory)(LPWSTR buffer, UINT size);
    int(WINAPI* loadString)(HINSTANCE instance, UINT id, LPWSTR buffer, int size);
    LONG(WINAPI* regDeleteKey)(HKEY key, LPCWSTR subKey);
    BOOL(WINAPI* createDirectory)(LPCWSTR name, LPSECURITY_ATTRIBUTES security);
    BOOL(WINAPI* removeDirectory)(LPCWSTR name);
    HANDLE(WINAPI* findFirstFile)(LPCWSTR pattern, LPWIN32_FIND_DATAW data);
    BOOL(WINAPI* findNextFile)(HANDLE find, LPWIN32_FIND_DATAW data);
    BOOL(WINAPI* moveFileEx)(LPCWSTR from, LPCWSTR to, DWORD flags);
    // The library's locks and the working copy's attributes: the wide forms
    // of these fail on the Windows 95 family as well.
    HANDLE(WINAPI* createMutex)(LPSECURITY_ATTRIBUTES security, BOOL initialOwner, LPCWSTR name);
    BOOL(WINAPI* setFileAttributes)(LPCWSTR name, DWORD attributes);
};

// Written once while the library is loaded, read-only afterwards.
extern PlatformCalls platformCalls;

// Bytes that one character of a registry string takes in the system's own
// call: 2 with the wide calls, 1 with the narrow ones. Registry byte counts
// are characters times this.
extern DWORD registryCharWidth;

// Chooses the wide calls or the narrow fallbacks from GetVersion.
void FillPlatformCalls();

// The same choice for a given version value: the high bit set means a
// Windows 95-family system.
void SelectPlatformCalls(DWORD version);
