// The runtime file calls: Windows flags and paths, descriptors, _tempnam.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "winsys/kernel/test_prefix.h"

namespace {

using winsys_test::readFile;
using winsys_test::TestPrefix;

TEST(Crt, OpenTakesWindowsFlagsAndPaths) {
    TestPrefix prefix;
    ASSERT_TRUE(CreateDirectoryW(u"C:\\cab", nullptr));
    int fd = _open("C:\\CAB\\out.bin", _O_BINARY | _O_CREAT | _O_WRONLY | _O_SEQUENTIAL,
                   _S_IREAD | _S_IWRITE);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(_write(fd, "abcdef", 6), 6);
    EXPECT_EQ(_lseek(fd, 0, SEEK_CUR), 6);
    EXPECT_EQ(_close(fd), 0);
    EXPECT_EQ(readFile(prefix.driveC() + "/cab/out.bin"), "abcdef");

    fd = _open("C:\\cab\\out.bin", _O_RDONLY | _O_BINARY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(_lseek(fd, -2, SEEK_END), 4);
    char buffer[8] = {};
    EXPECT_EQ(_read(fd, buffer, 8), 2);
    EXPECT_STREQ(buffer, "ef");
    EXPECT_EQ(_write(fd, "x", 1), -1);
    _close(fd);

    EXPECT_EQ(_open("C:\\cab\\out.bin", _O_CREAT | _O_EXCL | _O_WRONLY, _S_IWRITE), -1);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(_open("C:\\cab\\missing.bin", _O_RDONLY), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(_open("C:\\cab", _O_RDONLY), -1);
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(_open(nullptr, _O_RDONLY), -1);

    // Without _S_IWRITE the new file is read-only.
    fd = _open("C:\\cab\\ro.bin", _O_CREAT | _O_WRONLY, _S_IREAD);
    ASSERT_GE(fd, 0);
    _close(fd);
    EXPECT_TRUE(GetFileAttributesW(u"C:\\cab\\ro.bin") & FILE_ATTRIBUTE_READONLY);
}

// Bytes this process has dirtied in the page cache, less those it deleted
// before they were written back: what reaches the disk.
long long bytesBoundForDisk() {
    std::ifstream io("/proc/self/io");
    std::string key;
    long long value = 0, dirtied = 0, cancelled = 0;
    while (io >> key >> value) {
        if (key == "write_bytes:")
            dirtied = value;
        else if (key == "cancelled_write_bytes:")
            cancelled = value;
    }
    return dirtied - cancelled;
}

// _O_TRUNC empties a file that has bytes; one that is already empty (a
// GetTempFileName file) is left alone by it and by CreateFileW's truncating
// dispositions, so that a scratch file written and deleted again never
// reaches the disk (ext4 writes out at close whatever was written after a
// truncation).
TEST(Crt, TruncatingOpensEmptyAFileButSendAScratchFileToNoDisk) {
    TestPrefix prefix;
    ASSERT_TRUE(CreateDirectoryW(u"C:\\t", nullptr));
    int fd = _open("C:\\t\\full.bin", _O_CREAT | _O_WRONLY, _S_IWRITE);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(_write(fd, "abcdef", 6), 6);
    _close(fd);
    fd = _open("C:\\t\\full.bin", _O_CREAT | _O_TRUNC | _O_RDWR, _S_IWRITE);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(_write(fd, "xy", 2), 2);
    _close(fd);
    EXPECT_EQ(readFile(prefix.driveC() + "/t/full.bin"), "xy");

    const std::string block(1 << 20, 's');
    // Each way of opening the scratch file writes 8 MiB into it and closes it.
    auto throughCrt = [&](const WCHAR* scratch) {
        std::string narrow(scratch, scratch + std::char_traits<WCHAR>::length(scratch));
        int handle = _open(narrow.c_str(), _O_CREAT | _O_TRUNC | _O_RDWR | _O_BINARY, _S_IWRITE);
        bool ok = handle >= 0;
        for (int i = 0; ok && i < 8; ++i)
            ok = _write(handle, block.data(), static_cast<unsigned>(block.size())) == 1 << 20;
        return handle >= 0 && _close(handle) == 0 && ok;
    };
    auto throughHandle = [&](DWORD disposition) {
        return [&block, disposition](const WCHAR* scratch) {
            HANDLE file = CreateFileW(scratch, GENERIC_READ | GENERIC_WRITE, 0, nullptr, disposition, 0, nullptr);
            DWORD written = 0;
            bool ok = file != INVALID_HANDLE_VALUE;
            for (int i = 0; ok && i < 8; ++i)
                ok = WriteFile(file, block.data(), DWORD(block.size()), &written, nullptr);
            return file != INVALID_HANDLE_VALUE && CloseHandle(file) && ok;
        };
    };
    const std::pair<const char*, std::function<bool(const WCHAR*)>> ways[] = {
        {"_open with _O_TRUNC", throughCrt},
        {"CreateFileW, CREATE_ALWAYS", throughHandle(CREATE_ALWAYS)},
        {"CreateFileW, TRUNCATE_EXISTING", throughHandle(TRUNCATE_EXISTING)},
    };
    for (const auto& [way, writeScratch] : ways) {
        SCOPED_TRACE(way);
        WCHAR scratch[MAX_PATH];
        ASSERT_NE(GetTempFileNameW(u"C:\\t", u"scr", 0, scratch), 0u);
        const long long before = bytesBoundForDisk();
        ASSERT_TRUE(writeScratch(scratch));
        ASSERT_TRUE(DeleteFileW(scratch));
        EXPECT_LT(bytesBoundForDisk() - before, 1 << 20);
    }
}

TEST(Crt, TempnamPrefersTmpThenTheGivenDirectoryThenTheTempPath) {
    TestPrefix prefix;
    std::filesystem::create_directories(prefix.root() + "/tmpvar");
    setenv("TMP", (prefix.root() + "/tmpvar").c_str(), 1);
    char* name = _tempnam("C:\\windows", "xx");
    ASSERT_NE(name, nullptr);
    std::string fromTmp = name;
    free(name);
    EXPECT_EQ(fromTmp.substr(0, 3), "Z:\\");
    EXPECT_NE(fromTmp.find("\\tmpvar\\xx"), std::string::npos);

    setenv("TMP", (prefix.root() + "/absent").c_str(), 1);
    name = _tempnam("C:\\windows", "xx");
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(std::string(name).substr(0, 13), "C:\\windows\\xx");
    EXPECT_EQ(GetFileAttributesA(name), INVALID_FILE_ATTRIBUTES);
    free(name);

    unsetenv("TMP");
    name = _tempnam("", "xx");
    ASSERT_NE(name, nullptr);
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    EXPECT_EQ(std::string(name).substr(0, strlen(temp)), temp);
    free(name);
}

}  // namespace
