// The lstr* string calls. Comparisons follow the system's word sort closely
// enough for names: case-insensitive first, then lower case before upper.
#include <windows.h>

#include "kernel/text.h"

namespace {

template <class Char>
int length(const Char* s) {
    if (!s)
        return 0;
    int n = 0;
    while (s[n])
        ++n;
    return n;
}

template <class Char>
Char* copy(Char* dst, const Char* src) {
    if (!dst || !src)
        return nullptr;
    int n = length(src);
    for (int i = 0; i <= n; ++i)
        dst[i] = src[i];
    return dst;
}

template <class Char>
Char* append(Char* dst, const Char* src) {
    if (!dst || !src)
        return nullptr;
    copy(dst + length(dst), src);
    return dst;
}

template <class Char>
Char* copyBounded(Char* dst, const Char* src, int max) {
    if (!dst || !src || max <= 0)
        return dst;
    int i = 0;
    for (; i < max - 1 && src[i]; ++i)
        dst[i] = src[i];
    dst[i] = 0;
    return dst;
}

char16_t unit(char16_t c) {
    return c;
}
char16_t unit(char c) {
    return static_cast<unsigned char>(c);
}

template <class Char>
int compare(const Char* a, const Char* b, bool ignoreCase) {
    // A null string sorts before every other, as the system treats it as empty.
    static const Char empty[1] = {};
    if (!a)
        a = empty;
    if (!b)
        b = empty;
    int tieBreak = 0;
    for (size_t i = 0;; ++i) {
        char16_t x = unit(a[i]), y = unit(b[i]);
        char16_t fx = winsys::text::foldCase(x), fy = winsys::text::foldCase(y);
        if (fx != fy)
            return fx < fy ? -1 : 1;
        if (!x)
            break;
        if (!ignoreCase && !tieBreak && x != y)
            tieBreak = (x == fx) ? -1 : 1;  // lower case first
    }
    return tieBreak;
}

}  // namespace

extern "C" {

WINSYS_EXPORT int WINAPI lstrlenW(LPCWSTR s) {
    return length(s);
}
WINSYS_EXPORT int WINAPI lstrlenA(LPCSTR s) {
    return length(s);
}

WINSYS_EXPORT LPWSTR WINAPI lstrcpyW(LPWSTR dst, LPCWSTR src) {
    return copy(dst, src);
}
WINSYS_EXPORT LPSTR WINAPI lstrcpyA(LPSTR dst, LPCSTR src) {
    return copy(dst, src);
}

WINSYS_EXPORT LPWSTR WINAPI lstrcpynW(LPWSTR dst, LPCWSTR src, int max) {
    return copyBounded(dst, src, max);
}
WINSYS_EXPORT LPSTR WINAPI lstrcpynA(LPSTR dst, LPCSTR src, int max) {
    return copyBounded(dst, src, max);
}

WINSYS_EXPORT LPWSTR WINAPI lstrcatW(LPWSTR dst, LPCWSTR src) {
    return append(dst, src);
}
WINSYS_EXPORT LPSTR WINAPI lstrcatA(LPSTR dst, LPCSTR src) {
    return append(dst, src);
}

WINSYS_EXPORT int WINAPI lstrcmpW(LPCWSTR a, LPCWSTR b) {
    return compare(a, b, false);
}
WINSYS_EXPORT int WINAPI lstrcmpiW(LPCWSTR a, LPCWSTR b) {
    return compare(a, b, true);
}
WINSYS_EXPORT int WINAPI lstrcmpA(LPCSTR a, LPCSTR b) {
    return compare(a, b, false);
}
WINSYS_EXPORT int WINAPI lstrcmpiA(LPCSTR a, LPCSTR b) {
    return compare(a, b, true);
}
}
