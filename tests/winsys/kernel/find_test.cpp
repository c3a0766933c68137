// Directory searches: wildcards as Windows reads them, dot entries, errors.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include "winsys/kernel/test_prefix.h"

namespace {

using winsys_test::TestPrefix;
using winsys_test::writeFile;

std::vector<std::u16string> findAll(const char16_t* pattern, DWORD* error = nullptr) {
    std::vector<std::u16string> names;
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW(pattern, &data);
    if (search == INVALID_HANDLE_VALUE) {
        if (error)
            *error = GetLastError();
        return names;
    }
    do {
        EXPECT_EQ(data.cAlternateFileName[0], 0);
        names.push_back(data.cFileName);
    } while (FindNextFileW(search, &data));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
    EXPECT_FALSE(CloseHandle(search));  // searches are closed by FindClose only
    EXPECT_TRUE(FindClose(search));
    return names;
}

using Names = std::vector<std::u16string>;

class Find : public ::testing::Test {
  protected:
    TestPrefix prefix;
    void SetUp() override {
        ASSERT_TRUE(CreateDirectoryW(u"C:\\dir", nullptr));
        std::string dir = prefix.driveC() + "/dir";
        for (const char* name : {"a.txt", "B.TXT", "noext", "setup.a345.msi", "ab.txt.bak"})
            writeFile(dir + "/" + name, "x");
        std::filesystem::create_directory(dir + "/sub");
    }
};

TEST_F(Find, WildcardsMatchAsWindowsReadsThem) {
    EXPECT_EQ(findAll(u"C:\\dir\\*.*"), (Names{u".", u"..", u"a.txt", u"ab.txt.bak", u"B.TXT",
                                               u"noext", u"setup.a345.msi", u"sub"}));
    EXPECT_EQ(findAll(u"C:\\dir\\*"), findAll(u"C:\\dir\\*.*"));
    EXPECT_EQ(findAll(u"c:\\DIR\\*.TXT"), (Names{u"a.txt", u"B.TXT"}));
    EXPECT_EQ(findAll(u"C:\\dir\\?.txt"), (Names{u"a.txt", u"B.TXT"}));
    EXPECT_EQ(findAll(u"C:\\dir\\setup.*.msi"), (Names{u"setup.a345.msi"}));
    EXPECT_EQ(findAll(u"C:\\dir\\noext.*"), (Names{u"noext"}));
    EXPECT_EQ(findAll(u"C:\\dir\\*."), (Names{u".", u"..", u"noext", u"sub"}));
    EXPECT_EQ(findAll(u"C:\\dir\\SETUP.A345.MSI"), (Names{u"setup.a345.msi"}));
    EXPECT_EQ(findAll(u"C:\\dir"), (Names{u"dir"}));
}

TEST_F(Find, EntriesCarryAttributesAndSizes) {
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA("C:\\dir\\sub", &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_STREQ(data.cFileName, "sub");
    EXPECT_TRUE(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    FindClose(search);
    search = FindFirstFileA("C:\\dir\\a.txt", &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_EQ(data.nFileSizeLow, 1u);
    EXPECT_EQ(data.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_FALSE(FindNextFileA(search, &data));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
    FindClose(search);
}

TEST_F(Find, RootsHaveNoDotEntriesAndMissesAreReported) {
    Names root = findAll(u"C:\\*");
    EXPECT_EQ(std::count(root.begin(), root.end(), u"."), 0);
    EXPECT_EQ(std::count(root.begin(), root.end(), u"dir"), 1);
    DWORD error = 0;
    EXPECT_TRUE(findAll(u"C:\\dir\\*.none", &error).empty());
    EXPECT_EQ(error, ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(findAll(u"C:\\nodir\\*", &error).empty());
    EXPECT_EQ(error, ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(FindClose(INVALID_HANDLE_VALUE));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

}  // namespace
