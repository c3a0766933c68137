// The FileName qltmsi patch records: the row's own value kept byte for byte
// without a new name, a new long name given a short name unique in its
// folder, an 8.3 name or a "short|long" pair recorded as given.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "cli/cli_runner.h"
#include "short_names.h"
#include "winsys/kernel/test_prefix.h"

namespace fs = std::filesystem;
using cli_test::Outcome;
using cli_test::run;
using winsys_test::writeFile;

namespace {

constexpr char kProduct[] = "{4D8E2F10-3A5B-4C6D-8E9F-0A1B2C3D4E5F}";
constexpr char kFolder[] = "C:\\Program Files\\Name Sample\\";

class FileNames : public ::testing::Test {
  protected:
    void SetUp() override {
        work_ = fs::path(prefix_.root()) / "work";
        fs::create_directories(work_);
        for (const char* name : {"agent", "old", "tool", "helper", "other"})
            writeFile((work_ / (std::string(name) + ".exe")).string(), std::string(name) + "\n");
        Outcome r = Shell(
            "cd " + cli_test::quoted(work_) + " && wixl -o package.msi " QLTMSI_TEST_DATA "/names.wxs" +
            SetName("agent", "AGENT.EXE|test-agent.exe") +
            SetName("old", "TESTAG~1.EXE|test-agent-old.exe") +
            SetName("other", "TESTAG~2.EXE|test-agent-other.exe"));
        ASSERT_EQ(r.status, 0) << r.err;
        r = Shell(cli_test::qltmsi("install " + cli_test::quoted(work_ / "package.msi")));
        ASSERT_EQ(r.status, 0) << r.err;
    }

    static std::string SetName(const std::string& key, const std::string& name) {
        return " && msibuild package.msi -q \"UPDATE \\`File\\` SET \\`FileName\\`='" + name +
               "' WHERE \\`File\\`='" + key + "'\"";
    }
    Outcome Shell(const std::string& line) { return run(line, prefix_.prefix()); }

    Outcome Replace(const std::vector<std::string>& replacements) {
        std::string args = std::string("patch --product ") + kProduct;
        for (const auto& r : replacements)
            args += " --replace " + cli_test::quoted(r);
        return Shell(cli_test::qltmsi(args));
    }
    std::string NewFile(const std::string& name) {
        const fs::path path = work_ / name;
        writeFile(path.string(), "new " + name + "\n");
        return path.string();
    }

    // FileName by File key, as msitools reads the installed package.
    std::map<std::string, std::string> FileNamesInPackage() {
        Outcome r = Shell(cli_test::qltmsi(std::string("products")));
        std::string package = r.out.substr(r.out.find("C:\\windows\\Installer\\"));
        package = package.substr(0, package.find(".msi") + 4);
        r = Shell(cli_test::qltmsi("db dump " + cli_test::quoted(package) + " File"));
        std::map<std::string, std::string> names;
        std::istringstream lines(r.out);
        std::string line;
        for (int skip = 0; skip < 3 && std::getline(lines, line); ++skip) {
        }
        while (std::getline(lines, line)) {
            const size_t first = line.find('\t'), second = line.find('\t', first + 1);
            const size_t third = line.find('\t', second + 1);
            names[line.substr(0, first)] = line.substr(second + 1, third - second - 1);
        }
        return names;
    }

    winsys_test::TestPrefix prefix_;
    fs::path work_;
};

TEST_F(FileNames, KeptWithoutANewNameAndShortNamesMadeForLongOnes) {
    Outcome r = Replace({std::string(kFolder) + "test-agent.exe=" + NewFile("agent-v2.exe")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(FileNamesInPackage()["agent"], "AGENT.EXE|test-agent.exe");

    // TESTAG~1 is taken in the folder; TESTAG~2 only in another folder. Two
    // new names in one patch get two names.
    r = Replace({std::string(kFolder) + "test-agent-old.exe=" + NewFile("old-v2.exe") +
                     ":Test Agent Older.exe",
                 std::string(kFolder) + "tool.exe=" + NewFile("tool-v2.exe") +
                     ":test agent tool.exe"});
    ASSERT_EQ(r.status, 0) << r.err;
    auto names = FileNamesInPackage();
    EXPECT_EQ(names["old"], "TESTAG~2.EXE|Test Agent Older.exe");
    EXPECT_EQ(names["tool"], "TESTAG~3.EXE|test agent tool.exe");
    EXPECT_EQ(names["other"], "TESTAG~2.EXE|test-agent-other.exe");

    // An 8.3 name and a pair go in as given.
    r = Replace({std::string(kFolder) + "helper.exe=" + NewFile("helper-v2.exe") + ":helper2.exe"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(FileNamesInPackage()["helper"], "helper2.exe");
    r = Replace({std::string(kFolder) + "test-agent.exe=" + NewFile("agent-v3.exe") +
                 ":AGENT3.EXE|the third agent.exe"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(FileNamesInPackage()["agent"], "AGENT3.EXE|the third agent.exe");
}

TEST(ShortName, ValidNamesAndWhatIsMade) {
    using qltmsi::isShortName;
    using qltmsi::makeShortName;
    using qltmsi::toWide;
    for (const char* valid : {"AGENT.EXE", "agent2.exe", "README", "A.B", "NAME~1.TX", "_$!.{}"})
        EXPECT_TRUE(isShortName(toWide(valid))) << valid;
    for (const char* invalid : {"TOOLONGNAME.EXE", "a b.txt", "a.text", "a.b.c", ".exe", "x.",
                                "a+b.txt", "caf\xc3\xa9.txt", "", "semi;.txt"})
        EXPECT_FALSE(isShortName(toWide(invalid))) << invalid;

    auto made = [](const char* name, std::set<qltmsi::WideString> taken = {}) {
        return qltmsi::toUtf8(makeShortName(toWide(name), taken));
    };
    EXPECT_EQ(made("Read Me First.txt"), "README~1.TXT");
    EXPECT_EQ(made("Read Me First.txt", {toWide("README~1.TXT")}), "README~2.TXT");
    std::set<qltmsi::WideString> nine;
    for (int i = 1; i <= 9; ++i)
        nine.insert(toWide("README~" + std::to_string(i) + ".TXT"));
    EXPECT_EQ(made("readme first.txt", nine), "READM~10.TXT");
    EXPECT_EQ(made("no extension here"), "NOEXTE~1");
    EXPECT_EQ(made("a.b.c.html"), "ABC~1.HTM");
    EXPECT_EQ(made("x+y z.tar.gz"), "X_YZTA~1.GZ");
    EXPECT_EQ(made("\xe6\x97\xa5\xe6\x9c\xac.txt"), "__~1.TXT");
    EXPECT_EQ(made(".hidden"), "_~1.HID");
}

}  // namespace
