// Key paths and value names: splitting "a\b\c", and the folded form under
// which names are matched (ASCII letters only, as the registry compares them
// for the names this system writes).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace winsys::registry {

std::string foldName(std::u16string_view name);

// The components of a relative key path. Empty components (doubled or
// trailing separators) are skipped; a leading separator is an error
// (ERROR_BAD_PATHNAME), as is a component longer than 255 characters.
bool splitKeyPath(std::u16string_view path, std::vector<std::u16string_view>& parts, long& error);

}  // namespace winsys::registry
