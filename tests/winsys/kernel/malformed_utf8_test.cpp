// Malformed UTF-8: how many U+FFFD each kind of bad input becomes, the same
// for winsys' own conversion and for MultiByteToWideChar, and that the strict
// flag refuses every one of them.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <string_view>

#include "kernel/text.h"

namespace {

struct Case {
    const char* name;
    std::string_view bytes;
    std::u16string_view expected;
};

using namespace std::string_view_literals;

// Each bad byte that cannot start or continue anything is one U+FFFD; a
// character cut short is one U+FFFD for all its bytes, and whatever cut it
// short is decoded on its own. Overlongs, encoded surrogates and values above
// U+10FFFF fail at their second byte, so every byte gives one U+FFFD.
const Case malformed[] = {
    {"stray continuation", "a\x80" "b"sv, u"a\uFFFDb"sv},
    {"byte that never occurs", "a\xFF" "b"sv, u"a\uFFFDb"sv},
    {"two-byte overlong", "\xC0\x80"sv, u"\uFFFD\uFFFD"sv},
    {"two-byte overlong C1", "\xC1\xBF"sv, u"\uFFFD\uFFFD"sv},
    {"lead above F4", "\xF5\x80\x80\x80"sv, u"\uFFFD\uFFFD\uFFFD\uFFFD"sv},
    {"five-byte form", "\xF8\x88\x80\x80\x80"sv, u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"sv},
    {"two-byte cut at the end", "a\xC3"sv, u"a\uFFFD"sv},
    {"three-byte cut at the end", "a\xE2\x82"sv, u"a\uFFFD"sv},
    {"four-byte cut at the end", "a\xF0\x9F\x98"sv, u"a\uFFFD"sv},
    {"three-byte cut by ASCII", "\xE2\x82" "A"sv, u"\uFFFDA"sv},
    {"four-byte cut by ASCII", "\xF0\x9F" "A"sv, u"\uFFFDA"sv},
    {"cut by a new lead", "\xE2\xC3\xA9"sv, u"\uFFFD\u00E9"sv},
    {"cut by NUL", "\xE2\0\x82"sv, u"\uFFFD\0\uFFFD"sv},
    {"three-byte overlong", "\xE0\x80\x80"sv, u"\uFFFD\uFFFD\uFFFD"sv},
    {"three-byte overlong, largest", "\xE0\x9F\xBF"sv, u"\uFFFD\uFFFD\uFFFD"sv},
    {"four-byte overlong", "\xF0\x80\x80\x80"sv, u"\uFFFD\uFFFD\uFFFD\uFFFD"sv},
    {"four-byte overlong, largest", "\xF0\x8F\xBF\xBF"sv, u"\uFFFD\uFFFD\uFFFD\uFFFD"sv},
    {"high surrogate", "\xED\xA0\x80"sv, u"\uFFFD\uFFFD\uFFFD"sv},
    {"low surrogate", "\xED\xBF\xBF"sv, u"\uFFFD\uFFFD\uFFFD"sv},
    {"above U+10FFFF", "\xF4\x90\x80\x80"sv, u"\uFFFD\uFFFD\uFFFD\uFFFD"sv},
};

// The edges of the well-formed ranges, next to the malformed ones above.
const Case wellFormed[] = {
    {"U+0080", "\xC2\x80"sv, u"\u0080"sv},
    {"U+0800", "\xE0\xA0\x80"sv, u"\u0800"sv},
    {"U+D7FF", "\xED\x9F\xBF"sv, u"\uD7FF"sv},
    {"U+FFFD itself", "\xEF\xBF\xBD"sv, u"\uFFFD"sv},
    {"U+FFFF", "\xEF\xBF\xBF"sv, u"\uFFFF"sv},
    {"U+10000", "\xF0\x90\x80\x80"sv, u"\U00010000"sv},
    {"U+10FFFF", "\xF4\x8F\xBF\xBF"sv, u"\U0010FFFF"sv},
};

std::u16string viaCodePage(std::string_view bytes, DWORD flags) {
    WCHAR buffer[16] = {};
    int n = MultiByteToWideChar(CP_UTF8, flags, bytes.data(), static_cast<int>(bytes.size()), buffer,
                                16);
    return std::u16string(buffer, n > 0 ? static_cast<size_t>(n) : 0);
}

TEST(MalformedUtf8, EachKindBecomesItsOwnCountOfReplacements) {
    for (const Case& c : malformed) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(winsys::text::toUtf16(c.bytes), c.expected);
        EXPECT_FALSE(winsys::text::isValidUtf8(c.bytes));
        EXPECT_EQ(viaCodePage(c.bytes, 0), c.expected);
        EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, c.bytes.data(), static_cast<int>(c.bytes.size()),
                                      nullptr, 0),
                  static_cast<int>(c.expected.size()));

        SetLastError(0);
        EXPECT_EQ(viaCodePage(c.bytes, MB_ERR_INVALID_CHARS), u"");
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
    }
}

TEST(MalformedUtf8, TheEdgesOfEachRangeAreWellFormed) {
    for (const Case& c : wellFormed) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(winsys::text::toUtf16(c.bytes), c.expected);
        EXPECT_TRUE(winsys::text::isValidUtf8(c.bytes));
        EXPECT_EQ(viaCodePage(c.bytes, 0), c.expected);
        EXPECT_EQ(viaCodePage(c.bytes, MB_ERR_INVALID_CHARS), c.expected);
    }
}

TEST(MalformedUtf8, ACutCharacterNeverSwallowsTheTerminator) {
    // A lead byte that wants three more bytes sees only the terminator: the
    // terminator still arrives, so the caller's string stays terminated.
    WCHAR buffer[8];
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "a\xF0", -1, buffer, 8), 3);
    EXPECT_EQ(std::u16string_view(buffer, 3), u"a\uFFFD\0"sv);
}

TEST(MalformedUtf8, DecodingStepsOverExactlyTheBadPart) {
    const std::string_view bytes = "\xE2\x82" "A\xED\xA0\x80"sv;
    size_t at = 0;
    char32_t cp = 0;
    EXPECT_FALSE(winsys::text::decodeUtf8(bytes, at, cp));
    EXPECT_EQ(at, 2u);
    EXPECT_EQ(cp, U'\uFFFD');
    EXPECT_TRUE(winsys::text::decodeUtf8(bytes, at, cp));
    EXPECT_EQ(cp, U'A');
    EXPECT_FALSE(winsys::text::decodeUtf8(bytes, at, cp));
    EXPECT_EQ(at, 4u);
}

}  // namespace
