// wsprintf: the directives the library formats with, both widths.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace {

TEST(Wsprintf, WideDirectives) {
    WCHAR buffer[1100];
    EXPECT_EQ(wsprintfW(buffer, u"%s.%x.%s", u"setup", 345u, u"msi"), 13);
    EXPECT_EQ(std::u16string(buffer), u"setup.159.msi");
    wsprintfW(buffer, u"[%3i][%03i][%-3i][%i][%d][%u]", 7, 7, 7, -12, 5, 4294967295u);
    EXPECT_EQ(std::u16string(buffer), u"[  7][007][7  ][-12][5][4294967295]");
    wsprintfW(buffer, u"%c%c %X %% %S %ls %hs", u'\u00e9', u'z', 0xbeefu, "narrow", u"wide",
              "n\xc3\xa9");
    EXPECT_EQ(std::u16string(buffer), u"\u00e9z BEEF % narrow wide n\u00e9");
    wsprintfW(buffer, u"%s|%.2s|%5s|%-5s|", static_cast<const WCHAR*>(nullptr), u"abc", u"ab",
              u"ab");
    EXPECT_EQ(std::u16string(buffer), u"(null)|ab|   ab|ab   |");
    wsprintfW(buffer, u"%08lx %I64u %#x", 0x1234u, 12345678901234ull, 255u);
    EXPECT_EQ(std::u16string(buffer), u"00001234 12345678901234 0xff");
}

TEST(Wsprintf, NarrowDirectives) {
    char buffer[1100];
    EXPECT_EQ(wsprintfA(buffer, "%s%s", "C:\\tmp\\", "file.txt"), 15);
    EXPECT_STREQ(buffer, "C:\\tmp\\file.txt");
    wsprintfA(buffer, "%S %c %3i %x", u"w\u00e9", 'q', 42, 0xabu);
    EXPECT_STREQ(buffer, "w\xc3\xa9 q  42 ab");
}

TEST(Wsprintf, OutputStopsAt1024CharactersWithTheTerminator) {
    std::u16string longText(2000, u'x');
    WCHAR buffer[2100];
    EXPECT_EQ(wsprintfW(buffer, u"%s%s", longText.c_str(), u"tail"), 1023);
    EXPECT_EQ(std::u16string(buffer), std::u16string(1023, u'x'));
    std::string narrow(1500, 'y');
    char nbuffer[2100];
    EXPECT_EQ(wsprintfA(nbuffer, "ab%s", narrow.c_str()), 1023);
    EXPECT_EQ(strlen(nbuffer), 1023u);
}

}  // namespace
