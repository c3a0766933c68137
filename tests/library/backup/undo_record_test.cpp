// The undo record: the entry's values and number, the files in the backup
// directory, the backup server and its registration, and the refusals.
#include "commit_simulation.h"

#include <regex>

namespace backup_test {
namespace {

const std::u16string kUndoKeyPath = u"Software\\Brambleway\\Quillet\\MsiRegUndo";
const std::u16string kServerKeyPath = u"Software\\Brambleway\\Quillet";
const WideString kBackupDir = CPath("backup");

std::string LibraryBytes() {
    return winsys_test::readFile(QLTMSI_LIBRARY_FILE);
}

std::string NativeOf(const std::u16string& windowsPath) {
    const std::string text = Narrow(windowsPath);
    EXPECT_EQ(text.rfind("C:\\", 0), 0u) << text;
    std::string relative = text.substr(3);
    std::replace(relative.begin(), relative.end(), '\\', '/');
    return DriveC(relative);
}

using UndoRecord = BackupTest;

TEST_F(UndoRecord, FirstRecordWritesEntryOneAndPlacesACopyOfTheLibrary) {
    InstallProduct(true);
    SimulatedCommit commit = Commit(1, kOldCabCache, kBackupDir.c_str());
    ASSERT_EQ(commit.undoStatus, QLTMSI_SUCCESS);

    EXPECT_EQ(RegNumber(kUndoKeyPath, u"CurKey"), 1u);
    const std::u16string entry = EntryKey(u"1");
    EXPECT_EQ(RegString(entry, u"ProductGuid"), std::u16string(kProduct));
    EXPECT_EQ(RegString(entry, u"PackageGuid"), std::u16string(kPackageCode));
    const auto cabCopy = RegString(entry, u"QuilletCab");
    ASSERT_TRUE(cabCopy);
    EXPECT_TRUE(std::regex_match(Narrow(*cabCopy),
                                 std::regex(R"(C:\\backup\\product\.old\.[a-y][0-9_]{3}\.msi)")))
        << Narrow(*cabCopy);
    EXPECT_EQ(RegNumber(entry, u"CabBackupIsMsiFile"), 1u);
    const auto transform = RegString(entry, u"RevTransform");
    ASSERT_TRUE(transform);
    EXPECT_TRUE(std::regex_match(Narrow(*transform), std::regex(R"(C:\\backup\\qlt.*)")))
        << Narrow(*transform);
    EXPECT_TRUE(std::filesystem::exists(NativeOf(*transform)));
    EXPECT_EQ(StreamOf(*cabCopy, u"QuilletCab"), kOldCabinet);
    EXPECT_TRUE(FilesIn(TempDir()).empty()) << "the transform left the temporary directory";

    const auto server = RegString(kServerKeyPath, u"MsiBackupServer");
    ASSERT_TRUE(server);
    EXPECT_TRUE(std::regex_match(Narrow(*server),
                                 std::regex(R"(C:\\windows\\qltmsi32\.[a-y][0-9_]{3}\.dll)")))
        << Narrow(*server);
    EXPECT_EQ(winsys_test::readFile(NativeOf(*server)), LibraryBytes());
    EXPECT_TRUE(std::filesystem::exists(QLTMSI_LIBRARY_FILE)) << "the library was copied, not moved";
    EXPECT_EQ(commit.backupString, u"rundll32 " + *server + u",QltMsiBackupSvr 1\n");
}

TEST_F(UndoRecord, WithoutCabCacheNeitherCabValueIsWritten) {
    InstallProduct(false);
    ASSERT_EQ(Commit(1, u"", kBackupDir.c_str()).undoStatus, QLTMSI_SUCCESS);
    EXPECT_FALSE(RegString(EntryKey(u"1"), u"QuilletCab"));
    EXPECT_FALSE(RegNumber(EntryKey(u"1"), u"CabBackupIsMsiFile"));
    EXPECT_TRUE(RegString(EntryKey(u"1"), u"RevTransform"));
}

TEST_F(UndoRecord, EntriesAreNamedInLowerCaseHexadecimal) {
    InstallProduct(false);
    SetRegNumber(kUndoKeyPath, u"CurKey", 10);
    SimulatedCommit eleventh = Commit(1, u"", kBackupDir.c_str());
    EXPECT_TRUE(EntryExists(u"b"));
    EXPECT_TRUE(eleventh.backupString.ends_with(u",QltMsiBackupSvr b\n"));

    SetRegNumber(kUndoKeyPath, u"CurKey", 15);
    SimulatedCommit sixteenth = Commit(2, u"", kBackupDir.c_str());
    EXPECT_TRUE(EntryExists(u"10"));
    EXPECT_TRUE(sixteenth.backupString.ends_with(u",QltMsiBackupSvr 10\n"));
    EXPECT_EQ(RegNumber(kUndoKeyPath, u"CurKey"), 16u);
}

TEST_F(UndoRecord, RegisteredServerOfHigherOrEqualVersionIsLeftAlone) {
    InstallProduct(false);
    int index = 0;
    for (const char* source : {VERSION_7_MODULE, QLTMSI_LIBRARY_FILE}) {
        std::filesystem::copy_file(source, DriveC("windows/server.dll"),
                                   std::filesystem::copy_options::overwrite_existing);
        const std::string before = winsys_test::readFile(DriveC("windows/server.dll"));
        SetRegString(kServerKeyPath, u"MsiBackupServer", CPath("windows/server.dll"));
        SimulatedCommit commit = Commit(++index, u"", kBackupDir.c_str());
        EXPECT_EQ(commit.backupString.substr(0, 36), u"rundll32 C:\\windows\\server.dll,QltMs");
        EXPECT_EQ(winsys_test::readFile(DriveC("windows/server.dll")), before);
        EXPECT_EQ(RegString(kServerKeyPath, u"MsiBackupServer"), CPath("windows/server.dll"));
        for (const auto& name : FilesIn(DriveC("windows")))
            EXPECT_EQ(name.rfind("qltmsi32", 0), std::string::npos) << name;
    }
}

TEST_F(UndoRecord, OlderOrMissingServerIsReplacedInPlaceByACopy) {
    InstallProduct(false);
    std::filesystem::copy_file(VERSION_6_10_MODULE, DriveC("windows/server.dll"));
    SetRegString(kServerKeyPath, u"MsiBackupServer", CPath("windows/server.dll"));
    SimulatedCommit older = Commit(1, u"", kBackupDir.c_str());
    EXPECT_TRUE(older.backupString.starts_with(u"rundll32 C:\\windows\\server.dll,"));
    EXPECT_EQ(winsys_test::readFile(DriveC("windows/server.dll")), LibraryBytes());
    EXPECT_TRUE(std::filesystem::exists(QLTMSI_LIBRARY_FILE));

    std::filesystem::remove(DriveC("windows/server.dll"));
    SimulatedCommit missing = Commit(2, u"", kBackupDir.c_str());
    EXPECT_TRUE(missing.backupString.starts_with(u"rundll32 C:\\windows\\server.dll,"));
    EXPECT_EQ(winsys_test::readFile(DriveC("windows/server.dll")), LibraryBytes());
}

TEST_F(UndoRecord, ServerKeyWithoutPathGetsANewCopy) {
    InstallProduct(false);
    SetRegNumber(kServerKeyPath, u"Other", 1);
    SimulatedCommit commit = Commit(1, u"", kBackupDir.c_str());
    const auto server = RegString(kServerKeyPath, u"MsiBackupServer");
    ASSERT_TRUE(server);
    EXPECT_TRUE(Narrow(*server).starts_with("C:\\windows\\qltmsi32."));
    EXPECT_TRUE(std::filesystem::exists(NativeOf(*server)));
}

TEST_F(UndoRecord, NullDirectoryMakesNoRecord) {
    InstallProduct(true);
    SimulatedCommit commit = Commit(1, kOldCabCache, nullptr);
    EXPECT_EQ(commit.undoStatus, QLTMSI_ERROR_UNDO_RECORD);
    EXPECT_TRUE(commit.backupString.empty());
    EXPECT_FALSE(RegNumber(kUndoKeyPath, u"CurKey"));
    EXPECT_FALSE(EntryExists(u"1"));
    EXPECT_TRUE(FilesIn(DriveC("backup")).empty());
}

TEST_F(UndoRecord, BackupDirectoryThatIsMissingOrTooLongIsRefused) {
    InstallProduct(true);
    const WideString missing = CPath("no/such/folder");
    const WideString tooLong = CPath("backup/" + std::string(245, 'd'));
    int index = 0;
    for (const WideString& directory : {missing, tooLong}) {
        SimulatedCommit commit = Commit(++index, kOldCabCache, directory.c_str());
        EXPECT_EQ(commit.undoStatus, QLTMSI_ERROR_UNDO_RECORD);
        EXPECT_FALSE(RegNumber(kUndoKeyPath, u"CurKey"));
        EXPECT_FALSE(EntryExists(u"1"));
        EXPECT_TRUE(FilesIn(TempDir()).empty()) << "the transform is discarded with the context";
        CreateCabCache(kOldCabCache, kOldCabinet);
    }
}

TEST_F(UndoRecord, UnreadablePackageFailsWithMessageSix) {
    InstallProduct(false);
    winsys_test::writeFile(DriveC("work/plain.msi"), "not a package");
    SimulatedCommit commit = Commit(1, u"", kBackupDir.c_str(), CPath("work/plain.msi"));
    EXPECT_EQ(commit.undoStatus, QLTMSI_ERROR_UNDO_RECORD);
    EXPECT_EQ(commit.lastMessageId, 6);
    EXPECT_FALSE(EntryExists(u"1"));
}

// What a failed record left in the next entry is not taken for this one's.
TEST_F(UndoRecord, EntryLeftByAFailedRecordStartsAfresh) {
    InstallProduct(false);
    SetRegString(EntryKey(u"1"), u"QuilletCab", u"C:\\stale\\cab.msi");
    SetRegNumber(EntryKey(u"1"), u"CabBackupIsMsiFile", 0);
    SetRegString(EntryKey(u"1"), u"PackageGuid", u"{00000000-0000-0000-0000-000000000000}");
    ASSERT_EQ(Commit(1, u"", kBackupDir.c_str()).undoStatus, QLTMSI_SUCCESS);
    EXPECT_FALSE(RegString(EntryKey(u"1"), u"QuilletCab"));
    EXPECT_FALSE(RegNumber(EntryKey(u"1"), u"CabBackupIsMsiFile"));
    EXPECT_EQ(RegString(EntryKey(u"1"), u"PackageGuid"), std::u16string(kPackageCode));
}

UINT WINAPI NoWindowsDirectory(LPWSTR, UINT) {
    return 0;
}

// No backup string can name the entry, so nothing is left of it.
TEST_F(UndoRecord, FailedServerPlacementLeavesNoEntryAndDoesNotAdvanceCurKey) {
    InstallProduct(false);
    platformCalls.windowsDirectory = NoWindowsDirectory;
    SimulatedCommit commit = Commit(1, u"", kBackupDir.c_str());
    EXPECT_EQ(commit.undoStatus, QLTMSI_ERROR_UNDO_RECORD);
    EXPECT_TRUE(commit.backupString.empty());
    EXPECT_FALSE(EntryExists(u"1"));
    EXPECT_FALSE(RegNumber(kUndoKeyPath, u"CurKey"));
}

TEST_F(UndoRecord, FileVersionNumberCountsMajorAndMinorOnly) {
    std::filesystem::copy_file(VERSION_7_MODULE, DriveC("work/v7.dll"));
    std::filesystem::copy_file(VERSION_6_10_MODULE, DriveC("work/v610.dll"));
    winsys_test::writeFile(DriveC("work/plain.dll"), "no version here");
    EXPECT_EQ(FileVersionNumber(CPath("work/v7.dll").c_str()), 700);
    EXPECT_EQ(FileVersionNumber(CPath("work/v610.dll").c_str()), 610);
    EXPECT_EQ(FileVersionNumber(Wide(library_test::WindowsPathOf(QLTMSI_LIBRARY_FILE)).c_str()),
              650);
    EXPECT_EQ(FileVersionNumber(CPath("work/plain.dll").c_str()), 0);
    EXPECT_EQ(FileVersionNumber(CPath("work/missing.dll").c_str()), 0);
}

}  // namespace
}  // namespace backup_test
