// Package compaction: free space goes, content stays; nothing changes when
// the copy would not be smaller or the file is no package; no temporary file
// outlives the call.
#include "backup_test_support.h"

#include <qltmsi.h>
#include <winsys_faults.h>

#include <cstring>

namespace backup_test {
namespace {

uint32_t Read32(const std::string& bytes, size_t offset) {
    uint32_t value;
    std::memcpy(&value, bytes.data() + offset, 4);
    return value;
}

// Appends the sectors that the file's allocation table already counts as
// free (past the last used sector, up to the end of the last table sector),
// filled with junk: a compound file with free space, as deleting streams
// leaves one. Returns the number of bytes added.
size_t AddFreeSectors(const std::string& native) {
    std::string bytes = winsys_test::readFile(native);
    const size_t sectorSize = size_t(1) << (uint8_t(bytes[30]) | uint8_t(bytes[31]) << 8);
    const uint32_t fatSectors = Read32(bytes, 44);
    EXPECT_LE(fatSectors, 109u);
    const size_t perSector = sectorSize / 4;
    const size_t used = bytes.size() / sectorSize - 1;
    const size_t covered = fatSectors * perSector;
    size_t added = 0;
    for (size_t index = used; index < covered; ++index) {
        const uint32_t fatSector = Read32(bytes, 76 + 4 * (index / perSector));
        const uint32_t entry =
            Read32(bytes, (fatSector + 1) * sectorSize + 4 * (index % perSector));
        if (entry != 0xFFFFFFFFu)
            break;
        added += sectorSize;
    }
    bytes.append(added, '\xAB');
    winsys_test::writeFile(native, bytes);
    return added;
}

void CreatePackageWithStream(const WideString& path) {
    CreatePackage(path, kPackageCode);
    MSIHANDLE db = 0;
    ASSERT_EQ(MsiOpenDatabaseW(path.c_str(), MSIDBOPEN_TRANSACT, &db), 0u);
    winsys_test::writeFile(TempDir() + "/payload", std::string(40000, 'p'));
    MSIHANDLE record = MsiCreateRecord(2);
    MsiRecordSetStringW(record, 1, u"Payload");
    MsiRecordSetStreamW(record, 2, Wide("Z:" + TempDir() + "/payload").c_str());
    Exec(db, u"INSERT INTO `_Streams` (`Name`, `Data`) VALUES (?, ?)", record);
    MsiCloseHandle(record);
    ASSERT_EQ(MsiDatabaseCommit(db), 0u);
    MsiCloseHandle(db);
    std::filesystem::remove(TempDir() + "/payload");
}

using Compaction = BackupTest;

TEST_F(Compaction, FreeSpaceGoesAndTheContentStays) {
    const WideString package = CPath("work/free.msi");
    CreatePackageWithStream(package);
    const auto before = Dump(package);
    const size_t compactSize = std::filesystem::file_size(DriveC("work/free.msi"));
    ASSERT_GT(AddFreeSectors(DriveC("work/free.msi")), 0u);
    ASSERT_EQ(Dump(package), before) << "the free sectors are no content";

    EXPECT_EQ(DefragMsiFile(package.c_str()), QLTMSI_DEFRAG_DONE);
    EXPECT_LE(std::filesystem::file_size(DriveC("work/free.msi")), compactSize);
    EXPECT_EQ(Dump(package), before);
    EXPECT_TRUE(FilesIn(TempDir()).empty());
}

TEST_F(Compaction, CopyThatIsNotSmallerLeavesTheFileAlone) {
    const WideString package = CPath("work/compact.msi");
    CreatePackageWithStream(package);
    const auto time = std::filesystem::last_write_time(DriveC("work/compact.msi"));
    const std::string bytes = winsys_test::readFile(DriveC("work/compact.msi"));
    EXPECT_EQ(DefragMsiFile(package.c_str()), QLTMSI_DEFRAG_DONE);
    EXPECT_EQ(winsys_test::readFile(DriveC("work/compact.msi")), bytes);
    EXPECT_EQ(std::filesystem::last_write_time(DriveC("work/compact.msi")), time);
    EXPECT_TRUE(FilesIn(TempDir()).empty());
}

TEST_F(Compaction, FileThatIsNoPackageIsRefusedWithoutTemporaryFiles) {
    winsys_test::writeFile(DriveC("work/plain.msi"), std::string(5000, 'x'));
    EXPECT_EQ(DefragMsiFile(CPath("work/plain.msi").c_str()), QLTMSI_DEFRAG_NOTHING_CHANGED);
    EXPECT_EQ(winsys_test::readFile(DriveC("work/plain.msi")), std::string(5000, 'x'));
    EXPECT_EQ(DefragMsiFile(CPath("work/missing.msi").c_str()), QLTMSI_DEFRAG_NOTHING_CHANGED);
    EXPECT_EQ(DefragMsiFile(nullptr), QLTMSI_DEFRAG_NOTHING_CHANGED);
    EXPECT_TRUE(FilesIn(TempDir()).empty());
}

// Whichever file call fails, 0 means the package is compacted and 1 that it
// is as it was; the content is kept either way.
TEST_F(Compaction, EveryFailedFileCallLeavesThePackageAsItWasAndSaysSo) {
    const WideString package = CPath("work/free.msi");
    const std::string native = DriveC("work/free.msi");
    for (const DWORD kind : {WINSYS_FAULT_OPEN, WINSYS_FAULT_WRITE, WINSYS_FAULT_FLUSH,
                             WINSYS_FAULT_MOVE, WINSYS_FAULT_TEMPNAME}) {
        for (DWORD call = 1;; ++call) {
            CreatePackageWithStream(package);
            const auto content = Dump(package);
            ASSERT_GT(AddFreeSectors(native), 0u);
            const std::string bytes = winsys_test::readFile(native);
            WinsysFaultsReset();
            ASSERT_TRUE(WinsysFaultsArm(kind, call, ERROR_SHARING_VIOLATION, FALSE));
            const DWORD result = DefragMsiFile(package.c_str());
            const DWORD fired = WinsysFaultsFired();
            WinsysFaultsReset();
            const std::string where = "fault " + std::to_string(kind) + " at call " +
                                      std::to_string(call);
            if (result == QLTMSI_DEFRAG_DONE) {
                EXPECT_LT(std::filesystem::file_size(native), bytes.size()) << where;
            } else {
                EXPECT_EQ(result, QLTMSI_DEFRAG_FAILED) << where;
                EXPECT_EQ(winsys_test::readFile(native), bytes) << where;
            }
            EXPECT_EQ(Dump(package), content) << where;
            EXPECT_TRUE(FilesIn(TempDir()).empty()) << where;
            std::filesystem::remove(native);
            if (fired == 0) {
                break;
            }
        }
    }
}

DWORD WINAPI NoTemporaryDirectory(DWORD, LPWSTR) {
    return 0;
}

TEST_F(Compaction, NoTemporaryDirectoryChangesNothing) {
    const WideString package = CPath("work/free.msi");
    CreatePackageWithStream(package);
    AddFreeSectors(DriveC("work/free.msi"));
    const std::string bytes = winsys_test::readFile(DriveC("work/free.msi"));
    platformCalls.tempPath = NoTemporaryDirectory;
    EXPECT_EQ(DefragMsiFile(package.c_str()), QLTMSI_DEFRAG_NOTHING_CHANGED);
    SelectPlatformCalls(0);
    EXPECT_EQ(winsys_test::readFile(DriveC("work/free.msi")), bytes);
}

}  // namespace
}  // namespace backup_test
