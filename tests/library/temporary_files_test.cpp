// The temporary-file ledgers: what an ended process's ledger lists goes, and
// only that; what a ledger some process still holds lists stays, this
// process's own included, even when an ended ledger lists the same name.
#include "library_test_support.h"

#include "platform/temporary_files.h"

#include <winsys_faults.h>

#include <filesystem>

namespace library_test {
namespace {

namespace fs = std::filesystem;

class TemporaryFiles : public LibraryTest {
  protected:
    void SetUp() override {
        LibraryTest::SetUp();
        WCHAR buffer[MAX_PATH + 1] = {};
        GetTempPathW(MAX_PATH + 1, buffer);
        windowsFolder_ = buffer;
        folder_ = fs::path(prefix_.root()) / "tmp";
    }
    std::string Native(const std::string& name) const { return (folder_ / name).string(); }
    WideString Windows(const std::string& name) const { return windowsFolder_ + Wide(name); }
    void Make(const std::string& name) { winsys_test::writeFile(Native(name), "left"); }
    // A ledger as a process writes it: the header, then the lines given.
    void WriteLedger(const std::string& name, const std::vector<WideString>& lines,
                     const WideString& tail = {}) {
        WideString text = u"qltmsi temporary files\r\n";
        for (const WideString& line : lines)
            text += line + u"\r\n";
        text += tail;
        winsys_test::writeFile(Native(name),
                               std::string(reinterpret_cast<const char*>(text.data()),
                                           text.size() * sizeof(WCHAR)));
    }
    std::set<std::string> Names() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder_))
            names.insert(entry.path().filename().string());
        return names;
    }

    WideString windowsFolder_;
    fs::path folder_;
};

TEST_F(TemporaryFiles, AnEndedProcesssLedgerTakesWhatItListsAndOnlyThat) {
    for (const char* name : {"qlt1A.tmp", "QLC2.tmp", "qlt3.tmp", "qlt4.tmp", "qlt5.tmp",
                             "notes.txt", "qlt12345.tmp"})
        Make(name);
    fs::create_directories(folder_ / "qlt6.tmp");
    winsys_test::writeFile(Native("qlt6.tmp/extracted.dll"), "x");
    fs::create_directories(fs::path(prefix_.driveC()) / "Installer");
    winsys_test::writeFile(prefix_.driveC() + "/Installer/qlt7.tmp", "copy beside a package");
    WriteLedger("qll1.tmp",
                {u"+" + Windows("qlt1A.tmp"), u"+" + Windows("QLC2.tmp"),
                 u"+" + Windows("qlt3.tmp"), u"-" + Windows("qlt3.tmp"),
                 u"+" + Windows("qlt6.tmp"), u"+C:\\Installer\\qlt7.tmp",
                 u"+" + Windows("notes.txt"), u"+" + Windows("qlt12345.tmp"),
                 u"+" + Windows("qlt9.tmp"), u"+" + Windows("qlt8.tmp")},
                // Cut short by the crash: counts for nothing.
                u"+" + Windows("qlt5.tmp"));
    // No header: not a ledger. Held open without sharing: a living process's.
    winsys_test::writeFile(Native("qll2.tmp"), "+" + Native("qlt4.tmp") + "\r\n");
    // qlt8 was deleted by the ended process, which died before unlisting
    // it, and made again by a living one.
    Make("qlt8.tmp");
    WriteLedger("qll3.tmp", {u"+" + Windows("qlt4.tmp"), u"+" + Windows("qlt8.tmp")});
    const HANDLE held =
        CreateFileW(Windows("qll3.tmp").c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    // A header cut short: its maker died before listing anything.
    winsys_test::writeFile(Native("qll4.tmp"), std::string("q\0l\0t\0", 6));
    ASSERT_NE(held, INVALID_HANDLE_VALUE);

    RemoveFilesOfEndedProcesses();
    EXPECT_EQ(Names(), (std::set<std::string>{"qlt3.tmp", "qlt4.tmp", "qlt5.tmp", "qlt8.tmp",
                                              "notes.txt", "qlt12345.tmp", "qll2.tmp",
                                              "qll3.tmp"}));
    EXPECT_FALSE(Exists("Installer/qlt7.tmp"));

    CloseHandle(held);
    RemoveFilesOfEndedProcesses();
    EXPECT_FALSE(fs::exists(Native("qlt4.tmp"))) << "its owner ended";
    EXPECT_FALSE(fs::exists(Native("qlt8.tmp")));
    EXPECT_FALSE(fs::exists(Native("qll3.tmp")));
}

TEST_F(TemporaryFiles, ThisProcesssFilesStayUntilItDeletesThemAndThenTheLedgerGoes) {
    WCHAR first[MAX_PATH + 1] = {}, second[MAX_PATH + 1] = {};
    ASSERT_NE(MakeTemporaryFileInTempFolder(u"qlt", first), 0u);
    ASSERT_NE(MakeTemporaryFileInTempFolder(u"qlc", second), 0u);
    RemoveFilesOfEndedProcesses();
    EXPECT_EQ(Names().size(), 3u) << "two files and the ledger";

    const WideString moved = Windows("moved.bin");
    ASSERT_TRUE(MoveTemporaryFile(first, moved.c_str(), 0));
    EXPECT_TRUE(DeleteTemporaryFile(second));
    EXPECT_EQ(Names(), (std::set<std::string>{"moved.bin"})) << "the empty ledger went";
    RemoveFilesOfEndedProcesses();
    EXPECT_EQ(Names(), (std::set<std::string>{"moved.bin"})) << "a moved file is no longer listed";
}

// A ledger whose write failed is given up; if it could be closed and then
// not deleted, a clean-up would take it for an ended process's and delete
// the files this living process still has. It stays held until the process
// lists nothing.
TEST_F(TemporaryFiles, ALedgerGivenUpAfterAFailedWriteKeepsItsFilesWhileTheirOwnerLives) {
    WCHAR first[MAX_PATH + 1] = {}, second[MAX_PATH + 1] = {}, third[MAX_PATH + 1] = {};
    ASSERT_NE(MakeTemporaryFileInTempFolder(u"qlt", first), 0u);
    WinsysFaultsArm(WINSYS_FAULT_WRITE, 1, ERROR_DISK_FULL, FALSE);
    WinsysFaultsArm(WINSYS_FAULT_DELETE, 1, ERROR_ACCESS_DENIED, TRUE);
    EXPECT_EQ(MakeTemporaryFileInTempFolder(u"qlt", second), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
    WinsysFaultsReset();
    EXPECT_EQ(Names().size(), 2u) << "the first file and its ledger, and nothing of the second";

    RemoveFilesOfEndedProcesses();
    const std::string firstName = Narrow(first).substr(Narrow(first).rfind('\\') + 1);
    EXPECT_TRUE(fs::exists(Native(firstName))) << "taken from a living process";
    // The next name starts a new ledger, which lists the first file again.
    ASSERT_NE(MakeTemporaryFileInTempFolder(u"qlc", third), 0u);
    EXPECT_EQ(Names().size(), 4u);
    EXPECT_TRUE(DeleteTemporaryFile(first));
    EXPECT_TRUE(DeleteTemporaryFile(third));
    EXPECT_EQ(Names(), std::set<std::string>{}) << "both ledgers went with the last name";
}

}  // namespace
}  // namespace library_test
