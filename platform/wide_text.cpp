// Bounded operations on zero-terminated wide text in path buffers.
#include "platform/wide_text.h"

#include <algorithm>

size_t WideLength(LPCWSTR text) {
    size_t length = 0;
    while (text[length] != 0) {
        ++length;
    }
    return length;
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
