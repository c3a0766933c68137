// Temporary directory and names, short/long/full path forms, and bad path
// input across the path-taking calls.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>

#include "winsys/kernel/test_prefix.h"

namespace {

using winsys_test::TestPrefix;

TEST(TempNames, TempPathIsTheWindowsFormOfTmpdir) {
    TestPrefix prefix;
    WCHAR buffer[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
    std::u16string expected =
        u"Z:" + std::u16string(prefix.root().begin(), prefix.root().end()) + u"/tmp/";
    for (auto& c : expected)
        if (c == u'/')
            c = u'\\';
    EXPECT_EQ(std::u16string(buffer), expected);
    EXPECT_EQ(length, expected.size());
    EXPECT_EQ(GetTempPathW(3, buffer), expected.size() + 1);
    char narrow[MAX_PATH + 1];
    EXPECT_EQ(GetTempPathA(sizeof narrow, narrow), expected.size());
}

TEST(TempNames, UniqueZeroCreatesAFileWithAHexCounter) {
    TestPrefix prefix;
    WCHAR dir[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, dir);
    WCHAR first[MAX_PATH], second[MAX_PATH];
    UINT a = GetTempFileNameW(dir, u"qltmsi", 0, first);
    UINT b = GetTempFileNameW(dir, u"qltmsi", 0, second);
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    EXPECT_NE(a, b);
    char hex[16];
    snprintf(hex, sizeof hex, "%X", a);
    std::string name = std::string("qlt") + hex + ".tmp";
    EXPECT_EQ(std::u16string(first),
              std::u16string(dir) + std::u16string(name.begin(), name.end()));
    EXPECT_TRUE(std::filesystem::exists(prefix.root() + "/tmp/" + name));  // created, empty
    EXPECT_EQ(std::filesystem::file_size(prefix.root() + "/tmp/" + name), 0u);

    // A chosen number: the name only, nothing created; the counter wraps at 16 bits.
    WCHAR chosen[MAX_PATH];
    EXPECT_EQ(GetTempFileNameW(u"C:\\windows\\Temp", u"x", 0x1ABCD, chosen), 0xABCDu);
    EXPECT_EQ(std::u16string(chosen), u"C:\\windows\\Temp\\xABCD.tmp");
    EXPECT_EQ(GetFileAttributesW(chosen), INVALID_FILE_ATTRIBUTES);

    char narrow[MAX_PATH];
    EXPECT_NE(GetTempFileNameA("C:\\windows\\Temp\\", "ab", 0, narrow), 0u);
    EXPECT_EQ(std::string(narrow).substr(0, 18), "C:\\windows\\Temp\\ab");
    EXPECT_EQ(GetTempFileNameW(u"C:\\no such dir", u"qlt", 0, chosen), 0u);
    EXPECT_EQ(GetLastError(), ERROR_DIRECTORY);
}

TEST(PathForms, ShortAndLongFormsOfAnExistingPathAreThePath) {
    TestPrefix prefix;
    ASSERT_TRUE(CreateDirectoryW(u"C:\\Program Files", nullptr));
    const char16_t* path = u"C:\\program files";
    WCHAR buffer[MAX_PATH];
    EXPECT_EQ(GetShortPathNameW(path, buffer, MAX_PATH), 16u);
    EXPECT_EQ(std::u16string(buffer), path);
    EXPECT_EQ(GetShortPathNameW(path, buffer, 16), 17u);  // needed size, terminator included
    EXPECT_EQ(GetShortPathNameW(path, nullptr, 0), 17u);
    EXPECT_EQ(GetLongPathNameW(path, buffer, MAX_PATH), 16u);
    char narrow[MAX_PATH];
    EXPECT_EQ(GetShortPathNameA("C:\\Program Files", narrow, MAX_PATH), 16u);
    EXPECT_STREQ(narrow, "C:\\Program Files");
    // In place, as callers do.
    std::u16string(u"C:\\windows").copy(buffer, 10);
    buffer[10] = 0;
    EXPECT_EQ(GetShortPathNameW(buffer, buffer, MAX_PATH), 10u);

    EXPECT_EQ(GetShortPathNameW(u"C:\\missing.txt", buffer, MAX_PATH), 0u);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(GetShortPathNameW(u"C:\\missing\\x.txt", buffer, MAX_PATH), 0u);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(GetShortPathNameW(u"", buffer, MAX_PATH), 0u);
    EXPECT_EQ(GetLastError(), ERROR_BAD_PATHNAME);
    EXPECT_EQ(GetShortPathNameW(nullptr, buffer, MAX_PATH), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(PathForms, FullPathNames) {
    TestPrefix prefix;
    WCHAR buffer[MAX_PATH];
    LPWSTR filePart = nullptr;
    EXPECT_EQ(GetFullPathNameW(u"C:/a/./b/../c.txt", MAX_PATH, buffer, &filePart), 10u);
    EXPECT_EQ(std::u16string(buffer), u"C:\\a\\c.txt");
    EXPECT_EQ(std::u16string(filePart), u"c.txt");
    EXPECT_EQ(GetFullPathNameW(u"C:\\a\\", MAX_PATH, buffer, &filePart), 5u);
    EXPECT_EQ(filePart, nullptr);
    EXPECT_EQ(GetFullPathNameW(u"C:\\a\\b", 3, buffer, nullptr), 7u);
}

TEST(BadInput, NullAndOverLongPathsAnswerWithWindowsCodes) {
    TestPrefix prefix;
    const std::u16string tooLong = u"C:\\" + std::u16string(300, u'x');
    const std::string tooLongA = "C:\\" + std::string(300, 'x');
    WIN32_FIND_DATAW data;
    WCHAR buffer[MAX_PATH];
    struct Case {
        const char* call;
        bool failed;
        DWORD expected;
    };
    auto check = [](const char* call, bool failed, DWORD expected) {
        DWORD error = GetLastError();
        EXPECT_TRUE(failed) << call;
        EXPECT_EQ(error, expected) << call;
    };
    check("CreateFileW null",
          CreateFileW(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr) ==
              INVALID_HANDLE_VALUE,
          ERROR_PATH_NOT_FOUND);
    check("CreateFileW long",
          CreateFileW(tooLong.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr) ==
              INVALID_HANDLE_VALUE,
          ERROR_FILENAME_EXCED_RANGE);
    check("CreateFileA long",
          CreateFileA(tooLongA.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr) ==
              INVALID_HANDLE_VALUE,
          ERROR_FILENAME_EXCED_RANGE);
    check("CreateFileW empty",
          CreateFileW(u"", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr) ==
              INVALID_HANDLE_VALUE,
          ERROR_PATH_NOT_FOUND);
    check("GetFileAttributesW null", GetFileAttributesW(nullptr) == INVALID_FILE_ATTRIBUTES,
          ERROR_PATH_NOT_FOUND);
    check("GetFileAttributesA long",
          GetFileAttributesA(tooLongA.c_str()) == INVALID_FILE_ATTRIBUTES,
          ERROR_FILENAME_EXCED_RANGE);
    check("DeleteFileW null", !DeleteFileW(nullptr), ERROR_PATH_NOT_FOUND);
    check("DeleteFileW long", !DeleteFileW(tooLong.c_str()), ERROR_FILENAME_EXCED_RANGE);
    check("CopyFileW null", !CopyFileW(nullptr, u"C:\\x", FALSE), ERROR_PATH_NOT_FOUND);
    check("CopyFileW long", !CopyFileW(u"C:\\windows", tooLong.c_str(), FALSE),
          ERROR_FILENAME_EXCED_RANGE);
    check("MoveFileW null", !MoveFileW(u"C:\\x", nullptr), ERROR_INVALID_PARAMETER);
    check("MoveFileA long", !MoveFileA(tooLongA.c_str(), "C:\\y"), ERROR_FILENAME_EXCED_RANGE);
    check("CreateDirectoryW null", !CreateDirectoryW(nullptr, nullptr), ERROR_PATH_NOT_FOUND);
    check("CreateDirectoryW long", !CreateDirectoryW(tooLong.c_str(), nullptr),
          ERROR_FILENAME_EXCED_RANGE);
    check("RemoveDirectoryA null", !RemoveDirectoryA(nullptr), ERROR_PATH_NOT_FOUND);
    check("FindFirstFileW null", FindFirstFileW(nullptr, &data) == INVALID_HANDLE_VALUE,
          ERROR_PATH_NOT_FOUND);
    check("FindFirstFileW long",
          FindFirstFileW((tooLong + u"\\*").c_str(), &data) == INVALID_HANDLE_VALUE,
          ERROR_FILENAME_EXCED_RANGE);
    check("GetShortPathNameW long", GetShortPathNameW(tooLong.c_str(), buffer, MAX_PATH) == 0,
          ERROR_FILENAME_EXCED_RANGE);
    check("GetTempFileNameW null dir", GetTempFileNameW(nullptr, u"x", 0, buffer) == 0,
          ERROR_INVALID_PARAMETER);
    check("GetTempFileNameW long dir", GetTempFileNameW(tooLong.c_str(), u"x", 0, buffer) == 0,
          ERROR_BUFFER_OVERFLOW);
    check("SetFileAttributesW null", !SetFileAttributesW(nullptr, 0), ERROR_PATH_NOT_FOUND);
    check("LoadLibraryW long", LoadLibraryW(tooLong.c_str()) == nullptr,
          ERROR_FILENAME_EXCED_RANGE);
}

}  // namespace
