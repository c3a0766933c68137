// File versions and languages from version resources, and the errors for
// files without one.
#include <windows.h>

#include "installer_test_support.h"

using namespace installer_test;

namespace {

// The module through drive Z:, which maps the whole native file system.
std::u16string modulePath() {
    std::u16string path = u"Z:";
    for (char c : std::string(QLTMSI_MODULE_PATH))
        path += c == '/' ? u'\\' : char16_t(c);
    return path;
}

}  // namespace

TEST(FileVersion, ReadsVersionAndLanguage) {
    prefix();
    WCHAR version[64], language[64];
    DWORD versionCount = 64, languageCount = 64;
    ASSERT_EQ(
        MsiGetFileVersionW(modulePath().c_str(), version, &versionCount, language, &languageCount),
        ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(version), u"6.50.0.0");
    EXPECT_EQ(versionCount, 8u);
    EXPECT_EQ(std::u16string(language), u"1033");
    EXPECT_EQ(languageCount, 4u);
    // Either text alone.
    versionCount = 64;
    EXPECT_EQ(MsiGetFileVersionW(modulePath().c_str(), version, &versionCount, nullptr, nullptr),
              ERROR_SUCCESS);
    char narrowText[64];
    DWORD narrowCount = 64;
    EXPECT_EQ(MsiGetFileVersionA(narrow(modulePath()).c_str(), narrowText, &narrowCount, nullptr,
                                 nullptr),
              ERROR_SUCCESS);
    EXPECT_STREQ(narrowText, "6.50.0.0");
}

TEST(FileVersion, ShortBuffers) {
    prefix();
    WCHAR version[4];
    DWORD versionCount = 4;
    EXPECT_EQ(MsiGetFileVersionW(modulePath().c_str(), version, &versionCount, nullptr, nullptr),
              ERROR_MORE_DATA);
    EXPECT_EQ(versionCount, 8u);
    EXPECT_EQ(std::u16string(version), u"6.5");
    // Sizing without a buffer.
    versionCount = 0;
    EXPECT_EQ(MsiGetFileVersionW(modulePath().c_str(), nullptr, &versionCount, nullptr, nullptr),
              ERROR_MORE_DATA);
    EXPECT_EQ(versionCount, 8u);
}

TEST(FileVersion, FilesWithoutVersion) {
    prefix();
    makeFile("plain.txt", "no resources here");
    WCHAR version[64];
    DWORD count = 64;
    EXPECT_EQ(MsiGetFileVersionW(u"C:\\plain.txt", version, &count, nullptr, nullptr),
              ERROR_FILE_INVALID);
    EXPECT_EQ(MsiGetFileVersionW(u"C:\\missing.dll", version, &count, nullptr, nullptr),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(MsiGetFileVersionW(u"C:\\plain.txt", version, nullptr, nullptr, nullptr),
              ERROR_INVALID_PARAMETER);
}
