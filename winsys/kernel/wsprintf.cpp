// wsprintfW / wsprintfA: the system's small formatter. Integers are 32 bits
// unless I64/ll says otherwise ('l' is 32 bits, as LONG is on Windows);
// %s is the call's own width, %S the other one, %hs/%ls say it outright;
// output stops at 1024 characters with the terminator, as the system's does.
#include <windows.h>

#include <cstdarg>
#include <string>

#include "kernel/text.h"

namespace {

constexpr size_t outputLimit = 1024;  // characters, terminator included

enum class Width { native, narrow, wide };

std::u16string narrowToWide(const char* s, int precision) {
    std::string_view view(s);
    if (precision >= 0 && view.size() > static_cast<size_t>(precision))
        view = view.substr(0, precision);
    return winsys::text::toUtf16(view);
}

std::u16string wideText(const char16_t* s, int precision) {
    std::u16string text;
    for (size_t i = 0; s[i] && (precision < 0 || i < static_cast<size_t>(precision)); ++i)
        text += s[i];
    return text;
}

template <class Char>
std::basic_string<Char> fromWide(const std::u16string& s);
template <>
std::u16string fromWide<char16_t>(const std::u16string& s) {
    return s;
}
template <>
std::string fromWide<char>(const std::u16string& s) {
    return winsys::text::toUtf8(s);
}

template <class Char>
int format(Char* buffer, const Char* fmt, va_list args) {
    if (!buffer || !fmt)
        return 0;
    std::basic_string<Char> out;
    const bool wideCall = sizeof(Char) == 2;
    for (size_t i = 0; fmt[i];) {
        if (fmt[i] != '%') {
            out += fmt[i++];
            continue;
        }
        ++i;
        bool left = false, zero = false, alternate = false;
        for (;; ++i) {
            if (fmt[i] == '-')
                left = true;
            else if (fmt[i] == '0')
                zero = true;
            else if (fmt[i] == '#')
                alternate = true;
            else
                break;
        }
        size_t width = 0;
        while (fmt[i] >= '0' && fmt[i] <= '9')
            width = width * 10 + (fmt[i++] - '0');
        int precision = -1;
        if (fmt[i] == '.') {
            ++i;
            precision = 0;
            while (fmt[i] >= '0' && fmt[i] <= '9')
                precision = precision * 10 + (fmt[i++] - '0');
        }
        bool is64 = false;
        Width textWidth = Width::native;
        if (fmt[i] == 'I' && fmt[i + 1] == '6' && fmt[i + 2] == '4') {
            is64 = true;
            i += 3;
        } else if (fmt[i] == 'l' && fmt[i + 1] == 'l') {
            is64 = true;
            i += 2;
        } else if (fmt[i] == 'l' || fmt[i] == 'w') {
            textWidth = Width::wide;
            ++i;
        } else if (fmt[i] == 'h') {
            textWidth = Width::narrow;
            ++i;
        }
        Char type = fmt[i];
        if (!type)
            break;
        ++i;

        std::basic_string<Char> field;
        bool negative = false;
        switch (type) {
            case 'c':
            case 'C': {
                Width w = textWidth != Width::native ? textWidth
                          : type == 'c'              ? (wideCall ? Width::wide : Width::narrow)
                                                     : (wideCall ? Width::narrow : Width::wide);
                int value = va_arg(args, int);
                char16_t c = w == Width::narrow ? static_cast<unsigned char>(value)
                                                : static_cast<char16_t>(value);
                if (c)
                    field = fromWide<Char>(std::u16string(1, c));
                else
                    field += Char(0);
                break;
            }
            case 's':
            case 'S': {
                Width w = textWidth != Width::native ? textWidth
                          : type == 's'              ? (wideCall ? Width::wide : Width::narrow)
                                                     : (wideCall ? Width::narrow : Width::wide);
                const void* p = va_arg(args, const void*);
                std::u16string text;
                if (!p)
                    text = u"(null)";
                else if (w == Width::wide)
                    text = wideText(static_cast<const char16_t*>(p), precision);
                else
                    text = narrowToWide(static_cast<const char*>(p), precision);
                field = fromWide<Char>(text);
                break;
            }
            case 'd':
            case 'i':
            case 'u':
            case 'x':
            case 'X': {
                unsigned long long magnitude;
                if (type == 'd' || type == 'i') {
                    long long value = is64 ? va_arg(args, long long) : va_arg(args, int);
                    negative = value < 0;
                    magnitude = negative ? 0ULL - static_cast<unsigned long long>(value) : value;
                } else {
                    magnitude =
                        is64 ? va_arg(args, unsigned long long) : va_arg(args, unsigned int);
                }
                const char* digits = type == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
                unsigned base = (type == 'x' || type == 'X') ? 16 : 10;
                std::basic_string<Char> number;
                do {
                    number.insert(number.begin(), static_cast<Char>(digits[magnitude % base]));
                    magnitude /= base;
                } while (magnitude);
                if (precision >= 0 && number.size() < static_cast<size_t>(precision))
                    number.insert(0, precision - number.size(), Char('0'));
                std::basic_string<Char> sign;
                if (negative)
                    sign += Char('-');
                if (alternate && base == 16) {
                    sign += Char('0');
                    sign += static_cast<Char>(type);
                }
                if (zero && !left && precision < 0 && sign.size() + number.size() < width)
                    number.insert(0, width - sign.size() - number.size(), Char('0'));
                field = sign + number;
                break;
            }
            default:
                // Unknown directives (%% among them) print the character itself.
                field += type;
                break;
        }
        if (field.size() < width) {
            if (left)
                field.append(width - field.size(), Char(' '));
            else
                field.insert(0, width - field.size(), Char(' '));
        }
        out += field;
        if (out.size() >= outputLimit)
            break;
    }
    if (out.size() > outputLimit - 1)
        out.resize(outputLimit - 1);
    out.copy(buffer, out.size());
    buffer[out.size()] = 0;
    return static_cast<int>(out.size());
}

}  // namespace

extern "C" {

WINSYS_EXPORT int WINAPIV wsprintfW(LPWSTR buffer, LPCWSTR format, ...) {
    va_list args;
    va_start(args, format);
    int n = ::format(buffer, format, args);
    va_end(args);
    return n;
}

WINSYS_EXPORT int WINAPIV wsprintfA(LPSTR buffer, LPCSTR format, ...) {
    va_list args;
    va_start(args, format);
    int n = ::format(buffer, format, args);
    va_end(args);
    return n;
}
}
