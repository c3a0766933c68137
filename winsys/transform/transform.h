// Transforms (.mst): the difference between two databases as a compound file
// of its own, and applying such a file to a database. Used by the Installer
// entry points and reachable from tests, fuzzers and benchmarks.
#pragma once

#include <windef.h>
#include <winerror.h>

#include <string>
#include <string_view>

#include "msi/database.h"

namespace winsys::transform {

// Validation flags and error conditions that go into the transform's summary
// information (PID_CHARCOUNT: validation in the high word, conditions in the
// low word).
struct SummaryFlags {
    unsigned errorConditions = 0;
    unsigned validation = 0;
};

// Writes the transform that turns `reference` into `changed` at `nativePath`,
// or with a null path only tells whether they differ.
// ERROR_SUCCESS; ERROR_NO_DATA when they do not differ (no file is written);
// ERROR_INSTALL_TRANSFORM_FAILURE when a table changed in a way a transform
// cannot carry (a column's type or order); ERROR_CREATE_FAILED when the file
// cannot be written.
UINT generateTransform(msi::Database& changed, msi::Database& reference, const std::string* nativePath,
                       const SummaryFlags& flags = {});

// Applies the transform file at `nativePath`. `conditions` are the
// MSITRANSFORM_ERROR_* conditions to suppress. On any failure the database is
// left as it was. ERROR_OPEN_FAILED when the file cannot be opened,
// ERROR_INSTALL_TRANSFORM_FAILURE when it is not a transform, is damaged, does
// not fit the database, or meets a condition not suppressed.
UINT applyTransform(msi::Database& db, const std::string& nativePath, int conditions);

// The same for a transform kept as a sub-storage of the database itself.
UINT applyStorageTransform(msi::Database& db, std::u16string_view storageName, int conditions);

}  // namespace winsys::transform
