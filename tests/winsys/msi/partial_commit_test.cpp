// Commits encode again only the tables that changed. The streams of the
// other tables stay as they were, byte for byte; the string pool's counts stay
// right (a string that only an unchanged table still uses survives); and
// msiinfo reads the result as our engine does, over several commits in one
// session and when string references switch between 2 and 3 bytes; a commit
// that fails leaves the file as it was and the next one writes everything.
#include <gtest/gtest.h>
#include <winsys_faults.h>

#include <string>
#include <vector>

#include "msi/stream_name.h"
#include "msi_test_util.h"
#include "peer_dumps.h"
#include "storage/compound_file.h"

using namespace msitest;

namespace {

std::vector<uint8_t> tableStream(const std::string& package, std::u16string_view table) {
    std::unique_ptr<winsys::cfb::CompoundFile> file;
    if (FAILED(winsys::cfb::CompoundFile::open(package, winsys::cfb::OpenOptions{}, &file))) return {};
    winsys::cfb::EntryId id;
    if (FAILED(file->find(winsys::cfb::kRootEntry, winsys::msi::encodeStreamName(table, true), &id))) return {};
    std::vector<uint8_t> bytes;
    if (FAILED(file->readStream(id, &bytes))) return {};
    return bytes;
}

class PartialCommit : public ::testing::Test {
protected:
    void SetUp() override {
        if (!have("msiinfo") || !have("msibuild")) GTEST_SKIP() << "msitools not installed";
    }
    ScratchDir dir;
};

// A package msibuild wrote, so that the stored reference counts are a peer's.
TEST_F(PartialCommit, UnchangedTablesKeepTheirStreamsAndTheirStrings) {
    std::string file = "File\tComponent_\tFileName\tFileSize\tVersion\tLanguage\tAttributes\tSequence\r\n"
                       "s72\ts72\tl255\ti4\tS72\tS20\tI2\ti2\r\nFile\tFile\r\n";
    std::string component = "Component\tComponentId\tDirectory_\tAttributes\tCondition\tKeyPath\r\n"
                            "s72\tS38\ts72\ti2\tS255\tS72\r\nComponent\tComponent\r\n";
    for (int i = 0; i < 200; ++i) {
        std::string n = std::to_string(i);
        file += "file" + n + "\tcomp" + std::to_string(i / 10) + "\tname" + n + ".dll\t" + n + "\t1.0." +
                std::to_string(i % 7) + "\t1033\t512\t" + std::to_string(i + 1) + "\r\n";
        if (i % 10 == 0)
            component += "comp" + std::to_string(i / 10) + "\t{" + std::to_string(10000000 + i) +
                         "-2222-3333-4444-555555555555}\tINSTALLDIR\t0\t\tfile" + n + "\r\n";
    }
    writeFile(dir.file("File.idt"), file);
    writeFile(dir.file("Component.idt"), component);
    writeFile(dir.file("Property.idt"), "Property\tValue\r\ns72\tl0\r\nProperty\tProperty\r\nProductVersion\t1.0.3\r\n");
    int st;
    shellOutput("cd '" + dir.path() + "' && msibuild p.msi -i File.idt -i Component.idt -i Property.idt 2>&1", &st);
    ASSERT_EQ(st, 0);
    std::string path = dir.file("p.msi");
    auto componentBefore = tableStream(path, u"Component");
    auto propertyBefore = tableStream(path, u"Property");
    auto fileBefore = tableStream(path, u"File");
    ASSERT_FALSE(componentBefore.empty());

    MSIHANDLE db = open(path, MSIDBOPEN_DIRECT);
    ASSERT_NE(db, 0u);
    // Read (and so decoded), but not changed.
    EXPECT_EQ(rows(db, u"SELECT `KeyPath` FROM `Component` WHERE `Component` = 'comp3'"), std::vector<std::string>{"file30"});
    // File stops naming comp3 and "file30", which Component still uses, and
    // "1.0.3", which Property still uses; "1.0.4" goes out of use altogether.
    ASSERT_EQ(run(db, u"UPDATE `File` SET `Component_` = 'comp0' WHERE `Component_` = 'comp3'"), 0u);
    ASSERT_EQ(run(db, u"DELETE FROM `File` WHERE `File` = 'file30'"), 0u);
    ASSERT_EQ(run(db, u"UPDATE `File` SET `Version` = '2.0' WHERE `Version` = '1.0.3'"), 0u);
    ASSERT_EQ(run(db, u"UPDATE `File` SET `Version` = '2.1' WHERE `Version` = '1.0.4'"), 0u);
    ASSERT_EQ(MsiDatabaseCommit(db), 0u);
    MsiCloseHandle(db);

    EXPECT_EQ(tableStream(path, u"Component"), componentBefore);
    EXPECT_EQ(tableStream(path, u"Property"), propertyBefore);
    EXPECT_NE(tableStream(path, u"File"), fileBefore);
    expectSameDumps(path);
    EXPECT_NE(peerDump(path, "Component").find("comp3\t{10000030-2222-3333-4444-555555555555}\tINSTALLDIR\t0\t\tfile30"),
              std::string::npos);
    EXPECT_NE(peerDump(path, "Property").find("ProductVersion\t1.0.3"), std::string::npos);

    // Several commits in one session, each changing another table; the counts
    // carried from one commit to the next must still add up.
    componentBefore = tableStream(path, u"Component");
    db = open(path, MSIDBOPEN_TRANSACT);
    ASSERT_NE(db, 0u);
    ASSERT_EQ(run(db, u"UPDATE `Property` SET `Value` = '1.0.4' WHERE `Property` = 'ProductVersion'"), 0u);
    ASSERT_EQ(MsiDatabaseCommit(db), 0u);
    ASSERT_EQ(run(db, u"UPDATE `File` SET `Version` = '1.0.3' WHERE `Version` = '2.0'"), 0u);
    ASSERT_EQ(run(db, u"INSERT INTO `File` (`File`, `Component_`, `FileName`, `FileSize`, `Sequence`) "
                      u"VALUES ('file30', 'comp3', 'back.dll', 1, 31)"), 0u);
    ASSERT_EQ(MsiDatabaseCommit(db), 0u);
    ASSERT_EQ(run(db, u"DELETE FROM `Property`"), 0u);
    ASSERT_EQ(MsiDatabaseCommit(db), 0u);
    MsiCloseHandle(db);
    EXPECT_EQ(tableStream(path, u"Component"), componentBefore);
    expectSameDumps(path);
    EXPECT_EQ(peerDump(path, "Property"), "Property\tValue\r\ns72\tl0\r\nProperty\tProperty\r\n");
    EXPECT_NE(peerDump(path, "File").find("file30\tcomp3\tback.dll\t1\t\t\t\t31"), std::string::npos);
}

// Whichever file call of a commit fails, the file stays as it was, and the
// same session's next commit writes every change: a table dropped without
// being read, a table changed, new strings and strings gone.
TEST_F(PartialCommit, AFailedCommitLeavesTheFileAndTheNextWritesEverything) {
    std::string file = "File\tComponent_\tFileName\tVersion\r\ns72\ts72\tl255\tS72\r\nFile\tFile\r\n";
    for (int i = 0; i < 50; ++i)
        file += "file" + std::to_string(i) + "\tcomp\tname" + std::to_string(i) + ".dll\t1.0." + std::to_string(i % 3) + "\r\n";
    writeFile(dir.file("File.idt"), file);
    writeFile(dir.file("Component.idt"),
              "Component\tKeyPath\r\ns72\tS72\r\nComponent\tComponent\r\ncomp\tfile0\r\nonly\tgone\r\n");
    writeFile(dir.file("Property.idt"), "Property\tValue\r\ns72\tl0\r\nProperty\tProperty\r\nP\t1.0.1\r\n");
    int st;
    shellOutput("cd '" + dir.path() + "' && msibuild base.msi -i File.idt -i Component.idt -i Property.idt 2>&1", &st);
    ASSERT_EQ(st, 0);
    const std::string base = readFile(dir.file("base.msi"));
    const std::string path = dir.file("p.msi");
    std::string expectedFile;
    for (const DWORD kind : {WINSYS_FAULT_OPEN, WINSYS_FAULT_WRITE, WINSYS_FAULT_FLUSH, WINSYS_FAULT_MOVE,
                             WINSYS_FAULT_TEMPNAME}) {
        for (DWORD call = 1;; ++call) {
            const std::string where = "fault " + std::to_string(kind) + " at call " + std::to_string(call);
            writeFile(path, base);
            MSIHANDLE db = open(path, MSIDBOPEN_DIRECT);
            ASSERT_NE(db, 0u) << where;
            ASSERT_EQ(run(db, u"DROP TABLE `Component`"), 0u) << where;
            ASSERT_EQ(run(db, u"UPDATE `File` SET `Version` = '2.0' WHERE `Version` = '1.0.2'"), 0u) << where;
            ASSERT_EQ(run(db, u"UPDATE `File` SET `FileName` = 'renamed.dll' WHERE `File` = 'file7'"), 0u) << where;
            WinsysFaultsReset();
            ASSERT_TRUE(WinsysFaultsArm(kind, call, ERROR_SHARING_VIOLATION, FALSE));
            const UINT first = MsiDatabaseCommit(db);
            const DWORD fired = WinsysFaultsFired();
            WinsysFaultsReset();
            if (fired) {
                EXPECT_NE(first, 0u) << where;
                EXPECT_EQ(readFile(path), base) << where;
                EXPECT_EQ(MsiDatabaseCommit(db), 0u) << where;
            } else {
                EXPECT_EQ(first, 0u) << where;
            }
            MsiCloseHandle(db);
            EXPECT_EQ(shellOutput("msiinfo tables '" + path + "'"), "_SummaryInformation\n_ForceCodepage\nFile\nProperty\n") << where;
            expectSameDumps(path);
            const std::string dumped = peerDump(path, "File");
            if (expectedFile.empty()) expectedFile = dumped;
            EXPECT_EQ(dumped, expectedFile) << where;
            EXPECT_EQ(peerDump(path, "Property"), "Property\tValue\r\ns72\tl0\r\nProperty\tProperty\r\nP\t1.0.1\r\n") << where;
            if (!fired) break;
        }
    }
    EXPECT_NE(expectedFile.find("file7\tcomp\trenamed.dll\t1.0.1"), std::string::npos);
    EXPECT_NE(expectedFile.find("file5\tcomp\tname5.dll\t2.0"), std::string::npos);
    EXPECT_EQ(expectedFile.find("1.0.2"), std::string::npos);
}

// Once the pool passes 65,535 ids, references take 3 bytes in every table,
// changed or not; below that again, 2.
TEST_F(PartialCommit, ReferenceWidthChangesRewriteEveryTable) {
    std::string path = dir.file("wide.msi");
    MSIHANDLE db = open(path, MSIDBOPEN_CREATE);
    ASSERT_NE(db, 0u);
    ASSERT_EQ(run(db, u"CREATE TABLE `Keep` (`K` CHAR(8) NOT NULL PRIMARY KEY `K`)"), 0u);
    for (const char16_t* k : {u"k1", u"k2", u"k3"})
        ASSERT_EQ(run(db, u"INSERT INTO `Keep` (`K`) VALUES ('" + std::u16string(k) + u"')"), 0u);
    ASSERT_EQ(run(db, u"CREATE TABLE `Big` (`Name` CHAR(16) NOT NULL, `Text` CHAR(16), `N` LONG PRIMARY KEY `Name`)"), 0u);
    auto insertBig = [&](int from, int to) {
        MSIHANDLE view = 0;
        ASSERT_EQ(MsiDatabaseOpenViewW(db, u"SELECT * FROM `Big`", &view), 0u);
        ASSERT_EQ(MsiViewExecute(view, 0), 0u);
        MSIHANDLE rec = MsiCreateRecord(3);
        for (int i = from; i < to; ++i) {
            MsiRecordSetStringA(rec, 1, ("n" + std::to_string(i)).c_str());
            MsiRecordSetStringA(rec, 2, ("t" + std::to_string(i)).c_str());
            MsiRecordSetInteger(rec, 3, i);
            ASSERT_EQ(MsiViewModify(view, MSIMODIFY_INSERT, rec), 0u);
        }
        MsiCloseHandle(rec);
        MsiCloseHandle(view);
    };
    insertBig(0, 35000);
    ASSERT_EQ(MsiDatabaseCommit(db), 0u);
    MsiCloseHandle(db);
    EXPECT_EQ(tableStream(path, u"Keep").size(), 9u);

    db = open(path, MSIDBOPEN_DIRECT);
    ASSERT_NE(db, 0u);
    ASSERT_EQ(run(db, u"DELETE FROM `Big` WHERE `N` >= 30000"), 0u);
    ASSERT_EQ(MsiDatabaseCommit(db), 0u);
    MsiCloseHandle(db);
    EXPECT_EQ(tableStream(path, u"Keep").size(), 6u);
    EXPECT_EQ(ourDump(path, "Keep"), peerDump(path, "Keep"));
    EXPECT_EQ(ourDump(path, "Big"), peerDump(path, "Big"));

    db = open(path, MSIDBOPEN_DIRECT);
    ASSERT_NE(db, 0u);
    insertBig(40000, 45000);
    ASSERT_EQ(MsiDatabaseCommit(db), 0u);
    MsiCloseHandle(db);
    EXPECT_EQ(tableStream(path, u"Keep").size(), 9u);
    EXPECT_EQ(ourDump(path, "Keep"), peerDump(path, "Keep"));
    EXPECT_EQ(ourDump(path, "Big"), peerDump(path, "Big"));
    EXPECT_EQ(std::stoi(shellOutput("msiinfo export '" + path + "' Big | wc -l")), 35003);
}

}  // namespace
