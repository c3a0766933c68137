// rundll32 for POSIX hosts and the runner of backup strings: the entry is
// called as the backup string expects, a path stripped by a shell is named,
// and a real backup string restores the package through either.
#include "commit_simulation.h"
#include "process_runner.h"

namespace backup_test {
namespace {

class Rundll32 : public BackupTest {
  protected:
    void SetUp() override {
        BackupTest::SetUp();
        scratch_ = SharedPrefix()->root() + "/proc";
        std::filesystem::create_directories(scratch_);
        std::filesystem::copy_file(PROBE_MODULE, DriveC("windows/probe.dll"),
                                   std::filesystem::copy_options::overwrite_existing);
        probeOutput_ = scratch_ + "/probe.txt";
        setenv("BACKUP_PROBE_OUTPUT", probeOutput_.c_str(), 1);
        std::filesystem::remove(probeOutput_);
    }
    Finished Run(std::vector<std::string> args, const std::string& input = "") {
        return RunProgram(args, scratch_, input);
    }
    std::string ProbeCall() {
        std::string call = winsys_test::readFile(probeOutput_);
        std::filesystem::remove(probeOutput_);
        return call;
    }
    std::string scratch_;
    std::string probeOutput_;
};

TEST_F(Rundll32, ExecStyleArgumentsReachTheEntryAsTheBackupStringExpects) {
    const std::string target = "C:\\windows\\probe.dll,RecordCall";
    EXPECT_EQ(Run({RUNDLL32, target, "b"}).status, 0);
    EXPECT_EQ(ProbeCall(), "window=null instance=null show=10 text=[b]");
    EXPECT_EQ(Run({RUNDLL32, target, "b\n"}).status, 0);
    EXPECT_EQ(ProbeCall(), "window=null instance=null show=10 text=[b]")
        << "the line feed that ends a backup string is not part of the text";
    EXPECT_EQ(Run({RUNDLL32, target, "two", "words "}).status, 0);
    EXPECT_EQ(ProbeCall(), "window=null instance=null show=10 text=[two words ]");
    EXPECT_EQ(Run({RUNDLL32, target}).status, 0);
    EXPECT_EQ(ProbeCall(), "window=null instance=null show=10 text=[]");
}

TEST_F(Rundll32, ProblemsAreNamed) {
    Finished stripped = Run({RUNDLL32, "C:windowsprobe.dll,RecordCall", "b"});
    EXPECT_EQ(stripped.status, 1);
    EXPECT_NE(stripped.err.find("lost its backslashes"), std::string::npos) << stripped.err;
    EXPECT_NE(stripped.err.find("qltmsi run"), std::string::npos) << stripped.err;

    Finished noEntry = Run({RUNDLL32, "C:\\windows\\probe.dll,NoSuchEntry", "b"});
    EXPECT_EQ(noEntry.status, 1);
    EXPECT_NE(noEntry.err.find("no entry point 'NoSuchEntry'"), std::string::npos) << noEntry.err;

    EXPECT_EQ(Run({RUNDLL32, "C:\\windows\\probe.dll"}).status, 2);
    EXPECT_EQ(Run({RUNDLL32, "C:\\windows\\missing.dll,RecordCall"}).status, 1);
    EXPECT_TRUE(ProbeCall().empty());
}

TEST_F(Rundll32, RunnerSplitsTheStringAsWindowsWould) {
    EXPECT_EQ(Run({QLTMSI, "run", "rundll32 C:\\windows\\probe.dll,RecordCall b\n"}).status, 0);
    EXPECT_EQ(ProbeCall(), "window=null instance=null show=10 text=[b]");
    EXPECT_EQ(Run({QLTMSI, "run"}, "rundll32 C:\\windows\\probe.dll,RecordCall 1f\n").status, 0);
    EXPECT_EQ(ProbeCall(), "window=null instance=null show=10 text=[1f]");
    EXPECT_EQ(Run({QLTMSI, "run", "rundll32 \"C:\\windows\\probe.dll,RecordCall\" a\tb"}).status,
              0);
    EXPECT_EQ(ProbeCall(), "window=null instance=null show=10 text=[a b]");

    Finished other = Run({QLTMSI, "run", "sh -c true"});
    EXPECT_EQ(other.status, 2);
    EXPECT_NE(other.err.find("runs rundll32"), std::string::npos);
}

TEST_F(Rundll32, BackupStringRestoresThroughTheRunnerAndThroughExecStyleArguments) {
    InstallProduct(true);
    const auto original = Dump(kInstalledPackage);
    SimulatedCommit first = Commit(1, kOldCabCache, CPath("backup").c_str());
    ASSERT_EQ(first.undoStatus, QLTMSI_SUCCESS);
    const auto afterFirst = Dump(kInstalledPackage);
    SimulatedCommit second = Commit(2, first.newCabCache, CPath("backup").c_str());
    ASSERT_EQ(second.undoStatus, QLTMSI_SUCCESS);

    // The second string straight to rundll32, split as a caller of execv would.
    const std::string text = Narrow(second.backupString);
    const size_t space = text.find(' '), last = text.rfind(' ');
    Finished direct = Run({RUNDLL32, text.substr(space + 1, last - space - 1), text.substr(last + 1)});
    EXPECT_EQ(direct.status, 0) << direct.err;
    EXPECT_EQ(Dump(kInstalledPackage), afterFirst);

    Finished runner = Run({QLTMSI, "run", Narrow(first.backupString)});
    EXPECT_EQ(runner.status, 0) << runner.err;
    EXPECT_EQ(Dump(kInstalledPackage), original);
    EXPECT_FALSE(EntryExists(u"1"));
    EXPECT_FALSE(EntryExists(u"2"));
}

TEST_F(Rundll32, RestoreCommandReportsWhatHappened) {
    InstallProduct(false);
    const auto original = Dump(kInstalledPackage);
    ASSERT_EQ(Commit(1, u"", CPath("backup").c_str()).undoStatus, QLTMSI_SUCCESS);
    SetRegString(EntryKey(u"1"), u"PackageGuid", u"{11111111-2222-3333-4444-555555555555}");
    Finished refused = Run({QLTMSI, "restore", "1"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("stopped"), std::string::npos) << refused.err;

    SetRegString(EntryKey(u"1"), u"PackageGuid", kPackageCode);
    Finished restored = Run({QLTMSI, "restore", "1"});
    EXPECT_EQ(restored.status, 0) << restored.err;
    EXPECT_EQ(Dump(kInstalledPackage), original);
    EXPECT_EQ(Run({QLTMSI, "restore", "1"}).status, 1);
}

}  // namespace
}  // namespace backup_test
