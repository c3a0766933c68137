// The library's temporary files and folders, and what a process that died
// left of them. Each process lists the temporary names it makes in a ledger:
// a "qll" file in the system temporary folder that it holds open, shared
// only for reading, while it lists anything. A ledger that can be opened for
// writing therefore belongs to no living process, and the names it still
// lists that no living ledger lists are nobody's. A name alone, or a file's
// age, would not say that: a living process keeps some of its files closed
// between calls.
#pragma once

#include <windows.h>

// A new name from GetTempFileNameW's count, listed, then made as an empty
// file. 0, with the last error set and no file left, when that fails.
UINT MakeTemporaryFile(LPCWSTR folder, LPCWSTR prefix, LPWSTR path);

// The same in the system temporary folder; 0 also when it cannot be found.
UINT MakeTemporaryFileInTempFolder(LPCWSTR prefix, LPWSTR path);

// Deletes a file made by MakeTemporaryFile (read-only or not), then drops it
// from the list; a file that stays stays listed. DeleteFileW's result.
BOOL DeleteTemporaryFile(LPCWSTR path);

// Removes a listed name that was turned into a folder, once it is empty.
BOOL RemoveTemporaryFolder(LPCWSTR path);

// Moves a listed file to where it is no longer temporary (MoveFileW, or
// MoveFileExW with `flags` when they are not 0), then drops its old name
// from the list.
BOOL MoveTemporaryFile(LPCWSTR from, LPCWSTR to, DWORD flags);

// Deletes what the ledgers of ended processes list and no living process
// lists, then those ledgers: only files named as the library names its
// temporary files ("qlt" or "qlc", hexadecimal digits, ".tmp"), and folders
// of that name in the temporary folder with what they hold.
void RemoveFilesOfEndedProcesses();
