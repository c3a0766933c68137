// The restore of an undo entry: round trips after simulated commits, both
// kinds of cabinet backup, and every stop leaving package and entry as they
// were.
#include "commit_simulation.h"

#include "backup/restore.h"

namespace backup_test {
namespace {

const WideString kBackupDir = CPath("backup");

void Restore(const std::string& commandLine) {
    RestoreFromUndoEntry(commandLine.c_str());
}

std::optional<std::u16string> CabCacheProperty(const WideString& package) {
    MSIHANDLE db = 0, view = 0, record = 0;
    if (MsiOpenDatabaseW(package.c_str(), MSIDBOPEN_READONLY, &db) != 0)
        return std::nullopt;
    std::optional<std::u16string> value;
    MsiDatabaseOpenViewW(db, u"SELECT `Value` FROM `Property` WHERE `Property`='QuilletCabCache'",
                         &view);
    MsiViewExecute(view, 0);
    if (MsiViewFetch(view, &record) == 0) {
        WCHAR text[300];
        DWORD size = 300;
        MsiRecordGetStringW(record, 1, text, &size);
        value = std::u16string(text);
        MsiCloseHandle(record);
    }
    MsiViewClose(view);
    MsiCloseHandle(view);
    MsiCloseHandle(db);
    return value;
}

using Restore_ = BackupTest;

TEST_F(Restore_, CabCachePackageBackupComesBackAtItsOwnPath) {
    InstallProduct(true);
    const auto original = Dump(kInstalledPackage);
    SimulatedCommit commit = Commit(1, kOldCabCache, kBackupDir.c_str());
    ASSERT_EQ(commit.undoStatus, QLTMSI_SUCCESS);
    ASSERT_NE(Dump(kInstalledPackage), original);

    Restore(EntryOf(commit.backupString));
    EXPECT_EQ(Dump(kInstalledPackage), original);
    EXPECT_EQ(StreamOf(kOldCabCache, u"QuilletCab"), kOldCabinet);
    EXPECT_FALSE(std::filesystem::exists(DriveC("windows/Installer/product.c1.msi")));
    EXPECT_FALSE(EntryExists(u"1"));
    EXPECT_EQ(FilesIn(DriveC("backup")).size(), 2u) << "the backup files stay";
    EXPECT_TRUE(FilesIn(TempDir()).empty());

    const std::string restored = InstalledBytes();
    Restore("1");
    EXPECT_EQ(InstalledBytes(), restored) << "a second run changes nothing";
}

TEST_F(Restore_, PackageWithoutCabCacheLosesTheCommitsProperty) {
    InstallProduct(false);
    const auto original = Dump(kInstalledPackage);
    SimulatedCommit commit = Commit(1, u"", kBackupDir.c_str());
    ASSERT_EQ(commit.undoStatus, QLTMSI_SUCCESS);
    Restore("1");
    EXPECT_EQ(Dump(kInstalledPackage), original);
    EXPECT_FALSE(CabCacheProperty(kInstalledPackage));
    EXPECT_EQ(FilesIn(DriveC("windows/Installer")), std::vector<std::string>{"product.msi"});
}

TEST_F(Restore_, BareCabinetBackupIsWrappedInANewCabCache) {
    InstallProduct(true);
    auto original = Dump(kInstalledPackage);
    ASSERT_EQ(Commit(1, kOldCabCache, kBackupDir.c_str()).undoStatus, QLTMSI_SUCCESS);
    winsys_test::writeFile(DriveC("backup/bare.cab"), "MSCF bare cabinet");
    SetRegString(EntryKey(u"1"), u"QuilletCab", CPath("backup/bare.cab"));
    SetRegNumber(EntryKey(u"1"), u"CabBackupIsMsiFile", 0);

    Restore("1");
    EXPECT_FALSE(EntryExists(u"1"));
    const auto property = CabCacheProperty(kInstalledPackage);
    ASSERT_TRUE(property);
    EXPECT_NE(*property, kOldCabCache);
    EXPECT_TRUE(Narrow(*property).starts_with("C:\\windows\\Installer\\product."));
    EXPECT_EQ(StreamOf(*property, u"QuilletCab"), "MSCF bare cabinet");
    auto restored = Dump(kInstalledPackage);
    restored.erase("table Property");
    original.erase("table Property");
    EXPECT_EQ(restored, original);
    EXPECT_FALSE(std::filesystem::exists(DriveC("windows/Installer/product.c1.msi")));
}

// The committed cab cache has the name the restore's own code would give
// first (both come from three digits of a process id): the wrapper must take
// another, and its removal must not touch the cab cache the package names.
TEST_F(Restore_, BareCabinetWrapperIsRemovedWhenTheRestoreStops) {
    InstallProduct(true);
    const std::string committed = CabCacheNameOfThisProcess('a');
    ASSERT_EQ(Commit(1, kOldCabCache, kBackupDir.c_str(), kInstalledPackage, CPath(committed)).undoStatus,
              QLTMSI_SUCCESS);
    const std::string committedBytes = winsys_test::readFile(DriveC(committed));
    winsys_test::writeFile(DriveC("backup/bare.cab"), "MSCF bare cabinet");
    SetRegString(EntryKey(u"1"), u"QuilletCab", CPath("backup/bare.cab"));
    SetRegNumber(EntryKey(u"1"), u"CabBackupIsMsiFile", 0);
    SetRegString(EntryKey(u"1"), u"RevTransform", CPath("backup/missing.mst"));
    const std::string before = InstalledBytes();
    const auto files = FilesIn(DriveC("windows/Installer"));
    Restore("1");
    EXPECT_EQ(InstalledBytes(), before);
    EXPECT_EQ(FilesIn(DriveC("windows/Installer")), files);
    EXPECT_EQ(winsys_test::readFile(DriveC(committed)), committedBytes);
    EXPECT_TRUE(EntryExists(u"1"));
    EXPECT_TRUE(FilesIn(TempDir()).empty());
}

// The package held the library's cabinet as a stream of its own before the
// commit, so it had no cab cache property: the restore makes a cab cache for
// the backup and names it.
// Its committed cab cache has the name the restore's code gives first.
TEST_F(Restore_, PackageThatHeldTheStreamGetsANewCabCache) {
    InstallProduct(false);
    CreateCabCache(CPath("work/moved-out.msi"), kOldCabinet);
    const std::string committed = CabCacheNameOfThisProcess('a');
    ASSERT_EQ(Commit(1, CPath("work/moved-out.msi"), kBackupDir.c_str(), kInstalledPackage,
                     CPath(committed))
                  .undoStatus,
              QLTMSI_SUCCESS);
    Restore("1");
    EXPECT_FALSE(EntryExists(u"1"));
    const auto property = CabCacheProperty(kInstalledPackage);
    ASSERT_TRUE(property);
    EXPECT_EQ(*property, CPath(CabCacheNameOfThisProcess('b')));
    EXPECT_EQ(StreamOf(*property, u"QuilletCab"), kOldCabinet);
    EXPECT_FALSE(std::filesystem::exists(DriveC(committed))) << "the committed one is gone";
}

TEST_F(Restore_, CabStreamInsideTheCommittedPackageIsRemoved) {
    InstallProduct(true);
    const auto original = Dump(kInstalledPackage);
    ASSERT_EQ(Commit(1, kOldCabCache, kBackupDir.c_str()).undoStatus, QLTMSI_SUCCESS);
    {
        MSIHANDLE db = 0;
        ASSERT_EQ(MsiOpenDatabaseW(kInstalledPackage.c_str(), MSIDBOPEN_TRANSACT, &db), 0u);
        winsys_test::writeFile(TempDir() + "/stream", "MSCF inside");
        MSIHANDLE record = MsiCreateRecord(2);
        MsiRecordSetStringW(record, 1, u"QuilletCab");
        MsiRecordSetStreamW(record, 2, Wide("Z:" + TempDir() + "/stream").c_str());
        Exec(db, u"INSERT INTO `_Streams` (`Name`, `Data`) VALUES (?, ?)", record);
        MsiCloseHandle(record);
        ASSERT_EQ(MsiDatabaseCommit(db), 0u);
        MsiCloseHandle(db);
        std::filesystem::remove(TempDir() + "/stream");
    }
    ASSERT_TRUE(StreamOf(kInstalledPackage, u"QuilletCab"));
    Restore("1");
    EXPECT_EQ(Dump(kInstalledPackage), original);
}

UINT WINAPI (*realTempFileName)(LPCWSTR, LPCWSTR, UINT, LPWSTR) = nullptr;
int tempNamesLeft = 0;
UINT WINAPI CountedTempFileName(LPCWSTR directory, LPCWSTR prefix, UINT unique, LPWSTR buffer) {
    if (tempNamesLeft-- <= 0)
        return 0;
    return realTempFileName(directory, prefix, unique, buffer);
}

TEST_F(Restore_, FailingCompactionLeavesPackageAndEntryUntouched) {
    InstallProduct(true);
    ASSERT_EQ(Commit(1, kOldCabCache, kBackupDir.c_str()).undoStatus, QLTMSI_SUCCESS);
    const std::string before = InstalledBytes();
    realTempFileName = platformCalls.tempFileName;
    platformCalls.tempFileName = CountedTempFileName;
    tempNamesLeft = 1;  // the restore copy gets its name, the compaction none
    Restore("1");
    platformCalls.tempFileName = realTempFileName;
    EXPECT_EQ(InstalledBytes(), before);
    EXPECT_TRUE(EntryExists(u"1"));
    EXPECT_TRUE(std::filesystem::exists(DriveC("windows/Installer/product.c1.msi")));
    EXPECT_TRUE(FilesIn(TempDir()).empty());
}

// Its copy in the temporary folder is read-only too, and must still go.
TEST_F(Restore_, ReadOnlyPackageStopsWithoutLeavingItsCopy) {
    InstallProduct(true);
    ASSERT_EQ(Commit(1, kOldCabCache, kBackupDir.c_str()).undoStatus, QLTMSI_SUCCESS);
    const std::string before = InstalledBytes();
    const auto writable = std::filesystem::status(DriveC("windows/Installer/product.msi")).permissions();
    std::filesystem::permissions(DriveC("windows/Installer/product.msi"),
                                 std::filesystem::perms::owner_read | std::filesystem::perms::group_read);
    Restore("1");
    std::filesystem::permissions(DriveC("windows/Installer/product.msi"), writable);
    EXPECT_EQ(InstalledBytes(), before);
    EXPECT_TRUE(EntryExists(u"1"));
    EXPECT_TRUE(FilesIn(TempDir()).empty());
}

// A restore killed after it put the package in place, before it removed the
// entry (the entry's deletion fails here as a kill would skip it), or before
// it replaced the package. Running it again finishes the job either way.
LONG WINAPI (*realRegDeleteKey)(HKEY, LPCWSTR) = nullptr;
LONG WINAPI KeepKey(HKEY, LPCWSTR) {
    return ERROR_ACCESS_DENIED;
}
BOOL WINAPI (*realCopyFile)(LPCWSTR, LPCWSTR, BOOL) = nullptr;
BOOL WINAPI CopyNotOverInstalled(LPCWSTR from, LPCWSTR to, BOOL failIfExists) {
    if (WideString(to) == kInstalledPackage) {
        return FALSE;
    }
    return realCopyFile(from, to, failIfExists);
}
// The package is replaced by a move of a copy beside it.
BOOL WINAPI (*realMoveFileEx)(LPCWSTR, LPCWSTR, DWORD) = nullptr;
BOOL WINAPI MoveNotOverInstalled(LPCWSTR from, LPCWSTR to, DWORD flags) {
    if (WideString(to) == kInstalledPackage) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return realMoveFileEx(from, to, flags);
}

TEST_F(Restore_, RunAgainAfterBeingCutShortItFinishesTheJob) {
    InstallProduct(true);
    const auto original = Dump(kInstalledPackage);
    ASSERT_EQ(Commit(1, kOldCabCache, kBackupDir.c_str()).undoStatus, QLTMSI_SUCCESS);
    const std::string committedCabCache = DriveC("windows/Installer/product.c1.msi");
    const std::string committedBytes = winsys_test::readFile(committedCabCache);

    // Cut short before the package was replaced: nothing is taken as done.
    realCopyFile = platformCalls.copyFile;
    realMoveFileEx = platformCalls.moveFileEx;
    platformCalls.copyFile = CopyNotOverInstalled;
    platformCalls.moveFileEx = MoveNotOverInstalled;
    Restore("1");
    platformCalls.copyFile = realCopyFile;
    platformCalls.moveFileEx = realMoveFileEx;
    ASSERT_TRUE(EntryExists(u"1"));
    ASSERT_NE(Dump(kInstalledPackage), original);
    EXPECT_TRUE(std::filesystem::exists(committedCabCache));

    // Cut short after: the package is restored, the entry stays.
    realRegDeleteKey = platformCalls.regDeleteKey;
    platformCalls.regDeleteKey = KeepKey;
    Restore("1");
    platformCalls.regDeleteKey = realRegDeleteKey;
    ASSERT_TRUE(EntryExists(u"1"));
    ASSERT_EQ(Dump(kInstalledPackage), original);
    const std::string restored = InstalledBytes();
    // ... and as if cut short before the committed cab cache went, too.
    winsys_test::writeFile(committedCabCache, committedBytes);

    Restore("1");
    EXPECT_FALSE(EntryExists(u"1"));
    EXPECT_EQ(InstalledBytes(), restored);
    EXPECT_FALSE(std::filesystem::exists(committedCabCache));
    EXPECT_EQ(StreamOf(kOldCabCache, u"QuilletCab"), kOldCabinet);
    EXPECT_TRUE(FilesIn(TempDir()).empty());
}

TEST_F(Restore_, CommandLineMustBeTheEntryNameExactly) {
    InstallProduct(false);
    const auto original = Dump(kInstalledPackage);
    SetRegNumber(u"Software\\Brambleway\\Quillet\\MsiRegUndo", u"CurKey", 10);
    ASSERT_EQ(Commit(1, u"", kBackupDir.c_str()).undoStatus, QLTMSI_SUCCESS);
    const std::string committed = InstalledBytes();
    for (const char* wrong : {"b ", "b\n", "", "\\b", "0b"}) {
        Restore(wrong);
        EXPECT_TRUE(EntryExists(u"b")) << "[" << wrong << "]";
        EXPECT_EQ(InstalledBytes(), committed);
    }
    RestoreFromUndoEntry(nullptr);
    Restore(std::string(300, 'b'));
    Restore("b");
    EXPECT_FALSE(EntryExists(u"b"));
    EXPECT_EQ(Dump(kInstalledPackage), original);
}

TEST_F(Restore_, PackageCodeThatNoLongerMatchesStopsBeforeAnythingChanges) {
    InstallProduct(true);
    ASSERT_EQ(Commit(1, kOldCabCache, kBackupDir.c_str()).undoStatus, QLTMSI_SUCCESS);
    SetRegString(EntryKey(u"1"), u"PackageGuid", u"{11111111-2222-3333-4444-555555555555}");
    const std::string before = InstalledBytes();
    const auto files = FilesIn(DriveC("windows/Installer"));
    Restore("1");
    EXPECT_EQ(InstalledBytes(), before);
    EXPECT_EQ(FilesIn(DriveC("windows/Installer")), files);
    EXPECT_TRUE(EntryExists(u"1"));
    EXPECT_TRUE(FilesIn(TempDir()).empty());

    HKEY key = nullptr;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, EntryKey(u"1").c_str(), 0, KEY_ALL_ACCESS, &key);
    RegDeleteValueW(key, u"PackageGuid");
    RegCloseKey(key);
    Restore("1");
    EXPECT_EQ(InstalledBytes(), before) << "an entry without a package code is refused too";
}

TEST_F(Restore_, PackageCodeMatchesInAnyLetterCase) {
    InstallProduct(true);
    const auto original = Dump(kInstalledPackage);
    ASSERT_EQ(Commit(1, kOldCabCache, kBackupDir.c_str()).undoStatus, QLTMSI_SUCCESS);
    std::u16string lower = kPackageCode;
    for (auto& c : lower)
        c = c >= u'A' && c <= u'Z' ? c - u'A' + u'a' : c;
    SetRegString(EntryKey(u"1"), u"PackageGuid", lower);
    Restore("1");
    EXPECT_EQ(Dump(kInstalledPackage), original);
}

TEST_F(Restore_, TwoCommitsRestoredInReverseOrderGiveTheOriginal) {
    InstallProduct(true);
    const auto original = Dump(kInstalledPackage);
    SimulatedCommit first = Commit(1, kOldCabCache, kBackupDir.c_str());
    const auto afterFirst = Dump(kInstalledPackage);
    SimulatedCommit second = Commit(2, first.newCabCache, kBackupDir.c_str());
    ASSERT_EQ(EntryOf(second.backupString), "2");
    Restore("2");
    EXPECT_EQ(Dump(kInstalledPackage), afterFirst);
    EXPECT_EQ(StreamOf(first.newCabCache, u"QuilletCab"), "MSCF cabinet of commit 1");
    Restore("1");
    EXPECT_EQ(Dump(kInstalledPackage), original);
    EXPECT_EQ(FilesIn(DriveC("windows/Installer")),
              (std::vector<std::string>{"product.msi", "product.old.msi"}));
}

TEST_F(Restore_, ProductNoLongerInstalledStops) {
    InstallProduct(false);
    ASSERT_EQ(Commit(1, u"", kBackupDir.c_str()).undoStatus, QLTMSI_SUCCESS);
    winsys::installer::unregisterProduct(kProduct);
    const std::string before = InstalledBytes();
    Restore("1");
    EXPECT_EQ(InstalledBytes(), before);
    EXPECT_TRUE(EntryExists(u"1"));
}

}  // namespace
}  // namespace backup_test
