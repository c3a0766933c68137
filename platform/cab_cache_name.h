// Names for new cab cache packages beside an installed package. Commits,
// restores and the carry-over of a cabinet held inside the package all take
// their names here, so every one is checked against the files already there
// in its final form.
#pragma once

#include <windows.h>

enum class CabCacheNameForm {
    // "C:\dir\product.msi" gives "C:\dir\product.a345.msi".
    kBesidePackage,
    // "C:\dir\product.msi" gives "C:\dir\a345_.msi": for a cabinet moved out
    // of the package's own streams.
    kMovedOut,
};

// Writes into `name` (room for MAX_PATH characters and the terminator) a name
// in the given form that no file or folder had, now held by an empty file
// this call created (see MakeUniqueName): the caller writes the cab cache
// over it, or deletes it. False, with `name` emptied and nothing created,
// when the package path has no folder (or, beside the package, no
// extension), no free name is left or the name would not fit.
bool MakeCabCacheName(LPCWSTR packagePath, CabCacheNameForm form, LPWSTR name);
