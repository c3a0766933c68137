// MultiByteToWideChar / WideCharToMultiByte. The ANSI and OEM code pages are
// UTF-8 on POSIX hosts; the counting rules, flags and errors are Windows'.
// Text in a named single-byte Windows code page (1250-1258, 874), such as a
// package's, is read through the database engine's tables.
#include <windows.h>

#include <cstring>
#include <string>

#include "kernel/text.h"
#include "msi/codepage.h"

namespace {

bool isUtf8CodePage(UINT codePage) {
    return codePage == CP_ACP || codePage == CP_OEMCP || codePage == CP_THREAD_ACP ||
           codePage == CP_UTF8;
}

int failWith(DWORD code) {
    SetLastError(code);
    return 0;
}

bool isSingleByteCodePage(UINT codePage) {
    return codePage != 0 && codePage != CP_UTF8 && winsys::msi::isSupportedCodepage(codePage);
}

}  // namespace

extern "C" {

WINSYS_EXPORT UINT WINAPI GetACP(void) {
    return CP_UTF8;
}

WINSYS_EXPORT int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR src, int srcLen,
                                             LPWSTR dst, int dstLen) {
    if (!src || srcLen == 0 || srcLen < -1 || dstLen < 0 || (dstLen > 0 && !dst) ||
        (dst && static_cast<const void*>(src) == static_cast<const void*>(dst)))
        return failWith(ERROR_INVALID_PARAMETER);
    const bool singleByte = isSingleByteCodePage(codePage);
    if (!isUtf8CodePage(codePage) && !singleByte)
        return failWith(ERROR_INVALID_PARAMETER);
    const DWORD allowed = codePage == CP_UTF8 ? MB_ERR_INVALID_CHARS
                                              : (MB_PRECOMPOSED | MB_ERR_INVALID_CHARS | 0x2 | 0x4);
    if (flags & ~allowed)
        return failWith(ERROR_INVALID_FLAGS);

    const std::string_view text(src, srcLen == -1 ? strlen(src) + 1 : static_cast<size_t>(srcLen));
    std::u16string out;
    out.reserve(text.size());
    if (singleByte) {
        out = winsys::msi::decodeCodepage(codePage, text);
        // A byte the code page leaves undefined.
        if ((flags & MB_ERR_INVALID_CHARS) && out.find(u'\xFFFD') != std::u16string::npos)
            return failWith(ERROR_NO_UNICODE_TRANSLATION);
    }
    for (size_t i = 0; !singleByte && i < text.size();) {
        char32_t cp;
        if (!winsys::text::decodeUtf8(text, i, cp) && (flags & MB_ERR_INVALID_CHARS))
            return failWith(ERROR_NO_UNICODE_TRANSLATION);
        winsys::text::appendUtf16(out, cp);
    }
    if (dstLen == 0)
        return static_cast<int>(out.size());
    if (out.size() > static_cast<size_t>(dstLen)) {
        // Windows fills what fits before it reports the shortage.
        out.copy(dst, static_cast<size_t>(dstLen));
        return failWith(ERROR_INSUFFICIENT_BUFFER);
    }
    out.copy(dst, out.size());
    return static_cast<int>(out.size());
}

WINSYS_EXPORT int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR src, int srcLen,
                                             LPSTR dst, int dstLen, LPCSTR defaultChar,
                                             LPBOOL usedDefault) {
    if (!src || srcLen == 0 || srcLen < -1 || dstLen < 0 || (dstLen > 0 && !dst) ||
        (dst && static_cast<const void*>(src) == static_cast<const void*>(dst)))
        return failWith(ERROR_INVALID_PARAMETER);
    if (!isUtf8CodePage(codePage))
        return failWith(ERROR_INVALID_PARAMETER);
    if (codePage == CP_UTF8) {
        // UTF-8 can encode everything, so Windows refuses a default character.
        if (defaultChar || usedDefault)
            return failWith(ERROR_INVALID_PARAMETER);
        if (flags & ~static_cast<DWORD>(WC_ERR_INVALID_CHARS))
            return failWith(ERROR_INVALID_FLAGS);
    } else if (flags & ~static_cast<DWORD>(WC_NO_BEST_FIT_CHARS | WC_ERR_INVALID_CHARS | 0x200 |
                                           0x40 | 0x20 | 0x10)) {
        return failWith(ERROR_INVALID_FLAGS);
    }
    if (usedDefault)
        *usedDefault = FALSE;

    size_t size = srcLen == -1 ? winsys::text::wideLength(src) + 1 : static_cast<size_t>(srcLen);
    std::string out;
    out.reserve(size);
    bool overflow = false;
    for (size_t i = 0; i < size; ++i) {
        char32_t cp = src[i];
        size_t before = out.size();
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < size && src[i + 1] >= 0xDC00 &&
            src[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (src[i + 1] - 0xDC00);
            ++i;
            winsys::text::appendUtf8(out, cp);
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            // A lone surrogate has no UTF-8 form.
            if (flags & WC_ERR_INVALID_CHARS)
                return failWith(ERROR_NO_UNICODE_TRANSLATION);
            if (codePage == CP_UTF8) {
                winsys::text::appendUtf8(out, 0xFFFD);
            } else {
                out += defaultChar && *defaultChar ? *defaultChar : '?';
                if (usedDefault)
                    *usedDefault = TRUE;
            }
        } else {
            winsys::text::appendUtf8(out, cp);
        }
        // Only whole characters reach the caller's buffer.
        if (dstLen > 0 && !overflow) {
            if (out.size() <= static_cast<size_t>(dstLen)) {
                out.copy(dst + before, out.size() - before, before);
            } else {
                overflow = true;
            }
        }
    }
    if (dstLen == 0)
        return static_cast<int>(out.size());
    if (overflow)
        return failWith(ERROR_INSUFFICIENT_BUFFER);
    return static_cast<int>(out.size());
}
}
