// The undo entries a commit with a backup leaves in the registry, as the
// restore commands see them: whether one is still there decides whether a
// restore went through, since the restore entry point reports nothing.
#pragma once

#include <string_view>

#include "cli_text.h"

namespace qltmsi {

bool undoEntryExists(std::string_view entry);

// The path the restore entry point's library was registered under, or empty.
WideString registeredBackupServer();

}  // namespace qltmsi
