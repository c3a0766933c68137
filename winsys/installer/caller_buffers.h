// Windows Installer's rules for handing text to a caller's (buffer, count)
// pair, in UTF-16 for the W calls and in the narrow code page for the A calls.
// Counts are characters of the caller's width, without the terminator.
#pragma once

#include <windows.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "kernel/text.h"

namespace winsys::installer {

template <typename Char>
std::basic_string<Char> inCallerWidth(std::u16string_view text) {
    if constexpr (sizeof(Char) == 1)
        return text::toUtf8(text);
    else
        return std::u16string(text);
}

// Copies as much as fits, always terminated, and reports the full length:
// ERROR_MORE_DATA when the text does not fit. A null buffer only reports the
// length. (The component-path and file-version calls behave so.)
template <typename Char>
UINT copyTruncating(std::u16string_view text, Char* buffer, DWORD* count) {
    if (!count)
        return ERROR_SUCCESS;
    auto value = inCallerWidth<Char>(text);
    DWORD length = static_cast<DWORD>(value.size());
    UINT result = ERROR_SUCCESS;
    if (buffer && *count) {
        DWORD copied = std::min<DWORD>(length, *count - 1);
        std::copy_n(value.data(), copied, buffer);
        buffer[copied] = Char(0);
    }
    if (buffer && length >= *count)
        result = ERROR_MORE_DATA;
    *count = length;
    return result;
}

// Copies only when the whole text fits; a short buffer is left as it was.
// (The product-information call behaves so.)
template <typename Char>
UINT copyWhole(std::u16string_view text, Char* buffer, DWORD* count) {
    if (!count)
        return ERROR_SUCCESS;
    auto value = inCallerWidth<Char>(text);
    DWORD length = static_cast<DWORD>(value.size());
    UINT result = ERROR_SUCCESS;
    if (buffer) {
        if (length < *count)
            std::copy_n(value.c_str(), length + 1, buffer);
        else
            result = ERROR_MORE_DATA;
    }
    *count = length;
    return result;
}

// A narrow argument as UTF-16; null stays null.
struct WideArgument {
    explicit WideArgument(const char* narrow) : present(narrow != nullptr) {
        if (narrow)
            value = text::toUtf16(narrow);
    }
    const WCHAR* get() const { return present ? value.c_str() : nullptr; }
    bool present;
    std::u16string value;
};

}  // namespace winsys::installer
