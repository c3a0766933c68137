// The fault-injection switch: the Nth call of a kind fails with the chosen
// error, once or from then on, in every layer that asks it (kernel calls,
// the runtime's calls, compound files, the registry store), and leaves no
// partial file behind.
#include <gtest/gtest.h>
#include <io.h>
#include <msiquery.h>
#include <windows.h>
#include <winreg.h>
#include <winsys_faults.h>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <string>

#include "winsys/kernel/test_prefix.h"

namespace {

using winsys_test::readFile;
using winsys_test::TestPrefix;
using winsys_test::writeFile;

class Faults : public ::testing::Test {
  protected:
    TestPrefix prefix;
    std::string work;
    void SetUp() override {
        ASSERT_TRUE(CreateDirectoryW(u"C:\\work", nullptr));
        work = prefix.driveC() + "/work";
        WinsysFaultsReset();
    }
    void TearDown() override { WinsysFaultsReset(); }
    size_t Entries() {
        size_t n = 0;
        for ([[maybe_unused]] auto& entry : std::filesystem::directory_iterator(work))
            ++n;
        return n;
    }
};

BOOL WriteOnce(HANDLE file) {
    DWORD written = 0;
    return WriteFile(file, "abc", 3, &written, nullptr);
}

TEST_F(Faults, NthCallFailsOnceOrFromThenOnAndCountsGoOn) {
    HANDLE file = CreateFileW(u"C:\\work\\a.bin", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                              nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(WinsysFaultsArm(WINSYS_FAULT_WRITE, 2, ERROR_DISK_FULL, FALSE));
    EXPECT_TRUE(WriteOnce(file));
    SetLastError(0);
    EXPECT_FALSE(WriteOnce(file));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
    EXPECT_TRUE(WriteOnce(file));
    ASSERT_TRUE(WinsysFaultsArm(WINSYS_FAULT_WRITE, 1, ERROR_WRITE_FAULT, TRUE));
    EXPECT_FALSE(WriteOnce(file));
    EXPECT_FALSE(WriteOnce(file));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WRITE_FAULT));
    CloseHandle(file);
    EXPECT_EQ(WinsysFaultsCount(WINSYS_FAULT_WRITE), 5u);
    EXPECT_EQ(WinsysFaultsCount(WINSYS_FAULT_OPEN), 1u);
    EXPECT_EQ(WinsysFaultsFired(), 3u);
    EXPECT_EQ(readFile(work + "/a.bin"), "abcabc");
    EXPECT_FALSE(WinsysFaultsArm(WINSYS_FAULT_KINDS, 1, ERROR_DISK_FULL, FALSE));
    EXPECT_FALSE(WinsysFaultsArm(WINSYS_FAULT_WRITE, 0, ERROR_DISK_FULL, FALSE));
}

