// Damaged packages and bad statements: every case ends in an Installer error
// code, never a crash, a hang or a read outside the file (run under asan).
#include <gtest/gtest.h>

#include <random>

#include "msi/database.h"
#include "msi/idt.h"
#include "msi/stream_name.h"
#include "msi_test_util.h"
#include "storage/compound_file.h"

using namespace msitest;
namespace cfb = winsys::cfb;

namespace {

class BadInput : public ::testing::Test {
protected:
    void SetUp() override {
        good = dir.file("good.msi");
        MSIHANDLE db = open(good, MSIDBOPEN_CREATE);
        ASSERT_EQ(run(db, u"CREATE TABLE `T` (`K` CHAR(20) NOT NULL, `N` LONG, `B` OBJECT PRIMARY KEY `K`)"), 0u);
        for (int i = 0; i < 40; ++i) {
            std::u16string q = u"INSERT INTO `T` (`K`, `N`) VALUES ('key" + w(std::to_string(i)) + u"', " +
                               w(std::to_string(i * 1000)) + u")";
            ASSERT_EQ(run(db, q), 0u);
        }
        writeFile(dir.file("blob"), std::string(6000, 'z'));
        MSIHANDLE rec = MsiCreateRecord(1);
        MsiRecordSetStreamW(rec, 1, w(dir.file("blob")).c_str());
        ASSERT_EQ(run(db, u"UPDATE `T` SET `B` = ? WHERE `K` = 'key1'", rec), 0u);
        ASSERT_EQ(MsiDatabaseCommit(db), 0u);
        MsiCloseAllHandles();
        bytes = readFile(good);
    }

    // Opens and dumps everything; returns the open result.
    UINT openAndDump(const std::string& path) {
        std::shared_ptr<winsys::msi::Database> db;
        UINT r = winsys::msi::Database::open(path, winsys::msi::OpenMode::ReadOnly, &db);
        if (r) return r;
        std::u16string text;
        for (auto name : db->tableNames()) winsys::msi::exportTable(*db, name, &text);
        winsys::msi::exportTable(*db, u"_SummaryInformation", &text);
        winsys::msi::exportTable(*db, u"_Columns", &text);
        return ERROR_SUCCESS;
    }

    // Replaces one table stream of a copy of the good package.
    std::string withTableStream(const std::u16string& table, const std::vector<uint8_t>& content) {
        std::string path = dir.file("patched.msi");
        writeFile(path, bytes);
        std::unique_ptr<cfb::CompoundFile> f;
        cfb::OpenOptions o;
        o.access = cfb::Access::ReadWrite;
        EXPECT_EQ(cfb::CompoundFile::open(path, o, &f), S_OK);
        EXPECT_EQ(f->writeStream(cfb::kRootEntry, winsys::msi::encodeStreamName(table, true), content), S_OK);
        EXPECT_EQ(f->commit(), S_OK);
        return path;
    }

