// Unique names beside an existing path: where the code goes, and when no name
// can be made.
#include "library_test_support.h"

#include "platform/cab_cache_name.h"
#include "platform/unique_name.h"

#include <unistd.h>

#include <cstdio>

namespace library_test {
namespace {

// The four characters for a letter, as the process id gives them.
std::string Code(char letter) {
    char text[32];
    std::snprintf(text, sizeof text, "%c%3d", letter, static_cast<int>(getpid()));
    std::string code(text, 4);
    for (char& c : code) {
        if (c == ' ')
            c = '_';
    }
    return code;
}

std::optional<WideString> Unique(const WideString& path) {
    std::array<WCHAR, 300> buffer{};
    std::copy(path.begin(), path.end(), buffer.begin());
    if (MakeUniqueName(buffer.data()) != buffer.data()) {
        EXPECT_EQ(WideString(buffer.data()), path) << "a refused path is left as it was";
        return std::nullopt;
    }
    return WideString(buffer.data());
}

class UniqueName : public LibraryTest {};

TEST_F(UniqueName, CodeGoesBeforeTheExtension) {
    EXPECT_EQ(Unique(u"C:\\a\\setup.msi"), Wide("C:\\a\\setup." + Code('a') + ".msi"));
    EXPECT_EQ(Unique(u"C:\\a\\arc.tar.gz"), Wide("C:\\a\\arc.tar." + Code('a') + ".gz"));
}

TEST_F(UniqueName, CodeIsAppendedWhenTheLastNameHasNoDot) {
    EXPECT_EQ(Unique(u"C:\\dir.d\\data"), Wide("C:\\dir.d\\data" + Code('a')));
    EXPECT_EQ(Unique(u"C:\\dir\\"), Wide("C:\\dir\\" + Code('a')));
}

TEST_F(UniqueName, TakenNamesMoveOnToTheNextLetterUntilYIsTaken) {
    MakeFile("pkg/setup.msi");
    for (char letter = 'a'; letter < 'y'; ++letter) {
        MakeFile("pkg/setup." + Code(letter) + ".msi");
    }
    EXPECT_EQ(Unique(u"C:\\pkg\\setup.msi"), Wide("C:\\pkg\\setup." + Code('y') + ".msi"));
    MakeFile("pkg/setup." + Code('y') + ".msi");
    EXPECT_EQ(Unique(u"C:\\pkg\\setup.msi"), std::nullopt);
}

TEST_F(UniqueName, ShortOrUnmarkedOrOverlongPathsFail) {
    EXPECT_EQ(Unique(u"C:"), std::nullopt);
    EXPECT_EQ(Unique(u"ab"), std::nullopt);
    EXPECT_EQ(Unique(u"abc"), std::nullopt) << "no dot or backslash after the first character";
    EXPECT_EQ(Unique(u".abc"), std::nullopt) << "the first character is never the stop";
    EXPECT_EQ(MakeUniqueName(nullptr), nullptr);

    const WideString longest =
        u"C:\\" + WideString(243, u'n') + u".msi";  // 250: result of 255 fits
    ASSERT_EQ(longest.size(), 250u);
    EXPECT_TRUE(Unique(longest).has_value());
    EXPECT_EQ(Unique(longest + u"x"), std::nullopt);
}

std::optional<WideString> CabCacheName(const WideString& package, CabCacheNameForm form) {
    std::array<WCHAR, MAX_PATH + 1> name{};
    name[0] = u'x';
    if (!MakeCabCacheName(package.c_str(), form, name.data())) {
        EXPECT_EQ(name[0], 0) << "a refused name is left empty";
        return std::nullopt;
    }
    return WideString(name.data());
}

// A cab cache name is free as a whole: a file named like the code alone does
// not count, one with the full name does.
TEST_F(UniqueName, CabCacheNamesAreCheckedInTheirFinalForm) {
    constexpr auto beside = CabCacheNameForm::kBesidePackage;
    constexpr auto movedOut = CabCacheNameForm::kMovedOut;
    MakeFile("cache/" + Code('a'));
    EXPECT_EQ(CabCacheName(u"C:\\cache\\product.msi", beside),
              Wide("C:\\cache\\product." + Code('a') + ".msi"));
    EXPECT_EQ(CabCacheName(u"C:\\cache\\product.msi", movedOut),
              Wide("C:\\cache\\" + Code('a') + "_.msi"));
    MakeFile("cache/product." + Code('a') + ".msi");
    MakeFile("cache/" + Code('a') + "_.msi");
    EXPECT_EQ(CabCacheName(u"C:\\cache\\product.msi", beside),
              Wide("C:\\cache\\product." + Code('b') + ".msi"));
    EXPECT_EQ(CabCacheName(u"C:\\cache\\product.msi", movedOut),
              Wide("C:\\cache\\" + Code('b') + "_.msi"));
    EXPECT_EQ(CabCacheName(u"C:\\cache.d\\product", beside), std::nullopt) << "no extension";
    EXPECT_EQ(CabCacheName(u"product.msi", movedOut), std::nullopt) << "no folder";
    EXPECT_EQ(CabCacheName(u"C:\\" + WideString(248, u'n') + u".msi", beside), std::nullopt);
}

}  // namespace
}  // namespace library_test