TEST_F(Faults, EveryKindFailsWithTheChosenErrorAndLeavesNoPartialFile) {
    writeFile(work + "/source.bin", std::string(200000, 's'));
    writeFile(work + "/old.bin", "old");
    const size_t before = Entries();
    WCHAR name[MAX_PATH + 1];
    struct Case {
        DWORD kind;
        DWORD error;
        std::function<bool()> call;
    };
    const Case cases[] = {
        {WINSYS_FAULT_MOVE, ERROR_ACCESS_DENIED,
         [] { return CopyFileW(u"C:\\work\\source.bin", u"C:\\work\\old.bin", FALSE) != 0; }},
        {WINSYS_FAULT_WRITE, ERROR_DISK_FULL,
         [] { return CopyFileW(u"C:\\work\\source.bin", u"C:\\work\\old.bin", FALSE) != 0; }},
        {WINSYS_FAULT_FLUSH, ERROR_WRITE_FAULT,
         [] { return CopyFileW(u"C:\\work\\source.bin", u"C:\\work\\old.bin", FALSE) != 0; }},
        {WINSYS_FAULT_MOVE, ERROR_SHARING_VIOLATION,
         [] {
             return MoveFileExW(u"C:\\work\\source.bin", u"C:\\work\\old.bin",
                                MOVEFILE_REPLACE_EXISTING) != 0;
         }},
        {WINSYS_FAULT_DELETE, ERROR_ACCESS_DENIED,
         [] { return DeleteFileW(u"C:\\work\\old.bin") != 0; }},
        {WINSYS_FAULT_TEMPNAME, ERROR_DISK_FULL,
         [&] { return GetTempFileNameW(u"C:\\work", u"q", 0, name) != 0; }},
        {WINSYS_FAULT_OPEN, ERROR_SHARING_VIOLATION,
         [] {
             HANDLE h = CreateFileW(u"C:\\work\\new.bin", GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    0, nullptr);
             if (h != INVALID_HANDLE_VALUE)
                 CloseHandle(h);
             return h != INVALID_HANDLE_VALUE;
         }},
    };
    for (const Case& c : cases) {
        WinsysFaultsReset();
        ASSERT_TRUE(WinsysFaultsArm(c.kind, 1, c.error, FALSE));
        SetLastError(0);
        EXPECT_FALSE(c.call()) << c.kind;
        EXPECT_EQ(GetLastError(), c.error) << c.kind;
        EXPECT_EQ(readFile(work + "/old.bin"), "old") << c.kind;
        EXPECT_EQ(Entries(), before) << c.kind;
    }
}

TEST_F(Faults, RuntimeCompoundFileAndRegistryLayersFailToo) {
    ASSERT_TRUE(WinsysFaultsArm(WINSYS_FAULT_WRITE, 1, ERROR_DISK_FULL, FALSE));
    const int fd = _open("C:\\work\\crt.bin", _O_CREAT | _O_WRONLY | _O_BINARY, _S_IWRITE);
    ASSERT_GE(fd, 0);
    errno = 0;
    EXPECT_EQ(_write(fd, "x", 1), -1);
    EXPECT_EQ(errno, ENOSPC);
    _close(fd);

    // A package whose commit cannot write keeps its previous contents.
    MSIHANDLE database = 0;
    ASSERT_EQ(MsiOpenDatabaseW(u"C:\\work\\p.msi", MSIDBOPEN_CREATE, &database), 0u);
    ASSERT_EQ(MsiDatabaseCommit(database), 0u);
    const std::string committed = readFile(work + "/p.msi");
    MSIHANDLE view = 0;
    ASSERT_EQ(MsiDatabaseOpenViewW(database, u"CREATE TABLE `T` (`K` CHAR(9) PRIMARY KEY `K`)",
                                   &view),
              0u);
    ASSERT_EQ(MsiViewExecute(view, 0), 0u);
    MsiCloseHandle(view);
    for (DWORD kind : {WINSYS_FAULT_OPEN, WINSYS_FAULT_WRITE, WINSYS_FAULT_FLUSH,
                       WINSYS_FAULT_MOVE}) {
        WinsysFaultsReset();
        ASSERT_TRUE(WinsysFaultsArm(kind, 1, ERROR_DISK_FULL, FALSE));
        EXPECT_NE(MsiDatabaseCommit(database), 0u) << kind;
        EXPECT_EQ(readFile(work + "/p.msi"), committed) << kind;
    }
    WinsysFaultsReset();
    EXPECT_EQ(MsiDatabaseCommit(database), 0u);
    MsiCloseHandle(database);
    EXPECT_NE(readFile(work + "/p.msi"), committed);

    HKEY key = nullptr;
    ASSERT_TRUE(WinsysFaultsArm(WINSYS_FAULT_REGISTRY, 1, ERROR_WRITE_FAULT, FALSE));
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\FaultTest", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_WRITE_FAULT);
    EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\FaultTest", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    EXPECT_EQ(WinsysFaultsCount(WINSYS_FAULT_REGISTRY), 1u);
    std::filesystem::remove_all(work);
}

}  // namespace
