// UTF-8 and UTF-16 conversions for winsys internals. The ANSI code page of a
// POSIX host is UTF-8, so these are also the A/W bridges.
#pragma once

#include <string>
#include <string_view>

namespace winsys::text {

// Lenient conversions: malformed sequences and lone surrogates become U+FFFD.
std::string toUtf8(std::u16string_view wide);
std::u16string toUtf16(std::string_view narrow);

// Decodes the UTF-8 sequence at narrow[at], moving at past it. A malformed
// sequence gives U+FFFD and false; it covers the longest start of a
// well-formed sequence (at least one byte), so a truncated character is one
// U+FFFD while each stray or impossible byte is one of its own, and the byte
// that broke a sequence is left for the next call. Overlongs, encoded
// surrogates and values above U+10FFFF are malformed from their second byte.
bool decodeUtf8(std::string_view narrow, size_t& at, char32_t& codePoint);

void appendUtf8(std::string& out, char32_t codePoint);
void appendUtf16(std::u16string& out, char32_t codePoint);

// True when every sequence is well-formed UTF-8 (no overlongs, no surrogates).
bool isValidUtf8(std::string_view narrow);

// Length of a NUL-terminated wide string (null gives 0).
size_t wideLength(const char16_t* s);

// ASCII-only case folding, as Windows Installer compares names.
bool equalsIgnoreAsciiCase(std::u16string_view a, std::u16string_view b);

// File-name case folding, as the file system compares names: ASCII plus the
// Latin, Greek and Cyrillic letters.
char16_t foldCase(char16_t c);
bool equalsIgnoreCase(std::u16string_view a, std::u16string_view b);
bool equalsIgnoreCase(std::string_view a, std::string_view b);

}  // namespace winsys::text
