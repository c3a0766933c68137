// The statements and call sequences the patching library relies on, run as
// the library runs them on a package and its cab cache.
#include <gtest/gtest.h>

#include "msi_test_util.h"

using namespace msitest;

namespace {

class LibraryFlows : public ::testing::Test {
protected:
    void SetUp() override {
        path = dir.file("pkg.msi");
        db = open(path, MSIDBOPEN_CREATE);
        const char16_t* setup[] = {
            u"CREATE TABLE `Property` (`Property` CHAR(72) NOT NULL, `Value` CHAR(0) NOT NULL LOCALIZABLE PRIMARY KEY `Property`)",
            u"CREATE TABLE `Component` (`Component` CHAR(72) NOT NULL, `ComponentId` CHAR(38), `Directory_` CHAR(72) NOT NULL, "
            u"`Attributes` SHORT NOT NULL, `Condition` CHAR(255), `KeyPath` CHAR(72) PRIMARY KEY `Component`)",
            u"CREATE TABLE `File` (`File` CHAR(72) NOT NULL, `Component_` CHAR(72) NOT NULL, `FileName` CHAR(255) NOT NULL "
            u"LOCALIZABLE, `FileSize` LONG NOT NULL, `Version` CHAR(72), `Language` CHAR(20), `Attributes` SHORT, "
            u"`Sequence` SHORT NOT NULL PRIMARY KEY `File`)",
            u"CREATE TABLE `Media` (`DiskId` SHORT NOT NULL, `LastSequence` SHORT NOT NULL, `DiskPrompt` CHAR(64) LOCALIZABLE, "
            u"`Cabinet` CHAR(255), `VolumeLabel` CHAR(32), `Source` CHAR(72) PRIMARY KEY `DiskId`)",
            u"INSERT INTO `Component` (`Component`, `ComponentId`, `Directory_`, `Attributes`, `KeyPath`) VALUES "
            u"('Main', '{11111111-2222-3333-4444-555555555555}', 'INSTALLDIR', 0, 'app.exe')",
            u"INSERT INTO `File` (`File`, `Component_`, `FileName`, `FileSize`, `Sequence`) VALUES ('app.exe', 'Main', 'APP.EXE|app.exe', 10, 1)",
            u"INSERT INTO `File` (`File`, `Component_`, `FileName`, `FileSize`, `Sequence`) VALUES ('lib.dll', 'Main', 'lib.dll', 20, 2)",
            u"INSERT INTO `Media` (`DiskId`, `LastSequence`, `Cabinet`) VALUES (1, 2, '#data.cab')",
        };
        for (auto* q : setup) ASSERT_EQ(run(db, q), 0u) << n(q);
        writeFile(dir.file("cab.bin"), std::string(3000, 'c'));
    }
    void TearDown() override { MsiCloseAllHandles(); }

