// Open files: dispositions, access, sharing, positions, sizes and times.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <windows.h>

#include <string>

#include "winsys/kernel/test_prefix.h"

namespace {

using winsys_test::readFile;
using winsys_test::TestPrefix;
using winsys_test::writeFile;

class Files : public ::testing::Test {
  protected:
    TestPrefix prefix;
    std::u16string dir = u"C:\\work";
    void SetUp() override { ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr)); }
    std::u16string at(const char16_t* name) { return dir + u"\\" + name; }
    std::string native(const char* name) { return prefix.driveC() + "/work/" + name; }
};

TEST_F(Files, CreationDispositions) {
    auto path = at(u"f.bin");
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    h = CreateFileW(u"C:\\work\\missing\\f.bin", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

    h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(h, "hello", 5, &written, nullptr));
    EXPECT_EQ(written, 5u);
    CloseHandle(h);
    EXPECT_EQ(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);

    h = CreateFileW(u"c:\\WORK\\F.BIN", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0,
                    nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);  // existing file opened, case ignored
    EXPECT_EQ(GetFileSize(h, nullptr), 5u);
    CloseHandle(h);

    EXPECT_EQ(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, TRUNCATE_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(GetFileSize(h, nullptr), 0u);
    CloseHandle(h);
    EXPECT_EQ(CreateFileW(dir.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST_F(Files, AccessAndSharingBetweenHandles) {
    auto path = at(u"shared.bin");
    HANDLE writer =
        CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    char byte;
    DWORD count;
    EXPECT_FALSE(ReadFile(writer, &byte, 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

    // A reader that shares writing may join; one that refuses it may not.
    HANDLE reader = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_EQ(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                          nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_FALSE(DeleteFileW(path.c_str()));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    CloseHandle(reader);
    CloseHandle(writer);
    EXPECT_TRUE(DeleteFileW(path.c_str()));

    writeFile(native("ro.txt"), "x");
    ASSERT_TRUE(SetFileAttributesW(at(u"ro.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(
        CreateFileW(at(u"ro.txt").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr),
        INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    HANDLE ro =
        CreateFileW(at(u"ro.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(ro, INVALID_HANDLE_VALUE);
    CloseHandle(ro);
}

TEST_F(Files, SharingHoldsBetweenProcesses) {
    auto path = at(u"between.bin");
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    int toChild[2], toParent[2];
    ASSERT_EQ(pipe(toChild), 0);
    ASSERT_EQ(pipe(toParent), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(toChild[1]);
        close(toParent[0]);
        // Holds the file for reading and lets nobody else write or delete it.
        HANDLE held = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        char c = held == INVALID_HANDLE_VALUE ? 'f' : 'h';
        if (write(toParent[1], &c, 1) != 1 || read(toChild[0], &c, 1) != 1)
            _exit(2);
        _exit(held == INVALID_HANDLE_VALUE ? 1 : 0);
    }
    close(toChild[0]);
    close(toParent[1]);
    char c = 0;
    ASSERT_EQ(read(toParent[0], &c, 1), 1);
    EXPECT_EQ(c, 'h');
    EXPECT_EQ(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                          nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_FALSE(DeleteFileW(path.c_str()));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    // Reading alongside is allowed, as long as the reader shares reading too.
    HANDLE reader = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                0, nullptr);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE);
    CloseHandle(reader);
    EXPECT_EQ(write(toChild[1], "x", 1), 1);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    close(toChild[1]);
    close(toParent[0]);
    EXPECT_TRUE(DeleteFileW(path.c_str()));  // free once the other process is gone
}

TEST_F(Files, PositionsSizesAndTruncation) {
    HANDLE h = CreateFileW(at(u"pos.bin").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           CREATE_NEW, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD count;
    ASSERT_TRUE(WriteFile(h, "0123456789", 10, &count, nullptr));
    EXPECT_EQ(SetFilePointer(h, -4, nullptr, FILE_END), 6u);
    char buffer[8] = {};
    EXPECT_TRUE(ReadFile(h, buffer, 8, &count, nullptr));
    EXPECT_EQ(count, 4u);
    EXPECT_STREQ(buffer, "6789");
    EXPECT_TRUE(ReadFile(h, buffer, 8, &count, nullptr));  // end of file: success, nothing read
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(SetFilePointer(h, -20, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
    LONG high = 1;
    EXPECT_EQ(SetFilePointer(h, 0, &high, FILE_BEGIN), 0u);  // 4 GiB: beyond the end is allowed
    EXPECT_EQ(high, 1);
    LARGE_INTEGER to{}, now{};
    to.QuadPart = 3;
    EXPECT_TRUE(SetFilePointerEx(h, to, &now, FILE_BEGIN));
    EXPECT_EQ(now.QuadPart, 3);
    EXPECT_TRUE(SetEndOfFile(h));
    LARGE_INTEGER size{};
    EXPECT_TRUE(GetFileSizeEx(h, &size));
    EXPECT_EQ(size.QuadPart, 3);
    EXPECT_TRUE(FlushFileBuffers(h));

    BY_HANDLE_FILE_INFORMATION info{};
    EXPECT_TRUE(GetFileInformationByHandle(h, &info));
    EXPECT_EQ(info.nFileSizeLow, 3u);
    EXPECT_EQ(info.nNumberOfLinks, 1u);
    EXPECT_EQ(info.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));

    SYSTEMTIME st{2001, 2, 0, 3, 4, 5, 6, 7};
    FILETIME written{};
    ASSERT_TRUE(SystemTimeToFileTime(&st, &written));
    EXPECT_TRUE(SetFileTime(h, nullptr, nullptr, &written));
    FILETIME creation{}, access{}, write{};
    EXPECT_TRUE(GetFileTime(h, &creation, &access, &write));
    EXPECT_EQ(write.dwLowDateTime, written.dwLowDateTime);
    EXPECT_EQ(write.dwHighDateTime, written.dwHighDateTime);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_FALSE(ReadFile(h, buffer, 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(Files, DeleteOnCloseAndNarrowNames) {
    HANDLE h = CreateFileA("C:\\work\\gone.tmp", GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_NE(GetFileAttributesA("C:\\work\\gone.tmp"), INVALID_FILE_ATTRIBUTES);
    CloseHandle(h);
    EXPECT_EQ(GetFileAttributesA("C:\\work\\gone.tmp"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST(FileTimes, Conversions) {
    SYSTEMTIME st{2000, 1, 0, 1, 0, 0, 0, 0};
    FILETIME ft{};
    ASSERT_TRUE(SystemTimeToFileTime(&st, &ft));
    EXPECT_EQ((static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime,
              125911584000000000ULL);
    SYSTEMTIME back{};
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &back));
    EXPECT_EQ(back.wYear, 2000);
    EXPECT_EQ(back.wDayOfWeek, 6);  // a Saturday

    WORD date = 0, time = 0;
    SYSTEMTIME dos{2024, 2, 0, 29, 13, 45, 31, 0};
    ASSERT_TRUE(SystemTimeToFileTime(&dos, &ft));
    ASSERT_TRUE(FileTimeToDosDateTime(&ft, &date, &time));
    EXPECT_EQ(date, ((2024 - 1980) << 9) | (2 << 5) | 29);
    EXPECT_EQ(time, (13 << 11) | (45 << 5) | 15);
    FILETIME fromDos{};
    ASSERT_TRUE(DosDateTimeToFileTime(date, time, &fromDos));
    ASSERT_TRUE(FileTimeToSystemTime(&fromDos, &back));
    EXPECT_EQ(back.wSecond, 30);

    SYSTEMTIME early{1979, 12, 0, 31, 0, 0, 0, 0};
    ASSERT_TRUE(SystemTimeToFileTime(&early, &ft));
    EXPECT_FALSE(FileTimeToDosDateTime(&ft, &date, &time));
    SYSTEMTIME bad{2023, 2, 0, 29, 0, 0, 0, 0};
    EXPECT_FALSE(SystemTimeToFileTime(&bad, &ft));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    setenv("TZ", "EST5", 1);
    tzset();
    FILETIME local{};
    SYSTEMTIME noon{2020, 6, 0, 1, 12, 0, 0, 0};
    ASSERT_TRUE(SystemTimeToFileTime(&noon, &ft));
    ASSERT_TRUE(FileTimeToLocalFileTime(&ft, &local));
    ASSERT_TRUE(FileTimeToSystemTime(&local, &back));
    EXPECT_EQ(back.wHour, 7);
    FILETIME utc{};
    ASSERT_TRUE(LocalFileTimeToFileTime(&local, &utc));
    EXPECT_EQ(utc.dwLowDateTime, ft.dwLowDateTime);
    unsetenv("TZ");
    tzset();

    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    ASSERT_TRUE(FileTimeToSystemTime(&now, &back));
    EXPECT_GE(back.wYear, 2024);
}

}  // namespace
