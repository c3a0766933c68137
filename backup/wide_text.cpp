// Bounded wide-text helpers for the backup code.
#include "backup/wide_text.h"

#include <algorithm>

size_t WideLength(LPCWSTR text) {
    size_t length = 0;
    while (text[length] != 0) {
        ++length;
    }
    return length;
}

bool CopyWide(WidePath& buffer, LPCWSTR text) {
    const size_t length = WideLength(text);
    if (length >= buffer.size()) {
        buffer[0] = 0;
        return false;
    }
    std::copy_n(text, length + 1, buffer.begin());
    return true;
}

bool JoinPath(WidePath& buffer, LPCWSTR directory, LPCWSTR name) {
    const size_t directoryLength = WideLength(directory);
    const size_t nameLength = WideLength(name);
    if (directoryLength + 1 + nameLength >= buffer.size()) {
        buffer[0] = 0;
        return false;
    }
    std::copy_n(directory, directoryLength, buffer.begin());
    buffer[directoryLength] = '\\';
    std::copy_n(name, nameLength + 1, buffer.begin() + directoryLength + 1);
    return true;
}

LPCWSTR FileNamePart(LPCWSTR path) {
    LPCWSTR name = nullptr;
    for (LPCWSTR p = path; *p != 0; ++p) {
        if (*p == '\\') {
            name = p + 1;
        }
    }
    return name;
}

bool EqualIgnoringAsciiCase(LPCWSTR a, LPCWSTR b) {
    auto fold = [](WCHAR c) { return c >= 'A' && c <= 'Z' ? WCHAR(c - 'A' + 'a') : c; };
    for (; *a != 0 && *b != 0; ++a, ++b) {
        if (fold(*a) != fold(*b)) {
            return false;
        }
    }
    return *a == *b;
}