    ScratchDir dir;
    std::string path;
    MSIHANDLE db = 0;
};

TEST_F(LibraryFlows, EveryQuotedStatementRuns) {
    std::vector<std::pair<std::u16string, size_t>> queries = {
        {u"SELECT * FROM `Property` WHERE `Property`='QuilletCabCache'", 0},
        {u"SELECT * FROM `File` WHERE `FileName`='lib.dll'", 1},
        {u"SELECT `ComponentId` FROM `Component` WHERE `Component`='Main'", 1},
        {u"SELECT `ComponentId`,`Component` FROM `Component`", 1},
        {u"SELECT * FROM `File` WHERE `Component_` = 'Main'", 2},
        {u"CREATE TABLE `QuilletTempTable` (`Name` LONGCHAR, `FullPath` LONGCHAR, `NewName` LONGCHAR PRIMARY KEY `Name`) HOLD", 0},
        {u"SELECT * FROM `_Streams` WHERE `Name`='QuilletCab'", 0},
        {u"SELECT * FROM `_Streams`", 0},
        {u"INSERT INTO `QuilletTempTable` (`Name`,`FullPath`) VALUES ('lib.dll','C:\\Temp\\qlt1\\lib.dll')", 0},
        {u"SELECT * FROM `Media` WHERE `Cabinet`='#QuilletCab'", 0},
        {u"SELECT * FROM `Media`", 1},
        {u"SELECT * FROM `QuilletTempTable` WHERE `Name`='lib.dll'", 1},
        {u"SELECT `LastSequence` FROM `Media` WHERE `DiskId`=1", 1},
        {u"SELECT * FROM `QuilletTempTable`", 1},
        {u"SELECT `Sequence` FROM `File` WHERE `File`='lib.dll'", 1},
        {u"DROP TABLE `QuilletTempTable`", 0},
        {u"SELECT * FROM `Property`", 0},
    };
    for (const auto& [q, count] : queries) {
        MSIHANDLE view = 0, rec = 0;
        ASSERT_EQ(MsiDatabaseOpenViewW(db, q.c_str(), &view), 0u) << n(q);
        ASSERT_EQ(MsiViewExecute(view, 0), 0u) << n(q);
        size_t fetched = 0;
        while (MsiViewFetch(view, &rec) == ERROR_SUCCESS) {
            ++fetched;
            MsiCloseHandle(rec);
        }
        EXPECT_EQ(fetched, count) << n(q);
        MsiViewClose(view);
        MsiCloseHandle(view);
    }
}

TEST_F(LibraryFlows, CabinetMovesFromPackageToCabCache) {
    // The package holds the library's cabinet in its own _Streams table.
    MSIHANDLE view, rec = MsiCreateRecord(2);
    ASSERT_EQ(MsiDatabaseOpenViewW(db, u"SELECT * FROM `_Streams`", &view), 0u);
    ASSERT_EQ(MsiViewExecute(view, 0), 0u);
    MsiRecordSetStringW(rec, 1, u"QuilletCab");
    ASSERT_EQ(MsiRecordSetStreamW(rec, 2, w(dir.file("cab.bin")).c_str()), 0u);
    ASSERT_EQ(MsiViewModify(view, MSIMODIFY_INSERT, rec), 0u);
    MsiCloseHandle(view);
    ASSERT_EQ(MsiDatabaseCommit(db), 0u);

    // Read it out 1024 bytes at a time, then take it out of the package.
    ASSERT_EQ(MsiDatabaseOpenViewW(db, u"SELECT * FROM `_Streams` WHERE `Name`='QuilletCab'", &view), 0u);
    ASSERT_EQ(MsiViewExecute(view, 0), 0u);
    MSIHANDLE row;
    ASSERT_EQ(MsiViewFetch(view, &row), 0u);
    std::string cab;
    char buf[1024];
    DWORD cb;
    do {
        cb = 1024;
        if (MsiRecordReadStream(row, 2, buf, &cb)) break;
        cab.append(buf, cb);
    } while (cb == 1024);
    EXPECT_EQ(cab, std::string(3000, 'c'));
    ASSERT_EQ(MsiRecordSetStreamW(row, 2, nullptr), 0u);
    EXPECT_EQ(MsiViewModify(view, MSIMODIFY_UPDATE, row), 0u);
    EXPECT_EQ(MsiViewModify(view, MSIMODIFY_DELETE, row), 0u);
    EXPECT_EQ(MsiDatabaseCommit(db), 0u);
    MsiCloseHandle(view);

    // A new cab cache: created direct, one _Streams row, committed.
    std::string cachePath = dir.file("a345_.msi");
    MSIHANDLE cache = open(cachePath, MSIDBOPEN_CREATEDIRECT);
    ASSERT_NE(cache, 0u);
    ASSERT_EQ(MsiDatabaseOpenViewW(cache, u"SELECT * FROM `_Streams`", &view), 0u);
    ASSERT_EQ(MsiViewExecute(view, 0), 0u);
    writeFile(dir.file("old.cab"), cab);
    MSIHANDLE fresh = MsiCreateRecord(2);
    MsiRecordSetStringW(fresh, 1, u"QuilletCab");
    ASSERT_EQ(MsiRecordSetStreamW(fresh, 2, w(dir.file("old.cab")).c_str()), 0u);
    ASSERT_EQ(MsiViewModify(view, MSIMODIFY_INSERT, fresh), 0u);
    MsiCloseHandle(view);
    ASSERT_EQ(MsiDatabaseCommit(cache), 0u);
    MsiCloseHandle(cache);

    // The package now points at the cab cache.
    ASSERT_EQ(MsiDatabaseOpenViewW(db, u"SELECT * FROM `Property`", &view), 0u);
    ASSERT_EQ(MsiViewExecute(view, 0), 0u);
    MSIHANDLE prop = MsiCreateRecord(2);
    MsiRecordSetStringW(prop, 1, u"QuilletCabCache");
    MsiRecordSetStringW(prop, 2, w(cachePath).c_str());
    EXPECT_EQ(MsiViewModify(view, MSIMODIFY_INSERT, prop), 0u);
    MsiCloseHandle(view);
    ASSERT_EQ(MsiDatabaseOpenViewW(db, u"SELECT `LastSequence` FROM `Media` WHERE `DiskId`=1", &view), 0u);
    ASSERT_EQ(MsiViewExecute(view, 0), 0u);
    ASSERT_EQ(MsiViewFetch(view, &row), 0u);
    MsiRecordSetInteger(row, 1, 102);
    EXPECT_EQ(MsiViewModify(view, MSIMODIFY_UPDATE, row), 0u);
    MsiCloseHandle(view);
    ASSERT_EQ(MsiDatabaseCommit(db), 0u);
    MsiCloseHandle(db);

    db = open(path, MSIDBOPEN_DIRECT);
    EXPECT_EQ(rows(db, u"SELECT `Name` FROM `_Streams`"), std::vector<std::string>{});
    EXPECT_EQ(rows(db, u"SELECT `Value` FROM `Property` WHERE `Property`='QuilletCabCache'"), std::vector<std::string>{cachePath});
    EXPECT_EQ(rows(db, u"SELECT `LastSequence` FROM `Media` WHERE `DiskId`=1"), std::vector<std::string>{"102"});
    cache = open(cachePath, MSIDBOPEN_DIRECT);
    EXPECT_EQ(rows(cache, u"SELECT `Name` FROM `_Streams` WHERE `Name`='QuilletCab'"), std::vector<std::string>{"QuilletCab"});
}

TEST_F(LibraryFlows, SubStoragesAreRowsOfStorages) {
    // A nested database goes in through a stream record and comes back out as a storage.
    std::string inner = dir.file("inner.msi");
    MSIHANDLE idb = open(inner, MSIDBOPEN_CREATE);
    ASSERT_EQ(run(idb, u"CREATE TABLE `X` (`K` SHORT NOT NULL PRIMARY KEY `K`)"), 0u);
    ASSERT_EQ(MsiDatabaseCommit(idb), 0u);
    MsiCloseHandle(idb);
    MSIHANDLE rec = MsiCreateRecord(2);
    MsiRecordSetStringW(rec, 1, u"nested");
    ASSERT_EQ(MsiRecordSetStreamW(rec, 2, w(inner).c_str()), 0u);
    ASSERT_EQ(run(db, u"INSERT INTO `_Storages` (`Name`, `Data`) VALUES (?, ?)", rec), 0u);
    ASSERT_EQ(MsiDatabaseCommit(db), 0u);
    MsiCloseHandle(db);
    db = open(path, MSIDBOPEN_DIRECT);
    EXPECT_EQ(rows(db, u"SELECT `Name` FROM `_Storages`"), std::vector<std::string>{"nested"});
    EXPECT_EQ(run(db, u"DELETE FROM `_Storages` WHERE `Name` = 'nested'"), 0u);
    EXPECT_EQ(rows(db, u"SELECT `Name` FROM `_Storages`"), std::vector<std::string>{});
}

}  // namespace
