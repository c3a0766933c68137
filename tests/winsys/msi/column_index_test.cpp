// Queries that the column indexes answer must return exactly what reading
// every row returns, in the same order, while rows are inserted, updated
// (by SQL and through views), deleted, and columns are added.
#include <gtest/gtest.h>

#include <random>

#include "msi_test_util.h"

using namespace msitest;

namespace {

// The same clause with a term no row satisfies that the indexes cannot
// answer, so the engine has to read every row.
std::u16string scanned(const std::u16string& where) { return u"(" + where + u") OR `Size` < -5"; }

std::vector<std::string> select(MSIHANDLE db, const std::u16string& where, MSIHANDLE params = 0) {
    return rows(db, u"SELECT `Key`, `Name`, `Comp`, `Size`, `Attr` FROM `T` WHERE " + where, params);
}

TEST(ColumnIndexes, AgreeWithFullScansThroughEveryKindOfChange) {
    ScratchDir dir;
    MSIHANDLE db = open(dir.file("t.msi"), MSIDBOPEN_CREATE);
    ASSERT_NE(db, 0u);
    ASSERT_EQ(run(db, u"CREATE TABLE `T` (`Key` CHAR(72) NOT NULL, `Name` CHAR(72) NOT NULL, `Comp` CHAR(72), "
                      u"`Size` LONG NOT NULL, `Attr` SHORT PRIMARY KEY `Key`)"), 0u);
    std::mt19937 random(16);
    auto pick = [&](int n) { return int(random() % unsigned(n)); };
    auto name = [&] { return w("n" + std::to_string(pick(12))); };
    auto comp = [&] { return pick(5) == 0 ? std::u16string() : w("c" + std::to_string(pick(6))); };
    auto key = [&] { return w("k" + std::to_string(pick(60))); };
    bool widened = false;
    for (int step = 0; step < 600; ++step) {
        switch (pick(6)) {
        case 0:
        case 1: {
            MSIHANDLE rec = MsiCreateRecord(5);
            MsiRecordSetStringW(rec, 1, key().c_str());
            MsiRecordSetStringW(rec, 2, name().c_str());
            MsiRecordSetStringW(rec, 3, comp().c_str());
            MsiRecordSetInteger(rec, 4, pick(4));
            MsiRecordSetInteger(rec, 5, pick(3) == 0 ? MSI_NULL_INTEGER : pick(3));
            run(db, u"INSERT INTO `T` (`Key`, `Name`, `Comp`, `Size`, `Attr`) VALUES (?, ?, ?, ?, ?)", rec);
            MsiCloseHandle(rec);
            break;
        }
        case 2: {
            MSIHANDLE rec = MsiCreateRecord(2);
            MsiRecordSetStringW(rec, 1, name().c_str());
            MsiRecordSetStringW(rec, 2, comp().c_str());
            ASSERT_EQ(run(db, u"UPDATE `T` SET `Name` = ? WHERE `Comp` = ?", rec), 0u);
            MsiCloseHandle(rec);
            break;
        }
        case 3: {
            MSIHANDLE rec = MsiCreateRecord(1);
            MsiRecordSetStringW(rec, 1, name().c_str());
            ASSERT_EQ(run(db, u"DELETE FROM `T` WHERE `Name` = ?", rec), 0u);
            MsiCloseHandle(rec);
            break;
        }
        case 4: {  // rewrite and delete rows fetched through a view
            MSIHANDLE view = 0, rec = 0;
            ASSERT_EQ(MsiDatabaseOpenViewW(db, u"SELECT `Key`, `Comp`, `Attr` FROM `T` WHERE `Attr` = 1", &view), 0u);
            ASSERT_EQ(MsiViewExecute(view, 0), 0u);
            while (MsiViewFetch(view, &rec) == ERROR_SUCCESS) {
                if (pick(2)) {
                    MsiRecordSetStringW(rec, 2, comp().c_str());
                    MsiRecordSetInteger(rec, 3, pick(3));
                    EXPECT_EQ(MsiViewModify(view, MSIMODIFY_UPDATE, rec), 0u);
                } else {
                    EXPECT_EQ(MsiViewModify(view, MSIMODIFY_DELETE, rec), 0u);
                }
                MsiCloseHandle(rec);
            }
            MsiCloseHandle(view);
            break;
        }
        case 5:
            if (!widened && step > 300) {
                ASSERT_EQ(run(db, u"ALTER TABLE `T` ADD `Extra` CHAR(10) TEMPORARY"), 0u);
                widened = true;
            }
            break;
        }
        std::u16string a = name(), b = name(), c = comp();
        const std::u16string clauses[] = {
            u"`Name` = '" + a + u"' OR `Name` = '" + b + u"' OR `Name` = 'absent'",
            u"`Comp` = '" + c + u"'",
            u"`Comp` = '" + c + u"' AND `Size` = 2",
            u"`Comp` IS NULL OR `Attr` = 2",
            u"`Attr` = 1 AND `Name` = '" + a + u"'",
            u"`Size` = 3 OR `Key` = 'k7'",
            u"`Attr` = 70000 OR `Size` = '1'",
        };
        for (const auto& where : clauses) ASSERT_EQ(select(db, where), select(db, scanned(where))) << n(where);
        MSIHANDLE rec = MsiCreateRecord(2);
        MsiRecordSetStringW(rec, 1, c.c_str());
        MsiRecordSetStringW(rec, 2, u"2");  // a number as text matches an integer column
        ASSERT_EQ(select(db, u"`Comp` = ? OR `Size` = ?", rec), select(db, scanned(u"`Comp` = ? OR `Size` = ?"), rec));
        MsiCloseHandle(rec);
    }
    EXPECT_TRUE(widened);
    MsiCloseHandle(db);
}

}  // namespace
