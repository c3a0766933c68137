// Deleting files the library made itself. An extracted file keeps the
// attributes its cabinet recorded and a copy those of its source, so such a
// file may be read-only, which DeleteFileW refuses.
#pragma once

#include <windows.h>

// Clears a read-only attribute, then deletes the file; DeleteFileW's result.
BOOL DeleteOwnFile(LPCWSTR path);
