// Names of streams inside a package: characters of a 64-symbol alphabet are
// packed two to a UTF-16 unit in U+3800..U+47FF (one alone in U+4800..U+483F),
// and table streams start with the marker U+4840.
#pragma once

#include <string>
#include <string_view>

namespace winsys::msi {

inline constexpr char16_t kTableMarker = 0x4840;

std::u16string encodeStreamName(std::u16string_view name, bool isTable);

// The plain name, and whether it carried the table marker.
std::u16string decodeStreamName(std::u16string_view encoded, bool* isTable = nullptr);

}  // namespace winsys::msi
