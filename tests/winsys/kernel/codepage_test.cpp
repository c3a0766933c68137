// Code-page conversion: counting rules, buffer sizes, surrogates, bad input.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace {

TEST(CodePage, CountsIncludeTheTerminatorOnlyForMinusOne) {
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, nullptr, 0), 4);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", 3, nullptr, 0), 3);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"abc", -1, nullptr, 0, nullptr, nullptr), 4);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"\u00e9\u20ac", 2, nullptr, 0, nullptr, nullptr), 5);

    WCHAR wide[8] = {};
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, "h\xc3\xa9", -1, wide, 8), 3);
    EXPECT_EQ(std::u16string(wide), u"h\u00e9");
    char narrow[8] = {};
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"h\u00e9", -1, narrow, 8, nullptr, nullptr), 4);
    EXPECT_STREQ(narrow, "h\xc3\xa9");
}

TEST(CodePage, SurrogatePairsAreOneCharacterInUtf8) {
    const char* emoji = "\xf0\x9f\x98\x80";  // U+1F600
    WCHAR wide[4] = {};
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, emoji, -1, wide, 4), 3);
    EXPECT_EQ(wide[0], 0xD83D);
    EXPECT_EQ(wide[1], 0xDE00);
    char narrow[8] = {};
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, wide, -1, narrow, 8, nullptr, nullptr), 5);
    EXPECT_STREQ(narrow, emoji);
    // A pair is never split: four bytes do not fit in three.
    char small[3] = {};
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, wide, 2, small, 3, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

TEST(CodePage, ShortBuffersFailWithInsufficientBuffer) {
    WCHAR wide[3] = {};
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, wide, 3), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    char narrow[3] = {};
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"abc", -1, narrow, 3, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

TEST(CodePage, UnconvertibleTextUsesTheDefaultCharacterOrFails) {
    const WCHAR lone[] = {u'a', 0xD800, u'b', 0};
    char narrow[8] = {};
    BOOL usedDefault = FALSE;
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, lone, -1, narrow, 8, "#", &usedDefault), 4);
    EXPECT_STREQ(narrow, "a#b");
    EXPECT_TRUE(usedDefault);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, lone, -1, narrow, 8, nullptr, nullptr), 4);
    EXPECT_STREQ(narrow, "a?b");
    SetLastError(0);
    EXPECT_EQ(
        WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, lone, -1, narrow, 8, nullptr, nullptr),
        0);
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);

    WCHAR wide[8] = {};
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0,
                                  "a\xff"
                                  "b",
                                  3, wide, 8),
              3);
    EXPECT_EQ(wide[1], 0xFFFD);
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS,
                                  "a\xff"
                                  "b",
                                  3, wide, 8),
              0);
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
}

// Windows' single-byte pages read a package's text: the counts and the
// undefined bytes follow the same rules as UTF-8's.
TEST(CodePage, SingleBytePagesDecode) {
    WCHAR wide[8] = {};
    EXPECT_EQ(MultiByteToWideChar(1252, 0, "caf\xE9\x80", -1, wide, 8), 6);
    EXPECT_EQ(std::u16string(wide), u"caf\u00E9\u20AC");
    EXPECT_EQ(MultiByteToWideChar(1251, 0, "\xC4\xE0", 2, nullptr, 0), 2);
    EXPECT_EQ(MultiByteToWideChar(1251, 0, "\xC4\xE0", 2, wide, 8), 2);
    EXPECT_EQ(wide[0], u'\u0414');
    EXPECT_EQ(wide[1], u'\u0430');
    // 0x81 is a C1 control in 1252, as on Windows; 1253 leaves 0xAA undefined.
    EXPECT_EQ(MultiByteToWideChar(1252, MB_ERR_INVALID_CHARS, "\x81", 1, wide, 8), 1);
    EXPECT_EQ(wide[0], u'\u0081');
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(1253, MB_ERR_INVALID_CHARS, "\xAA", 1, wide, 8), 0);
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
    EXPECT_EQ(MultiByteToWideChar(1253, 0, "\xAA", 1, wide, 8), 1);
    EXPECT_EQ(wide[0], u'\uFFFD');
    EXPECT_EQ(MultiByteToWideChar(1252, 0, "abc", 3, wide, 2), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

TEST(CodePage, BadArgumentsAreRefused) {
    WCHAR wide[4];
    char narrow[4];
    BOOL used;
    const struct {
        int result;
        DWORD error;
    } cases[] = {
        {MultiByteToWideChar(CP_ACP, 0, nullptr, -1, wide, 4), ERROR_INVALID_PARAMETER},
        {MultiByteToWideChar(CP_ACP, 0, "a", 0, wide, 4), ERROR_INVALID_PARAMETER},
        {MultiByteToWideChar(CP_ACP, 0, "a", -1, wide, -1), ERROR_INVALID_PARAMETER},
        {MultiByteToWideChar(CP_UTF8, MB_PRECOMPOSED, "a", -1, wide, 4), ERROR_INVALID_FLAGS},
        {MultiByteToWideChar(12345, 0, "a", -1, wide, 4), ERROR_INVALID_PARAMETER},
        {WideCharToMultiByte(CP_UTF8, 0, u"a", -1, narrow, 4, nullptr, &used),
         ERROR_INVALID_PARAMETER},
        {WideCharToMultiByte(CP_ACP, 0, nullptr, -1, narrow, 4, nullptr, nullptr),
         ERROR_INVALID_PARAMETER},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(cases[i].result, 0) << i;
    }
    // Each call sets the code; check them one by one.
    SetLastError(0);
    MultiByteToWideChar(CP_UTF8, MB_PRECOMPOSED, "a", -1, wide, 4);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FLAGS);
    SetLastError(0);
    WideCharToMultiByte(CP_UTF8, 0, u"a", -1, narrow, 4, "?", nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    SetLastError(0);
    MultiByteToWideChar(CP_ACP, 0, "a", 0, wide, 4);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(Strings, LstrFamily) {
    WCHAR buffer[16];
    EXPECT_EQ(lstrlenW(nullptr), 0);
    lstrcpyW(buffer, u"abc");
    lstrcatW(buffer, u"DEF");
    EXPECT_EQ(std::u16string(buffer), u"abcDEF");
    lstrcpynW(buffer, u"abcdef", 4);
    EXPECT_EQ(std::u16string(buffer), u"abc");
    EXPECT_EQ(lstrcmpiW(u"Setup.MSI", u"setup.msi"), 0);
    EXPECT_LT(lstrcmpiW(u"a", u"B"), 0);
    EXPECT_LT(lstrcmpW(u"a", u"B"), 0);  // word sort, not code units
    EXPECT_LT(lstrcmpW(u"a", u"A"), 0);
    EXPECT_GT(lstrcmpW(u"ab", u"a"), 0);
}

}  // namespace
