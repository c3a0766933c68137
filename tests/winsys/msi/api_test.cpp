// The Installer API over packages made and read by winsys: statements,
// views, modify modes, records, streams, summary information, commit.
#include <gtest/gtest.h>

#include <filesystem>

#include <algorithm>
#include <thread>

#include "msi_test_util.h"

using namespace msitest;

namespace {

class MsiApi : public ::testing::Test {
protected:
    void SetUp() override {
        path = dir.file("t.msi");
        db = open(path, MSIDBOPEN_CREATE);
        ASSERT_NE(db, 0u);
        ASSERT_EQ(run(db, u"CREATE TABLE `Property` (`Property` CHAR(72) NOT NULL, `Value` CHAR(0) NOT NULL "
                          u"LOCALIZABLE PRIMARY KEY `Property`)"), 0u);
        ASSERT_EQ(run(db, u"CREATE TABLE `Media` (`DiskId` SHORT NOT NULL, `LastSequence` SHORT NOT NULL, "
                          u"`DiskPrompt` CHAR(64) LOCALIZABLE, `Cabinet` CHAR(255), `VolumeLabel` CHAR(32), "
                          u"`Source` CHAR(72) PRIMARY KEY `DiskId`)"), 0u);
        ASSERT_EQ(run(db, u"INSERT INTO `Property` (`Property`, `Value`) VALUES ('A', 'one')"), 0u);
        ASSERT_EQ(run(db, u"INSERT INTO `Property` (`Property`, `Value`) VALUES ('B', 'two')"), 0u);
        ASSERT_EQ(run(db, u"INSERT INTO `Media` (`DiskId`, `LastSequence`, `Cabinet`) VALUES (1, 10, '#a.cab')"), 0u);
        ASSERT_EQ(run(db, u"INSERT INTO `Media` (`DiskId`, `LastSequence`, `Cabinet`) VALUES (2, 30, '#b.cab')"), 0u);
    }
    void TearDown() override { MsiCloseAllHandles(); }

    MSIHANDLE reopen(LPCWSTR mode = MSIDBOPEN_DIRECT) {
        EXPECT_EQ(MsiDatabaseCommit(db), 0u);
        MsiCloseHandle(db);
        db = open(path, mode);
        return db;
    }

