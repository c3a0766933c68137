// The size and a hash of a file's bytes, to tell whether a file is still the
// one a copy was taken from.
#pragma once

#include <windows.h>

struct FileFingerprint {
    ULONGLONG size = 0;
    ULONGLONG hash = 0;

    bool operator==(const FileFingerprint&) const = default;
};

// Reads the whole file; false when it cannot be opened or read to its end.
bool TakeFileFingerprint(LPCWSTR path, FileFingerprint& fingerprint);
