// qltmsi db dump and db export on a package in code page 1252: the dump
// shows its text in UTF-8; the export writes what msitools' own export
// writes, in the package's code page, and leaves nothing half-written.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <string>

#include "cli/cli_runner.h"
#include "winsys/kernel/test_prefix.h"

namespace fs = std::filesystem;
using cli_test::Outcome;
using cli_test::qltmsi;
using cli_test::quoted;
using cli_test::run;
using winsys_test::readFile;
using winsys_test::writeFile;

namespace {

class DbCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        work_ = fs::path(prefix_.root()) / "work";
        fs::create_directories(work_);
        writeFile((work_ / "core.txt").string(), "core\n");
        writeFile((work_ / "blob.bin").string(), std::string("BLOB\0\xff data", 10));
        writeFile((work_ / "_ForceCodepage.idt").string(), "\r\n\r\n1252\t_ForceCodepage\r\n");
        package_ = work_ / "package.msi";
        Outcome r = Shell("cd " + quoted(work_) + " && wixl -o package.msi " QLTMSI_TEST_DATA
                          "/codepage.wxs && msibuild package.msi -i _ForceCodepage.idt &&"
                          " msibuild package.msi -q \"UPDATE \\`Property\\` SET \\`Value\\`="
                          "'caf\xc3\xa9 \xe2\x82\xac" "5' WHERE \\`Property\\`='GREETING'\"");
        ASSERT_EQ(r.status, 0) << r.err;
    }

    Outcome Shell(const std::string& line) { return run(line, prefix_.prefix()); }
    Outcome Qltmsi(const std::string& args) { return Shell(qltmsi(args)); }

    std::set<std::string> Tables() {
        std::set<std::string> names;
        std::istringstream lines(Shell("msiinfo tables " + quoted(package_)).out);
        for (std::string line; std::getline(lines, line);)
            names.insert(line);
        return names;
    }

    static std::set<std::string> FilesIn(const fs::path& dir) {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir))
            names.insert(entry.path().filename().string());
        return names;
    }

    winsys_test::TestPrefix prefix_;
    fs::path work_, package_;
};

TEST_F(DbCommand, DumpShowsTheTerminalsEncoding) {
    Outcome r = Qltmsi("db dump " + quoted(package_) + " Property");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("GREETING\tcaf\xc3\xa9 \xe2\x82\xac" "5\r\n"), std::string::npos) << r.out;
    r = Qltmsi("db dump " + quoted(package_));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("PropertyId\tValue\r\n", 0), 0u) << "the summary comes first";
    EXPECT_NE(r.out.find("\r\n\r\n1252\t_ForceCodepage\r\n"), std::string::npos);
    EXPECT_NE(r.out.find("GREETING\tcaf\xc3\xa9"), std::string::npos);

    r = Qltmsi("db dump " + quoted(package_) + " NoSuchTable");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot export NoSuchTable"), std::string::npos) << r.err;
    EXPECT_EQ(Qltmsi("db dump").status, 2);
    EXPECT_EQ(Qltmsi("db export " + quoted(package_)).status, 2);
}

// Every table as msiinfo exports it, in 1252 where msiinfo writes UTF-8;
// _ForceCodepage without the NUL msiinfo appends; streams beside their table.
TEST_F(DbCommand, ExportWritesWhatThePeerExports) {
    fs::path out = work_ / "tables";
    Outcome r = Qltmsi("db export " + quoted(package_) + " " + quoted(out));
    ASSERT_EQ(r.status, 0) << r.err;
    std::set<std::string> expected;
    for (const auto& table : Tables())
        expected.insert(table + ".idt");
    expected.insert("Binary");
    EXPECT_EQ(FilesIn(out), expected);
    EXPECT_EQ(readFile((out / "_ForceCodepage.idt").string()),
              "\r\n\r\n1252\t_ForceCodepage\r\n");
    EXPECT_NE(readFile((out / "Property.idt").string()).find("GREETING\tcaf\xe9 \x80" "5\r\n"),
              std::string::npos);
    for (const auto& table : Tables()) {
        if (table == "_ForceCodepage")
            continue;
        fs::path peer = work_ / "peer";
        fs::create_directories(peer);
        Outcome ours = Shell("iconv -f CP1252 -t UTF-8 " + quoted(out / (table + ".idt")));
        Outcome theirs =
            Shell("cd " + quoted(peer) + " && msiinfo export " + quoted(package_) + " " + table);
        ASSERT_EQ(theirs.status, 0) << table << theirs.err;
        EXPECT_EQ(ours.out, theirs.out) << table;
        fs::remove_all(peer);
    }
    EXPECT_EQ(readFile((out / "Binary" / "Binary.blob").string()),
              readFile((work_ / "blob.bin").string()));

    // The files import back into a package msitools reads as the original
    // (msibuild reads idt text as UTF-8 only, so the tables in 1252 stay out).
    fs::path copy = work_ / "copy.msi";
    r = Shell("cd " + quoted(out) + " && msibuild " + quoted(copy) +
              " -i _ForceCodepage.idt Binary.idt File.idt");
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* table : {"Binary", "File"})
        EXPECT_EQ(Shell("cd " + quoted(work_) + " && msiinfo export " + quoted(copy) + " " + table).out,
                  Shell("cd " + quoted(work_) + " && msiinfo export " + quoted(package_) + " " + table).out)
            << table;
}

TEST_F(DbCommand, ExportOfNamedTablesLeavesNothingElse) {
    fs::path out = work_ / "some";
    Outcome r = Qltmsi("db export " + quoted(package_) + " " + quoted(out) + " File Property");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(FilesIn(out), (std::set<std::string>{"File.idt", "Property.idt"}));

    // A table the package lacks: the tables before it are written, nothing
    // half-made stays.
    fs::path failed = work_ / "failed";
    r = Qltmsi("db export " + quoted(package_) + " " + quoted(failed) + " Media Missing");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot export Missing"), std::string::npos) << r.err;
    EXPECT_EQ(FilesIn(failed), (std::set<std::string>{"Media.idt"}));

    // A file where the folder should be.
    writeFile((work_ / "plain").string(), "x");
    r = Qltmsi("db export " + quoted(package_) + " " + quoted(work_ / "plain"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("is not a folder"), std::string::npos) << r.err;
}

}  // namespace
