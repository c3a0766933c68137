// Wide text as the library holds it: strings, views, and the fixed path
// buffers of the patch context and the registry values. Every join is checked
// against the buffer before it is made, so an over-long path is refused
// rather than cut.
#pragma once

#include <windows.h>

#include <array>
#include <string>
#include <string_view>

using WideString = std::basic_string<WCHAR>;
using WideView = std::basic_string_view<WCHAR>;
using WidePath = std::array<WCHAR, MAX_PATH + 1>;

inline bool IsEmpty(const WidePath& path) {
    return path[0] == 0;
}

size_t WideLength(LPCWSTR text);

// "directory\name" into the buffer; false (buffer emptied) when it does not fit.
bool JoinPath(WidePath& buffer, LPCWSTR directory, LPCWSTR name);

// The part after the last backslash, or null when there is none.
LPCWSTR FileNamePart(LPCWSTR path);