    ScratchDir dir;
    std::string path;
    MSIHANDLE db = 0;
};

TEST_F(MsiApi, SelectWhereOrderDistinctAndJoin) {
    EXPECT_EQ(rows(db, u"SELECT `Value` FROM `Property` WHERE `Property`='B'"), std::vector<std::string>{"two"});
    EXPECT_EQ(rows(db, u"SELECT `LastSequence` FROM `Media` WHERE `DiskId`=2"), std::vector<std::string>{"30"});
    EXPECT_EQ(rows(db, u"SELECT * FROM `Media` WHERE `Cabinet`='#b.cab'"), std::vector<std::string>{"2|30|||||"}.size() == 1
                  ? std::vector<std::string>{"2|30||#b.cab||"} : std::vector<std::string>{});
    EXPECT_EQ(rows(db, u"SELECT `DiskId` FROM `Media` WHERE `LastSequence` > 5 AND (`DiskId` = 1 OR `DiskId` = 2) "
                       u"ORDER BY `LastSequence`"), (std::vector<std::string>{"1", "2"}));
    EXPECT_EQ(rows(db, u"SELECT `DiskId` FROM `Media` WHERE `DiskPrompt` IS NULL AND `Cabinet` IS NOT NULL"),
              (std::vector<std::string>{"1", "2"}));
    EXPECT_EQ(rows(db, u"SELECT `DiskId` FROM `Media` WHERE `LastSequence` <= 10"), std::vector<std::string>{"1"});
    EXPECT_EQ(rows(db, u"SELECT `DiskId` FROM `Media` WHERE `LastSequence` <> 10"), std::vector<std::string>{"2"});
    EXPECT_EQ(rows(db, u"SELECT `DiskId` FROM `Media` WHERE `LastSequence` = '10'"), std::vector<std::string>{});
    ASSERT_EQ(run(db, u"INSERT INTO `Media` (`DiskId`, `LastSequence`) VALUES (3, 30)"), 0u);
    EXPECT_EQ(rows(db, u"SELECT DISTINCT `LastSequence` FROM `Media`"), (std::vector<std::string>{"10", "30"}));
    EXPECT_EQ(rows(db, u"SELECT `Property`.`Value`, `Media`.`DiskId` FROM `Property`, `Media` "
                       u"WHERE `Media`.`LastSequence` = 10"),
              (std::vector<std::string>{"one|1", "two|1"}));
}

TEST_F(MsiApi, ParametersComeFromTheExecuteRecord) {
    MSIHANDLE rec = MsiCreateRecord(2);
    MsiRecordSetStringW(rec, 1, u"C");
    MsiRecordSetStringW(rec, 2, u"it's quoted");
    EXPECT_EQ(run(db, u"INSERT INTO `Property` (`Property`, `Value`) VALUES (?, ?)", rec), 0u);
    MSIHANDLE key = MsiCreateRecord(1);
    MsiRecordSetStringW(key, 1, u"C");
    EXPECT_EQ(rows(db, u"SELECT `Value` FROM `Property` WHERE `Property` = ?", key),
              std::vector<std::string>{"it's quoted"});
    MsiRecordSetInteger(key, 1, 2);
    EXPECT_EQ(rows(db, u"SELECT `Cabinet` FROM `Media` WHERE `DiskId` = ?", key), std::vector<std::string>{"#b.cab"});
    // A statement with markers and no record fails instead of guessing.
    MSIHANDLE view;
    ASSERT_EQ(MsiDatabaseOpenViewW(db, u"SELECT * FROM `Property` WHERE `Property` = ?", &view), 0u);
    EXPECT_EQ(MsiViewExecute(view, 0), (UINT)ERROR_FUNCTION_FAILED);
}

TEST_F(MsiApi, UpdateDeleteAndTheirErrors) {
    EXPECT_EQ(run(db, u"UPDATE `Property` SET `Value` = 'uno' WHERE `Property` = 'A'"), 0u);
    EXPECT_EQ(rows(db, u"SELECT `Value` FROM `Property` WHERE `Property`='A'"), std::vector<std::string>{"uno"});
    EXPECT_EQ(run(db, u"UPDATE `Property` SET `Property` = 'Z' WHERE `Property` = 'A'"), (UINT)ERROR_FUNCTION_FAILED);
    EXPECT_EQ(run(db, u"UPDATE `Media` SET `LastSequence` = 40000 WHERE `DiskId` = 1"), (UINT)ERROR_FUNCTION_FAILED);
    EXPECT_EQ(run(db, u"INSERT INTO `Property` (`Property`, `Value`) VALUES ('A', 'dup')"), (UINT)ERROR_FUNCTION_FAILED);
    EXPECT_EQ(run(db, u"INSERT INTO `Property` (`Property`) VALUES ('N')"), (UINT)ERROR_FUNCTION_FAILED);
    EXPECT_EQ(run(db, u"DELETE FROM `Media` WHERE `LastSequence` = 30"), 0u);
    EXPECT_EQ(rows(db, u"SELECT `DiskId` FROM `Media`"), std::vector<std::string>{"1"});
}

TEST_F(MsiApi, BadQueriesGiveSyntaxErrors) {
    MSIHANDLE view = 0;
    EXPECT_EQ(MsiDatabaseOpenViewW(db, u"SELECT * FROM `Nope`", &view), (UINT)ERROR_BAD_QUERY_SYNTAX);
    EXPECT_EQ(MsiDatabaseOpenViewW(db, u"SELECT `Nope` FROM `Property`", &view), (UINT)ERROR_BAD_QUERY_SYNTAX);
    EXPECT_EQ(MsiDatabaseOpenViewW(db, u"SELECT * FROM `Property` WHERE `Nope` = 1", &view), (UINT)ERROR_BAD_QUERY_SYNTAX);
    EXPECT_EQ(MsiDatabaseOpenViewW(db, u"SELEC * FROM `Property`", &view), (UINT)ERROR_BAD_QUERY_SYNTAX);
    EXPECT_EQ(MsiDatabaseOpenViewW(db, u"DROP TABLE `Nope`", &view), (UINT)ERROR_BAD_QUERY_SYNTAX);
    EXPECT_EQ(MsiDatabaseOpenViewW(db, u"CREATE TABLE `Property` (`a` SHORT PRIMARY KEY `a`)", &view),
              (UINT)ERROR_BAD_QUERY_SYNTAX);
    EXPECT_EQ(MsiDatabaseOpenViewW(db, u"CREATE TABLE `X` (`a` SHORT PRIMARY KEY `b`)", &view), (UINT)ERROR_BAD_QUERY_SYNTAX);
    EXPECT_EQ(MsiDatabaseOpenViewW(db, u"INSERT INTO `Property` (`Nope`) VALUES (1)", &view), (UINT)ERROR_BAD_QUERY_SYNTAX);
    EXPECT_EQ(MsiDatabaseOpenViewW(0, u"SELECT * FROM `Property`", &view), (UINT)ERROR_INVALID_HANDLE);
}

TEST_F(MsiApi, ModifyModesFollowWindows) {
    MSIHANDLE view, rec;
    ASSERT_EQ(MsiDatabaseOpenViewW(db, u"SELECT * FROM `Property`", &view), 0u);
    ASSERT_EQ(MsiViewExecute(view, 0), 0u);
    MSIHANDLE fresh = MsiCreateRecord(2);
    MsiRecordSetStringW(fresh, 1, u"A");
    MsiRecordSetStringW(fresh, 2, u"x");
    EXPECT_EQ(MsiViewModify(view, MSIMODIFY_INSERT, fresh), (UINT)ERROR_FUNCTION_FAILED);  // duplicate key
    EXPECT_EQ(MsiViewModify(view, MSIMODIFY_UPDATE, fresh), (UINT)ERROR_FUNCTION_FAILED);  // not fetched
    EXPECT_EQ(MsiViewModify(view, MSIMODIFY_DELETE, fresh), (UINT)ERROR_FUNCTION_FAILED);
    // Windows documents that a merge with different data fails (Wine 8 succeeds).
    EXPECT_EQ(MsiViewModify(view, MSIMODIFY_MERGE, fresh), (UINT)ERROR_FUNCTION_FAILED);
    MsiRecordSetStringW(fresh, 2, u"one");
    EXPECT_EQ(MsiViewModify(view, MSIMODIFY_MERGE, fresh), 0u);  // identical
    MsiRecordSetStringW(fresh, 1, u"M");
    EXPECT_EQ(MsiViewModify(view, MSIMODIFY_MERGE, fresh), 0u);  // absent: inserted
    MsiRecordSetStringW(fresh, 2, u"assigned");
    EXPECT_EQ(MsiViewModify(view, MSIMODIFY_ASSIGN, fresh), 0u);
    MSIHANDLE noValue = MsiCreateRecord(2);
    MsiRecordSetStringW(noValue, 1, u"Q");
    EXPECT_EQ(MsiViewModify(view, MSIMODIFY_INSERT, noValue), (UINT)ERROR_INVALID_DATA);
    MSIHANDLE tooShort = MsiCreateRecord(1);
    EXPECT_EQ(MsiViewModify(view, MSIMODIFY_INSERT, tooShort), (UINT)ERROR_INVALID_DATA);
    EXPECT_EQ(MsiViewModify(view, MSIMODIFY_INSERT, 0), (UINT)ERROR_INVALID_HANDLE);

    ASSERT_EQ(MsiViewFetch(view, &rec), 0u);  // A
    MsiRecordSetStringW(rec, 2, u"updated");
    EXPECT_EQ(MsiViewModify(view, MSIMODIFY_UPDATE, rec), 0u);
    MsiRecordSetStringW(rec, 1, u"A2");
    EXPECT_EQ(MsiViewModify(view, MSIMODIFY_UPDATE, rec), (UINT)ERROR_FUNCTION_FAILED);  // key changed
    EXPECT_EQ(MsiViewModify(view, MSIMODIFY_REPLACE, rec), 0u);  // moves the row
    EXPECT_EQ(MsiViewModify(view, MSIMODIFY_REFRESH, rec), 0u);
    EXPECT_EQ(n(field(rec, 1)), "A2");
    EXPECT_EQ(MsiViewModify(view, MSIMODIFY_DELETE, rec), 0u);
    EXPECT_EQ(MsiViewModify(view, MSIMODIFY_DELETE, rec), (UINT)ERROR_FUNCTION_FAILED);   // gone
    EXPECT_EQ(MsiViewModify(view, MSIMODIFY_REFRESH, rec), (UINT)ERROR_FUNCTION_FAILED);  // gone
    MsiCloseHandle(rec);

    MSIHANDLE seek = MsiCreateRecord(2);
    MsiRecordSetStringW(seek, 1, u"B");
    EXPECT_EQ(MsiViewModify(view, MSIMODIFY_SEEK, seek), 0u);
    EXPECT_EQ(n(field(seek, 2)), "two");
    EXPECT_EQ(MsiViewModify(view, MSIMODIFY_VALIDATE_NEW, seek), (UINT)ERROR_INVALID_DATA);
    char16_t column[16];
    DWORD cch = 16;
    EXPECT_EQ(MsiViewGetErrorW(view, column, &cch), MSIDBERROR_DUPLICATEKEY);
    EXPECT_EQ(std::u16string(column), u"Property");
    MsiViewClose(view);
    EXPECT_EQ(rows(db, u"SELECT * FROM `Property`"), (std::vector<std::string>{"B|two", "M|assigned"}));
}

TEST_F(MsiApi, UpdateThroughAViewOfSomeColumns) {
    MSIHANDLE view, rec;
    ASSERT_EQ(MsiDatabaseOpenViewW(db, u"SELECT `LastSequence` FROM `Media` WHERE `DiskId`=2", &view), 0u);
    ASSERT_EQ(MsiViewExecute(view, 0), 0u);
    ASSERT_EQ(MsiViewFetch(view, &rec), 0u);
    MsiRecordSetInteger(rec, 1, 130);
    EXPECT_EQ(MsiViewModify(view, MSIMODIFY_UPDATE, rec), 0u);
    EXPECT_EQ(MsiViewFetch(view, &rec), (UINT)ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(rec, 0u);
    EXPECT_EQ(rows(db, u"SELECT * FROM `Media` WHERE `DiskId`=2"), std::vector<std::string>{"2|130||#b.cab||"});
}

// Windows keeps every persistent row when a table also holds temporary ones
// (Wine 8 writes only the first).
TEST_F(MsiApi, TemporaryRowsNeverCostPersistentOnes) {
    EXPECT_EQ(run(db, u"INSERT INTO `Property` (`Property`, `Value`) VALUES ('T1', 'temp') TEMPORARY"), 0u);
    MSIHANDLE view;
    ASSERT_EQ(MsiDatabaseOpenViewW(db, u"SELECT * FROM `Property`", &view), 0u);
    ASSERT_EQ(MsiViewExecute(view, 0), 0u);
    MSIHANDLE rec = MsiCreateRecord(2);
    MsiRecordSetStringW(rec, 1, u"T2");
    MsiRecordSetStringW(rec, 2, u"temp");
    EXPECT_EQ(MsiViewModify(view, MSIMODIFY_INSERT_TEMPORARY, rec), 0u);
    EXPECT_EQ(MsiViewModify(view, MSIMODIFY_INSERT_TEMPORARY, rec), (UINT)ERROR_FUNCTION_FAILED);
    MsiCloseHandle(view);
    EXPECT_EQ(rows(db, u"SELECT `Property` FROM `Property`").size(), 4u);
    reopen();
    EXPECT_EQ(rows(db, u"SELECT * FROM `Property`"), (std::vector<std::string>{"A|one", "B|two"}));
}

TEST_F(MsiApi, SchemaChangesHoldFreeAndDrop) {
    EXPECT_EQ(run(db, u"CREATE TABLE `QuilletTempTable` (`Name` LONGCHAR, `FullPath` LONGCHAR, `NewName` LONGCHAR "
                      u"PRIMARY KEY `Name`) HOLD"), 0u);
    EXPECT_EQ(run(db, u"INSERT INTO `QuilletTempTable` (`Name`,`FullPath`) VALUES ('f1','C:\\x\\f1')"), 0u);
    EXPECT_EQ(rows(db, u"SELECT * FROM `QuilletTempTable` WHERE `Name`='f1'"), std::vector<std::string>{"f1|C:\\x\\f1|"});
    EXPECT_EQ(run(db, u"ALTER TABLE `Property` ADD `Extra` SHORT"), 0u);
    EXPECT_EQ(run(db, u"UPDATE `Property` SET `Extra` = 5 WHERE `Property` = 'A'"), 0u);
    EXPECT_EQ(run(db, u"ALTER TABLE `Property` ADD `Scratch` CHAR(10) TEMPORARY"), 0u);
    EXPECT_EQ(run(db, u"CREATE TABLE `Tmp` (`K` SHORT TEMPORARY PRIMARY KEY `K`) HOLD"), 0u);
    EXPECT_EQ(MsiDatabaseIsTablePersistentW(db, u"Tmp"), MSICONDITION_FALSE);
    EXPECT_EQ(MsiDatabaseIsTablePersistentW(db, u"Property"), MSICONDITION_TRUE);
    EXPECT_EQ(run(db, u"ALTER TABLE `Tmp` FREE"), 0u);
    EXPECT_EQ(MsiDatabaseIsTablePersistentW(db, u"Tmp"), MSICONDITION_ERROR);
    EXPECT_EQ(run(db, u"DROP TABLE `QuilletTempTable`"), 0u);
    EXPECT_EQ(run(db, u"CREATE TABLE `_Validation` (`Table` CHAR(32) NOT NULL, `Column` CHAR(32) NOT NULL "
                      u"PRIMARY KEY `Table`, `Column`)"), 0u);
    reopen();
    EXPECT_EQ(rows(db, u"SELECT * FROM `Property`"), (std::vector<std::string>{"A|one|5", "B|two|"}));
    MSIHANDLE view;
    EXPECT_EQ(MsiDatabaseOpenViewW(db, u"SELECT * FROM `QuilletTempTable`", &view), (UINT)ERROR_BAD_QUERY_SYNTAX);
    MSIHANDLE keys;
    ASSERT_EQ(MsiDatabaseGetPrimaryKeysW(db, u"Media", &keys), 0u);
    EXPECT_EQ(MsiRecordGetFieldCount(keys), 1u);
    EXPECT_EQ(field(keys, 0), u"Media");
    EXPECT_EQ(field(keys, 1), u"DiskId");
    EXPECT_EQ(MsiDatabaseGetPrimaryKeysW(db, u"Nope", &keys), (UINT)ERROR_INVALID_TABLE);
}

TEST_F(MsiApi, ColumnInfoNamesAndTypes) {
    MSIHANDLE view, info;
    ASSERT_EQ(MsiDatabaseOpenViewW(db, u"SELECT * FROM `Media`", &view), 0u);
    ASSERT_EQ(MsiViewGetColumnInfo(view, MSICOLINFO_NAMES, &info), 0u);
    EXPECT_EQ(field(info, 1), u"DiskId");
    EXPECT_EQ(field(info, 6), u"Source");
    ASSERT_EQ(MsiViewGetColumnInfo(view, MSICOLINFO_TYPES, &info), 0u);
    EXPECT_EQ(field(info, 1), u"i2");
    EXPECT_EQ(field(info, 3), u"L64");
    EXPECT_EQ(field(info, 4), u"S255");
}

TEST_F(MsiApi, StreamsTableAndBinaryColumns) {
    std::string big(3 * 1024 * 1024 + 17, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = char(i * 7 + (i >> 9));
    writeFile(dir.file("big.bin"), big);
    writeFile(dir.file("small.bin"), "small stream");
    EXPECT_EQ(run(db, u"CREATE TABLE `Binary` (`Name` CHAR(72) NOT NULL, `Data` OBJECT NOT NULL PRIMARY KEY `Name`)"), 0u);
    MSIHANDLE rec = MsiCreateRecord(2);
    MsiRecordSetStringW(rec, 1, u"blob1");
    ASSERT_EQ(MsiRecordSetStreamW(rec, 2, w(dir.file("small.bin")).c_str()), 0u);
    EXPECT_EQ(run(db, u"INSERT INTO `Binary` (`Name`, `Data`) VALUES (?, ?)", rec), 0u);
    MSIHANDLE view;
    ASSERT_EQ(MsiDatabaseOpenViewW(db, u"SELECT * FROM `_Streams`", &view), 0u);
    ASSERT_EQ(MsiViewExecute(view, 0), 0u);
    MSIHANDLE cab = MsiCreateRecord(2);
    MsiRecordSetStringW(cab, 1, u"QuilletCab");
    ASSERT_EQ(MsiRecordSetStreamW(cab, 2, w(dir.file("big.bin")).c_str()), 0u);
    EXPECT_EQ(MsiViewModify(view, MSIMODIFY_INSERT, cab), 0u);
    EXPECT_EQ(MsiViewModify(view, MSIMODIFY_INSERT, cab), (UINT)ERROR_FUNCTION_FAILED);
    MsiCloseHandle(view);
    reopen();

    auto names = rows(db, u"SELECT `Name` FROM `_Streams`");
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Binary.blob1", "QuilletCab"}));
    ASSERT_EQ(MsiDatabaseOpenViewW(db, u"SELECT * FROM `_Streams` WHERE `Name`='QuilletCab'", &view), 0u);
    ASSERT_EQ(MsiViewExecute(view, 0), 0u);
    MSIHANDLE row;
    ASSERT_EQ(MsiViewFetch(view, &row), 0u);
    EXPECT_EQ(MsiRecordDataSize(row, 2), big.size());
    std::string back;
    char buf[1024];
    DWORD cb;
    do {
        cb = sizeof buf;
        ASSERT_EQ(MsiRecordReadStream(row, 2, buf, &cb), 0u);
        back.append(buf, cb);
    } while (cb == sizeof buf);
    EXPECT_EQ(back, big);
    // No path: the stream starts over, as Windows documents.
    EXPECT_EQ(MsiRecordSetStreamW(row, 2, nullptr), 0u);
    cb = 4;
    ASSERT_EQ(MsiRecordReadStream(row, 2, buf, &cb), 0u);
    EXPECT_EQ(std::string(buf, cb), big.substr(0, 4));
    EXPECT_EQ(MsiViewModify(view, MSIMODIFY_UPDATE, row), 0u);
    // Deleting a fetched _Streams row removes the stream, as on Windows (Wine 8 fails).
    EXPECT_EQ(MsiViewModify(view, MSIMODIFY_DELETE, row), 0u);
    MsiCloseHandle(view);
    EXPECT_EQ(rows(db, u"SELECT `Name` FROM `_Streams`"), (std::vector<std::string>{"Binary.blob1"}));
    EXPECT_EQ(run(db, u"DELETE FROM `Binary` WHERE `Name` = 'blob1'"), 0u);
    EXPECT_EQ(rows(db, u"SELECT `Name` FROM `_Streams`"), std::vector<std::string>{});
    reopen();
    EXPECT_EQ(rows(db, u"SELECT `Name` FROM `_Streams`"), std::vector<std::string>{});
}

// Large stream files are read when the commit copies them, not when the
// field is set: the bytes set are what is stored even if the file's name is
// gone by then, and a file cut short in between fails the commit instead of
// storing less.
TEST_F(MsiApi, LargeStreamFilesAreCopiedAtCommit) {
    std::string big(2 * 1024 * 1024 + 5, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = char(i * 13 + (i >> 11));
    for (const bool cutShort : {false, true}) {
        writeFile(dir.file("cab.bin"), big);
        MSIHANDLE view = 0;
        ASSERT_EQ(MsiDatabaseOpenViewW(db, u"SELECT * FROM `_Streams`", &view), 0u);
        ASSERT_EQ(MsiViewExecute(view, 0), 0u);
        MSIHANDLE rec = MsiCreateRecord(2);
        MsiRecordSetStringW(rec, 1, cutShort ? u"Cut" : u"Whole");
        ASSERT_EQ(MsiRecordSetStreamW(rec, 2, w(dir.file("cab.bin")).c_str()), 0u);
        EXPECT_EQ(MsiRecordDataSize(rec, 2), big.size());
        EXPECT_EQ(MsiViewModify(view, MSIMODIFY_INSERT, rec), 0u);
        MsiCloseHandle(rec);
        MsiCloseHandle(view);
        if (cutShort) {
            ASSERT_EQ(::truncate(dir.file("cab.bin").c_str(), 1000), 0);
            EXPECT_NE(MsiDatabaseCommit(db), 0u);
        } else {
            ASSERT_EQ(::unlink(dir.file("cab.bin").c_str()), 0);
            reopen();
            MSIHANDLE row = 0;
            ASSERT_EQ(MsiDatabaseOpenViewW(db, u"SELECT `Data` FROM `_Streams` WHERE `Name`='Whole'", &view), 0u);
            ASSERT_EQ(MsiViewExecute(view, 0), 0u);
            ASSERT_EQ(MsiViewFetch(view, &row), 0u);
            std::string back(big.size() + 1, '\0');
            DWORD cb = DWORD(back.size());
            ASSERT_EQ(MsiRecordReadStream(row, 1, back.data(), &cb), 0u);
            back.resize(cb);
            EXPECT_TRUE(back == big);
            MsiCloseHandle(row);
            MsiCloseHandle(view);
        }
    }
}

TEST_F(MsiApi, RecordsFollowTheDocumentedRules) {
    MSIHANDLE rec = MsiCreateRecord(3);
    EXPECT_EQ(MsiRecordGetFieldCount(rec), 3u);
    EXPECT_TRUE(MsiRecordIsNull(rec, 1));
    EXPECT_EQ(MsiRecordGetInteger(rec, 1), (int)MSI_NULL_INTEGER);
    EXPECT_EQ(MsiRecordSetInteger(rec, 4, 1), (UINT)ERROR_INVALID_PARAMETER);
    EXPECT_EQ(MsiRecordSetInteger(rec, 1, -5), 0u);
    EXPECT_EQ(MsiRecordDataSize(rec, 1), 4u);
    EXPECT_EQ(field(rec, 1), u"-5");
    EXPECT_EQ(MsiRecordSetInteger(rec, 1, (int)MSI_NULL_INTEGER), 0u);
    EXPECT_TRUE(MsiRecordIsNull(rec, 1));
    MsiRecordSetStringW(rec, 2, u"123");
    EXPECT_EQ(MsiRecordGetInteger(rec, 2), 123);
    MsiRecordSetStringW(rec, 2, u"5apple");
    EXPECT_EQ(MsiRecordGetInteger(rec, 2), (int)MSI_NULL_INTEGER);
    MsiRecordSetStringW(rec, 2, u"hello");
    char16_t buf[8];
    DWORD cch = 3;
    EXPECT_EQ(MsiRecordGetStringW(rec, 2, buf, &cch), (UINT)ERROR_MORE_DATA);
    EXPECT_EQ(cch, 5u);
    EXPECT_EQ(std::u16string(buf), u"he");
    cch = 0;
    EXPECT_EQ(MsiRecordGetStringW(rec, 2, nullptr, &cch), 0u);
    EXPECT_EQ(cch, 5u);
    cch = 8;
    EXPECT_EQ(MsiRecordGetStringW(rec, 9, buf, &cch), 0u);
    EXPECT_EQ(cch, 0u);
    char narrow[4];
    cch = 4;
    MsiRecordSetStringA(rec, 3, "abcdef");
    EXPECT_EQ(MsiRecordGetStringA(rec, 3, narrow, &cch), (UINT)ERROR_MORE_DATA);
    EXPECT_EQ(std::string(narrow), "abc");
    EXPECT_EQ(MsiRecordSetStreamW(rec, 0, u"/x"), (UINT)ERROR_INVALID_PARAMETER);
    EXPECT_EQ(MsiRecordSetStreamW(rec, 1, nullptr), (UINT)ERROR_INVALID_FIELD);
    DWORD cb = 4;
    EXPECT_EQ(MsiRecordReadStream(rec, 3, narrow, &cb), (UINT)ERROR_INVALID_DATATYPE);
    EXPECT_EQ(MsiRecordReadStream(rec, 1, narrow, &cb), (UINT)ERROR_INVALID_DATA);
    EXPECT_EQ(MsiRecordClearData(rec), 0u);
    EXPECT_TRUE(MsiRecordIsNull(rec, 3));
    EXPECT_EQ(MsiCloseHandle(rec), 0u);
    EXPECT_EQ(MsiCloseHandle(rec), (UINT)ERROR_INVALID_HANDLE);
    EXPECT_EQ(MsiRecordGetFieldCount(rec), (UINT)-1);
}

TEST_F(MsiApi, SummaryInformationReadWriteAndPersist) {
    MSIHANDLE si;
    ASSERT_EQ(MsiGetSummaryInformationW(db, nullptr, 5, &si), 0u);
    FILETIME ft{0x12345678, 0x01D90000};
    EXPECT_EQ(MsiSummaryInfoSetPropertyW(si, PID_REVNUMBER, VT_LPSTR, 0, nullptr, u"{11111111-2222-3333-4444-555555555555}"), 0u);
    EXPECT_EQ(MsiSummaryInfoSetPropertyW(si, PID_CODEPAGE, VT_I2, 1252, nullptr, nullptr), 0u);
    EXPECT_EQ(MsiSummaryInfoSetPropertyW(si, PID_PAGECOUNT, VT_I4, 200, nullptr, nullptr), 0u);
    EXPECT_EQ(MsiSummaryInfoSetPropertyW(si, PID_CREATE_DTM, VT_FILETIME, 0, &ft, nullptr), 0u);
    EXPECT_EQ(MsiSummaryInfoSetPropertyW(si, PID_PAGECOUNT, VT_LPSTR, 0, nullptr, u"x"), (UINT)ERROR_DATATYPE_MISMATCH);
    EXPECT_EQ(MsiSummaryInfoSetPropertyW(si, 40, VT_I4, 0, nullptr, nullptr), (UINT)ERROR_UNKNOWN_PROPERTY);
    EXPECT_EQ(MsiSummaryInfoPersist(si), 0u);
    MsiCloseHandle(si);
    reopen();
    ASSERT_EQ(MsiGetSummaryInformationW(db, nullptr, 0, &si), 0u);
    UINT type;
    INT value;
    char16_t buf[50];
    DWORD cch = 50;
    EXPECT_EQ(MsiSummaryInfoGetPropertyW(si, PID_REVNUMBER, &type, nullptr, nullptr, buf, &cch), 0u);
    EXPECT_EQ(type, (UINT)VT_LPSTR);
    EXPECT_EQ(std::u16string(buf), u"{11111111-2222-3333-4444-555555555555}");
    cch = 10;
    EXPECT_EQ(MsiSummaryInfoGetPropertyW(si, PID_REVNUMBER, &type, nullptr, nullptr, buf, &cch), (UINT)ERROR_MORE_DATA);
    EXPECT_EQ(cch, 38u);
    EXPECT_EQ(MsiSummaryInfoGetPropertyW(si, PID_PAGECOUNT, &type, &value, nullptr, nullptr, nullptr), 0u);
    EXPECT_EQ(value, 200);
    FILETIME back{};
    EXPECT_EQ(MsiSummaryInfoGetPropertyW(si, PID_CREATE_DTM, &type, nullptr, &back, nullptr, nullptr), 0u);
    EXPECT_EQ(back.dwHighDateTime, ft.dwHighDateTime);
    EXPECT_EQ(MsiSummaryInfoGetPropertyW(si, PID_TITLE, &type, nullptr, nullptr, nullptr, nullptr), 0u);
    EXPECT_EQ(type, (UINT)VT_EMPTY);
    EXPECT_EQ(MsiSummaryInfoSetPropertyW(si, PID_TITLE, VT_LPSTR, 0, nullptr, u"x"), (UINT)ERROR_FUNCTION_FAILED);
}

TEST_F(MsiApi, OpenModesAndTheirErrors) {
    reopen(MSIDBOPEN_READONLY);
    EXPECT_EQ(MsiGetDatabaseState(db), MSIDBSTATE_READ);
    EXPECT_EQ(run(db, u"INSERT INTO `Property` (`Property`, `Value`) VALUES ('R', 'o')"), (UINT)ERROR_ACCESS_DENIED);
    MsiCloseHandle(db);
    MSIHANDLE h = 0;
    EXPECT_EQ(MsiOpenDatabaseW(w(dir.file("missing.msi")).c_str(), MSIDBOPEN_READONLY, &h), (UINT)ERROR_OPEN_FAILED);
    writeFile(dir.file("text.msi"), "this is not a package at all, just text");
    EXPECT_EQ(MsiOpenDatabaseW(w(dir.file("text.msi")).c_str(), MSIDBOPEN_READONLY, &h), (UINT)ERROR_INSTALL_PACKAGE_INVALID);
    EXPECT_EQ(MsiOpenDatabaseW(w(path).c_str(), (LPCWSTR)7, &h), (UINT)ERROR_INVALID_PARAMETER);
    EXPECT_EQ(MsiOpenDatabaseW(w(path).c_str(), MSIDBOPEN_READONLY + MSIDBOPEN_PATCHFILE, &h), (UINT)ERROR_OPEN_FAILED);
    // An output path as persist mode: changes land in the copy only.
    std::u16string copy = w(dir.file("copy.msi"));
    ASSERT_EQ(MsiOpenDatabaseW(w(path).c_str(), copy.c_str(), &h), 0u);
    EXPECT_EQ(run(h, u"DELETE FROM `Property`"), 0u);
    EXPECT_EQ(MsiDatabaseCommit(h), 0u);
    MsiCloseHandle(h);
    db = open(path, MSIDBOPEN_READONLY);
    EXPECT_EQ(rows(db, u"SELECT `Property` FROM `Property`").size(), 2u);
    MSIHANDLE c = open(n(copy), MSIDBOPEN_READONLY);
    EXPECT_EQ(rows(c, u"SELECT `Property` FROM `Property`").size(), 0u);
    // A created database that is never committed leaves no file.
    MSIHANDLE created = open(dir.file("never.msi"), MSIDBOPEN_CREATE);
    ASSERT_NE(created, 0u);
    MsiCloseHandle(created);
    EXPECT_FALSE(std::filesystem::exists(dir.file("never.msi")));
}

TEST_F(MsiApi, TransactedChangesVanishWithoutCommit) {
    reopen(MSIDBOPEN_TRANSACT);
    EXPECT_EQ(run(db, u"DELETE FROM `Property`"), 0u);
    MsiCloseHandle(db);
    db = open(path, MSIDBOPEN_READONLY);
    EXPECT_EQ(rows(db, u"SELECT `Property` FROM `Property`").size(), 2u);
}

TEST_F(MsiApi, HandlesBelongToTheirThread) {
    MSIHANDLE mine = MsiCreateRecord(1);
    unsigned closedThere = 0;
    MSIHANDLE theirs = 0;
    std::thread([&] {
        theirs = MsiCreateRecord(1);
        MsiCreateRecord(1);
        closedThere = MsiCloseAllHandles();
    }).join();
    EXPECT_EQ(closedThere, 2u);
    EXPECT_EQ(MsiRecordGetFieldCount(theirs), (UINT)-1);
    EXPECT_EQ(MsiRecordGetFieldCount(mine), 1u);
}

TEST_F(MsiApi, ExportAndImportInArchiveForm) {
    ASSERT_EQ(MsiDatabaseExportW(db, u"Media", w(dir.path()).c_str(), u"Media.idt"), 0u);
    EXPECT_EQ(readFile(dir.file("Media.idt")),
              "DiskId\tLastSequence\tDiskPrompt\tCabinet\tVolumeLabel\tSource\r\n"
              "i2\ti2\tL64\tS255\tS32\tS72\r\nMedia\tDiskId\r\n1\t10\t\t#a.cab\t\t\r\n2\t30\t\t#b.cab\t\t\r\n");
    ASSERT_EQ(MsiDatabaseExportW(db, u"_ForceCodepage", w(dir.path()).c_str(), u"cp.idt"), 0u);
    EXPECT_EQ(readFile(dir.file("cp.idt")), "\r\n\r\n0\t_ForceCodepage\r\n");
    MSIHANDLE other = open(dir.file("other.msi"), MSIDBOPEN_CREATE);
    writeFile(dir.file("cp.idt"), "\r\n\r\n1252\t_ForceCodepage\r\n");
    ASSERT_EQ(MsiDatabaseImportW(other, w(dir.path()).c_str(), u"cp.idt"), 0u);
    ASSERT_EQ(MsiDatabaseImportW(other, w(dir.path()).c_str(), u"Media.idt"), 0u);
    EXPECT_EQ(rows(other, u"SELECT `Cabinet` FROM `Media` ORDER BY `DiskId`"), (std::vector<std::string>{"#a.cab", "#b.cab"}));
    const std::string summary = "PropertyId\tValue\r\ni2\tl255\r\n_SummaryInformation\tPropertyId\r\n"
                                "1\t1252\r\n2\tInstallation Database\r\n9\t{12345678-1234-1234-1234-123456789ABC}\r\n"
                                "12\t2024/03/15 13:45:30\r\n14\t200\r\n";
    writeFile(dir.file("si.idt"), summary);
    ASSERT_EQ(MsiDatabaseImportW(other, w(dir.path()).c_str(), u"si.idt"), 0u);
    ASSERT_EQ(MsiDatabaseExportW(other, u"_SummaryInformation", w(dir.path()).c_str(), u"si2.idt"), 0u);
    EXPECT_EQ(readFile(dir.file("si2.idt")), summary);
    ASSERT_EQ(MsiDatabaseExportW(other, u"_ForceCodepage", w(dir.path()).c_str(), u"cp2.idt"), 0u);
    EXPECT_EQ(readFile(dir.file("cp2.idt")), "\r\n\r\n1252\t_ForceCodepage\r\n");
}

// OBJECT cells name files beside the idt file (<folder>\\<Table>\\<cell>):
// one that names a folder, a missing file or no possible file name fails
// the import, without an exception escaping; a non-ASCII name is found.
TEST_F(MsiApi, ImportReadsObjectFilesOnlyWhenTheyAreFiles) {
    std::filesystem::create_directories(dir.file("Bin/folder"));
    writeFile(dir.file("Bin/caf\xC3\xA9.bin"), "data");
    const std::string head = "Name\tData\r\ns72\tv0\r\nBin\tName\r\n";
    for (const std::string& cell : {std::string("folder"), std::string("missing"), std::string("a\0b", 3)}) {
        writeFile(dir.file("bin.idt"), head + "x\t" + cell + "\r\n");
        EXPECT_EQ(MsiDatabaseImportW(db, w(dir.path()).c_str(), u"bin.idt"), (UINT)ERROR_FUNCTION_FAILED)
            << cell;
    }
    writeFile(dir.file("bin.idt"), head + "x\tcaf\xC3\xA9.bin\r\n");
    EXPECT_EQ(MsiDatabaseImportW(db, w(dir.path()).c_str(), u"bin.idt"), 0u);
}

TEST_F(MsiApi, NamedCodepagesAreReadAndWrittenInThem) {
    writeFile(dir.file("cp.idt"), "\r\n\r\n1251\t_ForceCodepage\r\n");
    ASSERT_EQ(MsiDatabaseImportW(db, w(dir.path()).c_str(), u"cp.idt"), 0u);
    EXPECT_EQ(run(db, u"INSERT INTO `Property` (`Property`, `Value`) VALUES ('Cyr', '\u041f\u0440\u0438\u0432\u0435\u0442')"), 0u);
    reopen();
    MSIHANDLE view, rec;
    ASSERT_EQ(MsiDatabaseOpenViewW(db, u"SELECT `Value` FROM `Property` WHERE `Property` = 'Cyr'", &view), 0u);
    ASSERT_EQ(MsiViewExecute(view, 0), 0u);
    ASSERT_EQ(MsiViewFetch(view, &rec), 0u);
    EXPECT_EQ(field(rec, 1), u"\u041f\u0440\u0438\u0432\u0435\u0442");
    // Code pages without a table are refused rather than guessed.
    writeFile(dir.file("cp.idt"), "\r\n\r\n932\t_ForceCodepage\r\n");
    EXPECT_EQ(MsiDatabaseImportW(db, w(dir.path()).c_str(), u"cp.idt"), (UINT)ERROR_FUNCTION_FAILED);
}

TEST_F(MsiApi, TextWithoutAFormInTheCodepageIsRefusedAtCommit) {
    ASSERT_EQ(MsiDatabaseCommit(db), 0u);
    std::string before = readFile(path);
    EXPECT_EQ(run(db, u"INSERT INTO `Property` (`Property`, `Value`) VALUES ('Greek', '\u03a9')"), 0u);
    EXPECT_EQ(MsiDatabaseCommit(db), (UINT)ERROR_FUNCTION_FAILED);
    EXPECT_EQ(readFile(path), before);
}

}  // namespace
