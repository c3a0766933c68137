// Unique names beside an existing path: where the code goes, that a name is
// taken by creating it (so threads asking at once never share one), and when
// no name can be made.
#include "library_test_support.h"

#include "platform/cab_cache_name.h"
#include "platform/unique_name.h"

#include <unistd.h>

#include <barrier>
#include <cstdio>
#include <set>
#include <thread>

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

TEST_F(UniqueName, CodeGoesBeforeTheExtensionAndTheNameIsTakenByAnEmptyFile) {
    MakeFile("a/setup.msi");
    EXPECT_EQ(Unique(u"C:\\a\\setup.msi"), Wide("C:\\a\\setup." + Code('a') + ".msi"));
    EXPECT_TRUE(Exists("a/setup." + Code('a') + ".msi"));
    EXPECT_EQ(winsys_test::readFile(prefix_.driveC() + "/a/setup." + Code('a') + ".msi"), "");
    EXPECT_EQ(Unique(u"C:\\a\\setup.msi"), Wide("C:\\a\\setup." + Code('b') + ".msi"))
        << "the first name is taken now";
    EXPECT_EQ(Unique(u"C:\\a\\arc.tar.gz"), Wide("C:\\a\\arc.tar." + Code('a') + ".gz"));
}

TEST_F(UniqueName, CodeIsAppendedWhenTheLastNameHasNoDot) {
    MakeFile("dir.d/other");
    EXPECT_EQ(Unique(u"C:\\dir.d\\data"), Wide("C:\\dir.d\\data" + Code('a')));
    EXPECT_EQ(Unique(u"C:\\dir.d\\"), Wide("C:\\dir.d\\" + Code('a')));
}

// A folder holds a name as a file does; a folder that is not there makes
// every name fail alike, so the first failure ends the search.
TEST_F(UniqueName, FoldersCountAsTakenAndAMissingFolderFailsAtOnce) {
    MakeFile("pkg/setup.msi");
    std::filesystem::create_directories(prefix_.driveC() + "/pkg/setup." + Code('a') + ".msi");
    EXPECT_EQ(Unique(u"C:\\pkg\\setup.msi"), Wide("C:\\pkg\\setup." + Code('b') + ".msi"));
    EXPECT_EQ(Unique(u"C:\\nowhere\\setup.msi"), std::nullopt);
    EXPECT_FALSE(Exists("nowhere"));
}

// Threads of one process share the process id, so they compete for the very
// same 25 names: started together, each name goes to one thread only.
TEST_F(UniqueName, ThreadsAskingAtOnceNeverGetTheSameName) {
    MakeFile("race/setup.msi");
    constexpr int kThreads = 6;
    constexpr int kNamesEach = 3;
    for (int trial = 0; trial < 40; ++trial) {
        SCOPED_TRACE("trial " + std::to_string(trial));
        std::barrier start(kThreads);
        std::vector<std::vector<WideString>> names(kThreads);
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                start.arrive_and_wait();
                for (int n = 0; n < kNamesEach; ++n) {
                    std::array<WCHAR, 300> buffer{};
                    const WideString path = u"C:\\race\\setup.msi";
                    std::copy(path.begin(), path.end(), buffer.begin());
                    if (MakeUniqueName(buffer.data()) != nullptr)
                        names[t].push_back(buffer.data());
                }
            });
        }
        for (auto& thread : threads)
            thread.join();
        std::set<WideString> distinct;
        size_t total = 0;
        for (const auto& list : names) {
            total += list.size();
            distinct.insert(list.begin(), list.end());
        }
        EXPECT_EQ(total, size_t(kThreads * kNamesEach));
        EXPECT_EQ(distinct.size(), total) << "a name went to two threads";
        for (const auto& entry :
             std::filesystem::directory_iterator(prefix_.driveC() + "/race")) {
            if (entry.path().filename() != "setup.msi")
                std::filesystem::remove(entry.path());
        }
    }
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
