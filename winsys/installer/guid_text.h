// Product and component codes as text: the braced GUID form callers pass, and
// the packed ("squished") form Windows Installer uses for registry names.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace winsys::installer {

// True for exactly "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in hex digits of
// either case, the only form the installer calls accept.
bool isGuidText(std::u16string_view text);

// The 32-character packed form: the first three groups reversed character by
// character, each byte of the last two groups with its two digits swapped.
// Upper case, whatever the input's case. Nullopt when text is not a GUID.
std::optional<std::u16string> squishGuid(std::u16string_view text);

// The braced form of a packed GUID, upper case. Nullopt unless the input is
// 32 hex digits.
std::optional<std::u16string> unsquishGuid(std::u16string_view packed);

}  // namespace winsys::installer