    ScratchDir dir;
    std::string good;
    std::string bytes;
};

TEST_F(BadInput, TruncatedFilesAndBadSignatures) {
    EXPECT_EQ(openAndDump(good), 0u);
    std::string path = dir.file("cut.msi");
    for (size_t cut : {size_t(0), size_t(7), size_t(511), size_t(512), size_t(1024), bytes.size() / 2, bytes.size() - 1}) {
        writeFile(path, bytes.substr(0, cut));
        UINT r = openAndDump(path);
        EXPECT_TRUE(r == 0 || r == ERROR_INSTALL_PACKAGE_INVALID || r == ERROR_OPEN_FAILED) << cut << " gave " << r;
    }
    std::string bad = bytes;
    bad[0] = 'X';
    writeFile(path, bad);
    EXPECT_EQ(openAndDump(path), (UINT)ERROR_INSTALL_PACKAGE_INVALID);
}

TEST_F(BadInput, RandomDamageNeverCrashes) {
    std::mt19937 rng(1234);
    std::string path = dir.file("damaged.msi");
    for (int round = 0; round < 300; ++round) {
        std::string bad = bytes;
        int hits = 1 + int(rng() % 8);
        for (int i = 0; i < hits; ++i) bad[rng() % bad.size()] = char(rng());
        writeFile(path, bad);
        openAndDump(path);
    }
}

TEST_F(BadInput, InconsistentSchemaAndPool) {
    // The pool claims more string bytes than _StringData holds.
    std::vector<uint8_t> pool = {0, 0, 0, 0, 0xFF, 0x7F, 1, 0};
    EXPECT_EQ(openAndDump(withTableStream(u"_StringPool", pool)), (UINT)ERROR_INSTALL_PACKAGE_INVALID);
    // _Columns numbering with a gap.
    EXPECT_EQ(openAndDump(withTableStream(u"_Columns", {1, 0, 1, 0, 1, 0x80, 5, 0x80, 2, 0, 2, 0, 0x48, 0xAD, 0, 0x80})),
              (UINT)ERROR_INSTALL_PACKAGE_INVALID);
    // A table that names a string id the pool does not have.
    std::string path = withTableStream(u"T", {0xEE, 0x7E, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(openAndDump(path), 0u);
    MSIHANDLE db = open(path, MSIDBOPEN_READONLY);
    ASSERT_NE(db, 0u);
    MSIHANDLE view;
    EXPECT_EQ(MsiDatabaseOpenViewW(db, u"SELECT * FROM `T`", &view), (UINT)ERROR_FUNCTION_FAILED);
    MsiCloseHandle(db);
    // A compound file whose root is not a package.
    std::string other = dir.file("other.cfb");
    std::unique_ptr<cfb::CompoundFile> f;
    ASSERT_EQ(cfb::CompoundFile::create(other, cfb::Version::V3, false, cfb::kShareRead, &f), S_OK);
    ASSERT_EQ(f->writeStream(cfb::kRootEntry, u"x", std::vector<uint8_t>{1, 2}), S_OK);
    ASSERT_EQ(f->commit(), S_OK);
    f.reset();
    EXPECT_EQ(openAndDump(other), (UINT)ERROR_INSTALL_PACKAGE_INVALID);
}

TEST_F(BadInput, StatementsThatCannotRun) {
    MSIHANDLE db = open(good, MSIDBOPEN_TRANSACT);
    MSIHANDLE view;
    const char16_t* bad[] = {
        u"SELECT * FROM `T` WHERE",
        u"SELECT * FROM `T`, `U`, `V`",
        u"SELECT * FROM `T` ORDER BY `Nope`",
        u"UPDATE `Nope` SET `K` = 1",
        u"DELETE FROM `T` WHERE `Nope` IS NULL",
        u"ALTER TABLE `_Streams` ADD `x` SHORT",
        u"INSERT INTO `T` (`K`, `K2`) VALUES ('a', 'b')",
        u"CREATE TABLE `_Streams` (`a` SHORT PRIMARY KEY `a`)",
        u"CREATE TABLE `X` (`a` SHORT, `a` LONG PRIMARY KEY `a`)",
        u"CREATE TABLE `A-very-long-table-name-that-no-stream-name-can-hold` (`a` SHORT PRIMARY KEY `a`)",
    };
    for (auto* q : bad) EXPECT_EQ(MsiDatabaseOpenViewW(db, q, &view), (UINT)ERROR_BAD_QUERY_SYNTAX) << n(q);
    EXPECT_EQ(run(db, u"INSERT INTO `T` (`K`, `N`) VALUES ('x', 'not a number')"), (UINT)ERROR_FUNCTION_FAILED);
    EXPECT_EQ(run(db, u"INSERT INTO `T` (`K`, `B`) VALUES ('y', 'text in an object column')"), (UINT)ERROR_FUNCTION_FAILED);
    EXPECT_EQ(rows(db, u"SELECT `K` FROM `T` WHERE `K` = 'x' OR `K` = 'y'"), std::vector<std::string>{});
    MsiCloseHandle(db);
}

}  // namespace
