// Text of a database in its code page: the string pool and the summary
// information keep narrow bytes in a code page the database names. Code page 0
// (neutral) is read as Windows-1252, as a Western Windows system reads it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace winsys::msi {

inline constexpr unsigned kCodepageNeutral = 0;
inline constexpr unsigned kCodepageUtf8 = 65001;

bool isSupportedCodepage(unsigned codepage);

// Bytes in `codepage` as UTF-16. Undecodable bytes become U+FFFD; UTF-8 that
// does not decode is taken byte by byte as Windows-1252.
std::u16string decodeCodepage(unsigned codepage, std::string_view bytes);

// UTF-16 as bytes in `codepage`; nullopt when a character has no byte form.
std::optional<std::string> encodeCodepage(unsigned codepage, std::u16string_view text);

// Appends the bytes of `text` in `codepage` to `out`; false (and `out` as it
// was) when a character has no byte form.
bool appendEncoded(unsigned codepage, std::u16string_view text, std::string& out);

}  // namespace winsys::msi
