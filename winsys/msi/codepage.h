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

// True when every byte is below 0x80: text that every supported code page
// reads as the same characters.
bool isAscii(std::string_view bytes);
// Writes ASCII `bytes` as as many UTF-16 units to `out`.
void widenAscii(std::string_view bytes, char16_t* out);

// Bytes in `codepage` as UTF-16. Undecodable bytes become U+FFFD; UTF-8 that
// does not decode is taken byte by byte as Windows-1252.
std::u16string decodeCodepage(unsigned codepage, std::string_view bytes);
// The same, appended to `out`: never more units than `bytes` has bytes.
void appendDecoded(unsigned codepage, std::string_view bytes, std::u16string& out);

// UTF-16 as bytes in `codepage`; nullopt when a character has no byte form.
std::optional<std::string> encodeCodepage(unsigned codepage, std::u16string_view text);

// Appends the bytes of `text` in `codepage` to `out`; false (and `out` as it
// was) when a character has no byte form.
bool appendEncoded(unsigned codepage, std::u16string_view text, std::string& out);

}  // namespace winsys::msi
