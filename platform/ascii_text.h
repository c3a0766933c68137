// Text comparisons that fold only the ASCII letters A to Z, as Windows
// Installer's own file names are compared here; every other character is
// compared and kept exactly.
#pragma once

#include "platform/wide_text.h"

inline WCHAR ToLowerAscii(WCHAR c) {
    return c >= 'A' && c <= 'Z' ? static_cast<WCHAR>(c - 'A' + 'a') : c;
}

inline WCHAR ToUpperAscii(WCHAR c) {
    return c >= 'a' && c <= 'z' ? static_cast<WCHAR>(c - 'a' + 'A') : c;
}

inline bool EqualsIgnoringAsciiCase(WideView a, WideView b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (ToLowerAscii(a[i]) != ToLowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

inline std::basic_string<WCHAR> LowerAscii(WideView text) {
    std::basic_string<WCHAR> lowered(text);
    for (WCHAR& c : lowered) {
        c = ToLowerAscii(c);
    }
    return lowered;
}

inline std::basic_string<WCHAR> UpperAscii(WideView text) {
    std::basic_string<WCHAR> raised(text);
    for (WCHAR& c : raised) {
        c = ToUpperAscii(c);
    }
    return raised;
}
