// Entry names: the format's ordering (length first, then simple upper case)
// and what a name may contain.
#include "storage/compound_file.h"
#include "storage/names.h"

#include <clocale>
#include <cwctype>
#include <locale.h>

namespace winsys::cfb {
namespace {

locale_t unicodeLocale() {
    static locale_t locale = [] {
        locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(0));
        if (!l) l = newlocale(LC_CTYPE_MASK, "en_US.UTF-8", locale_t(0));
        return l;
    }();
    return locale;
}

}  // namespace

char16_t upcase(char16_t c) {
    if (c < 0x80) return (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c;
    if (c >= 0xD800 && c <= 0xDFFF) return c;  // halves of a pair compare as they are
    locale_t l = unicodeLocale();
    if (!l) return c;
    wint_t up = towupper_l(wint_t(c), l);
    return up <= 0xFFFF ? char16_t(up) : c;
}

int compareNames(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    for (size_t i = 0; i < a.size(); ++i) {
        char16_t x = upcase(a[i]), y = upcase(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

bool isValidName(std::u16string_view name) {
    if (name.empty() || name.size() > kMaxNameLength) return false;
    for (char16_t c : name)
        if (c == 0 || c == u'/' || c == u'\\' || c == u':' || c == u'!') return false;
    return true;
}

}  // namespace winsys::cfb

namespace winsys::cfb {
bool NameLess::operator()(std::u16string_view a, std::u16string_view b) const {
    return compareNames(a, b) < 0;
}
}  // namespace winsys::cfb
