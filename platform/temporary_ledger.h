// The text of a temporary-file ledger, shared by the process that writes
// one and the clean-up that reads what an ended process left.
//
// A ledger is UTF-16 text: a header line, then one line per event, "+path"
// before a name is made and "-path" once its file is gone (deleted, moved
// away, or not made after all), each ending in CR LF. A line that a crash
// cut short counts for nothing. So at every moment each file the process
// made is listed, from before it exists until after it is gone.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace temporary_ledger {

using Text = std::basic_string<WCHAR>;

// The ledgers' names: GetTempFileNameW's with this prefix, in the system
// temporary folder.
inline constexpr WCHAR kPrefix[] = TEXT("qll");
inline constexpr WCHAR kPattern[] = TEXT("qll*.tmp");
// Far more than any process lists; a larger file is not a ledger of ours.
inline constexpr DWORD kLargestBytes = 4u << 20;

Text Header();
Text Line(WCHAR mark, const Text& path);

enum class Reading {
    Listed,      // a ledger; `listed` holds the names it still lists
    Unfinished,  // the header cut short by a crash: a ledger that lists nothing
    NotALedger,
};
// The names a ledger's complete lines still list, in the order listed.
Reading ReadListed(const Text& text, std::vector<Text>& listed);

// Reads a whole ledger from an open handle; false when it can't be read or
// is too large to be one.
bool ReadWhole(HANDLE file, Text& text);

// WriteFile of the whole text; false when less was written.
bool WriteAll(HANDLE file, const Text& text);

// "qlt" or "qlc", one to four hexadecimal digits, ".tmp": GetTempFileNameW's
// names with the library's prefixes.
bool IsTemporaryName(const Text& name);

// The system temporary folder, with its final backslash.
bool TemporaryFolder(Text& folder);

}  // namespace temporary_ledger
