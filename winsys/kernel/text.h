// UTF-8 and UTF-16 conversions for winsys internals. The ANSI code page of a
// POSIX host is UTF-8, so these are also the A/W bridges.
#pragma once

#include <string>
#include <string_view>

namespace winsys::text {

std::string toUtf8(std::u16string_view wide);
std::u16string toUtf16(std::string_view narrow);

// Length of a NUL-terminated wide string (null gives 0).
size_t wideLength(const char16_t* s);

// ASCII-only case folding, as Windows Installer compares names.
bool equalsIgnoreAsciiCase(std::u16string_view a, std::u16string_view b);

}  // namespace winsys::text
