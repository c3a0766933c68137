// The share-mode cases between a package open and a CreateFileW handle,
// with the answers Wine's Installer and kernel give (share_modes_wine_test
// checks them there): every Installer open shares reading only (neither
// writing nor deletion); a read-only open reads, the others (transact,
// direct, create) read and write; handles that ask for no data access take
// no part.
#pragma once

#include <msiquery.h>
#include <windows.h>

namespace sharetest {

struct HandleKind {
    const char* name;
    DWORD access;
    DWORD share;
};

inline constexpr DWORD kDeleteAccess = 0x00010000;  // DELETE, which winsys's headers leave out
inline constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
inline const HandleKind kHandles[] = {
    {"read sharing all", GENERIC_READ, kShareAll},
    {"read sharing read+write", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE},
    {"read sharing read", GENERIC_READ, FILE_SHARE_READ},
    {"write sharing all", GENERIC_WRITE, kShareAll},
    {"read+write sharing read+write", GENERIC_READ | GENERIC_WRITE,
     FILE_SHARE_READ | FILE_SHARE_WRITE},
    {"delete sharing all", kDeleteAccess, kShareAll},
    {"no access sharing nothing", 0, 0},
};

struct PackageMode {
    const char* name;
    LPCWSTR persist;
    bool writes;
};
inline const PackageMode kModes[] = {
    {"read-only", MSIDBOPEN_READONLY, false},
    {"transact", MSIDBOPEN_TRANSACT, true},
    {"direct", MSIDBOPEN_DIRECT, true},
};

// Whether a package open and a handle may be open together (the same answer
// whichever comes first).
inline bool together(const PackageMode& mode, const HandleKind& handle) {
    if (handle.access & (GENERIC_WRITE | kDeleteAccess))
        return false;  // the package shares neither
    if (mode.writes && handle.access && !(handle.share & FILE_SHARE_WRITE))
        return false;
    return true;
}

}  // namespace sharetest
