// Two processes making undo records at the same moment are handed different
// entries, and CurKey counts every record: with the wide calls, and with the
// narrow ones of the Windows 95 family, whose lock has a name of its own.
#include "backup/undo_entry_lock.h"
#include "commit_simulation.h"
#include "process_runner.h"

#include <set>
#include <sstream>

namespace backup_test {
namespace {

using UndoEntries = BackupTest;

// Two processes that take kRecords entries each; QLTMSI_WIN9X in their
// environment makes them run as on the 95 family.
void TakeEntriesInTwoProcesses(bool windows95Family) {
    InstallProduct(false);
    const std::string scratch = SharedPrefix()->root() + "/proc";
    std::filesystem::create_directories(scratch);
    const std::string start = scratch + "/start";
    constexpr int kRecords = 6;
    std::vector<Started> takers;
    if (windows95Family)
        setenv("QLTMSI_WIN9X", "1", 1);
    for (int process = 0; process < 2; ++process) {
        const std::string n = std::to_string(process);
        std::filesystem::copy_file(DriveC("windows/Installer/product.msi"),
                                   DriveC("work/package" + n + ".msi"));
        std::filesystem::copy_file(DriveC("windows/Installer/product.msi"),
                                   DriveC("work/working" + n + ".msi"));
        MSIHANDLE db = 0;
        ASSERT_EQ(MsiOpenDatabaseW(CPath("work/working" + n + ".msi").c_str(), MSIDBOPEN_TRANSACT,
                                   &db),
                  0u);
        Exec(db, u"UPDATE `File` SET `FileSize`=999 WHERE `File`='one.dll'");
        ASSERT_EQ(MsiDatabaseCommit(db), 0u);
        MsiCloseHandle(db);
        takers.push_back(StartProgram(
            {UNDO_ENTRY_TAKER, library_test::WindowsPathOf(QLTMSI_LIBRARY_FILE),
             "C:\\work\\package" + n + ".msi", "C:\\work\\working" + n + ".msi", "C:\\backup",
             start, std::to_string(kRecords)},
            scratch));
    }
    if (windows95Family)
        unsetenv("QLTMSI_WIN9X");
    winsys_test::writeFile(start, "go");
    std::multiset<std::string> entries;
    for (const auto& taker : takers) {
        Finished finished = Wait(taker);
        EXPECT_EQ(finished.status, 0) << finished.err;
        std::istringstream lines(finished.out);
        for (std::string line; std::getline(lines, line);)
            entries.insert(line);
    }
    std::multiset<std::string> expected;
    for (int n = 1; n <= 2 * kRecords; ++n) {
        WCHAR name[16];
        wsprintfW(name, u"%x", n);
        expected.insert(Narrow(name));
    }
    EXPECT_EQ(entries, expected);
    EXPECT_EQ(RegNumber(u"Software\\Brambleway\\Quillet\\MsiRegUndo", u"CurKey"),
              DWORD(2 * kRecords));
}

TEST_F(UndoEntries, ProcessesCommittingAtOnceGetDifferentEntries) {
    TakeEntriesInTwoProcesses(false);
}

TEST_F(UndoEntries, ProcessesOnThe95FamilyGetDifferentEntriesToo) {
    TakeEntriesInTwoProcesses(true);
}

TEST(UndoEntryLockName, SystemsWithoutObjectNamespacesGetABareName) {
    EXPECT_STREQ(Narrow(UndoEntryMutexName(0x1DB10106)).c_str(), "Global\\QuilletMsiRegUndo");
    EXPECT_STREQ(Narrow(UndoEntryMutexName(0x08930005)).c_str(), "Global\\QuilletMsiRegUndo");
    EXPECT_STREQ(Narrow(UndoEntryMutexName(0x05650004)).c_str(), "QuilletMsiRegUndo");
    EXPECT_STREQ(Narrow(UndoEntryMutexName(0xC0000A04)).c_str(), "QuilletMsiRegUndo");
}

}  // namespace
}  // namespace backup_test
