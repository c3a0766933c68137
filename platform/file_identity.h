// Which file a path reaches, whatever form the path has (another drive
// mapping, a short name, other letter case), so that two paths can be told
// to name one file, and a file can be told from another made later under
// the same name.
#pragma once

#include <windows.h>

struct FileIdentity {
    DWORD volume = 0;
    DWORD indexHigh = 0;
    DWORD indexLow = 0;
    bool operator==(const FileIdentity&) const = default;
};

// The volume and file index of what `path` reaches; false when it can't be
// opened or asked.
bool IdentifyFile(LPCWSTR path, FileIdentity& identity);
