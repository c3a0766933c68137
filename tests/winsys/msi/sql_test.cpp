// The SQL dialect: what parses, what is refused, how values and parameters
// are read.
#include <gtest/gtest.h>

#include "msi/column_type.h"
#include "msi/sql.h"

using namespace winsys::msi;
using namespace winsys::msi::sql;

namespace {

TEST(SqlParser, AcceptsTheDialect) {
    const char16_t* good[] = {
        u"SELECT * FROM `Property` WHERE `Property`='QuilletCabCache'",
        u"SELECT `ComponentId`,`Component` FROM `Component`",
        u"SELECT `LastSequence` FROM `Media` WHERE `DiskId`=5",
        u"SELECT * FROM `File` WHERE `Component_` = 'c'",
        u"select distinct a, T.b from T, U where (a = 1 or b <> 'x') and c is not null and d >= -3 order by a, b",
        u"SELECT * FROM T WHERE a<2 AND b>3 AND c<=? AND d IS NULL",
        u"INSERT INTO `T` (`Name`,`FullPath`) VALUES ('a','b')",
        u"INSERT INTO T (a, b, c) VALUES (?, -7, NULL) TEMPORARY",
        u"UPDATE T SET a = 1, b = 'x' WHERE c = ?",
        u"DELETE FROM T",
        u"CREATE TABLE `Q` (`Name` LONGCHAR, `FullPath` LONGCHAR, `NewName` LONGCHAR PRIMARY KEY `Name`) HOLD",
        u"DROP TABLE `Q`",
        u"ALTER TABLE Q ADD `x` SHORT TEMPORARY HOLD",
        u"ALTER TABLE Q FREE",
        u"ALTER TABLE Q HOLD",
    };
    for (auto* q : good) EXPECT_NE(parse(q, nullptr), nullptr) << std::string(q, q + std::char_traits<char16_t>::length(q));
}

TEST(SqlParser, RefusesWhatWindowsInstallerRefuses) {
    const char16_t* bad[] = {
        u"",
        u"SELECT",
        u"SELECT * FROM",
        u"SELECT * FROM T;",
        u"SELECT * FROM T WHERE a = 'it''s'",
        u"SELECT * FROM T WHERE a = \"x\"",
        u"SELECT * FROM T WHERE NOT a = 1",
        u"SELECT * FROM T WHERE a LIKE 'x'",
        u"SELECT 1 FROM T",
        u"SELECT * FROM T WHERE a = 'unterminated",
        u"INSERT INTO T (a, b) VALUES (1)",
        u"INSERT INTO T (a) VALUES (1), (2)",
        u"CREATE TABLE T (a CHAR(72))",
        u"CREATE TABLE T (a CHAR(300) PRIMARY KEY a)",
        u"CREATE TABLE T (a BLOB PRIMARY KEY a)",
        u"UPDATE T SET a = 1 WHERE",
        u"SELECT * FROM T WHERE a = 99999999999",
        u"SELECT * FROM Select",
        u"DROP T",
    };
    for (auto* q : bad) EXPECT_EQ(parse(q, nullptr), nullptr) << std::string(q, q + std::char_traits<char16_t>::length(q));
}

TEST(SqlParser, DeepNestingIsRefusedNotRecursedInto) {
    std::u16string q = u"SELECT * FROM T WHERE " + std::u16string(100000, u'(') + u"a = 1";
    EXPECT_EQ(parse(q, nullptr), nullptr);
    EXPECT_NE(parse(u"SELECT * FROM T WHERE ((((a = 1))))", nullptr), nullptr);
}

TEST(SqlParser, ColumnTypesOfCreateTable) {
    auto s = parse(u"CREATE TABLE T (k CHAR(72) NOT NULL, l CHAR(10) LOCALIZABLE, s SHORT, i INT NOT NULL, "
                   u"g LONG, o OBJECT, t LONGCHAR TEMPORARY PRIMARY KEY k)", nullptr);
    ASSERT_NE(s, nullptr);
    auto& c = std::get<CreateTable>(*s);
    ASSERT_EQ(c.columns.size(), 7u);
    EXPECT_EQ(c.columns[0].type, 0x0D48);
    EXPECT_EQ(c.columns[1].type, 0x1F0A);
    EXPECT_EQ(c.columns[2].type, 0x1502);
    EXPECT_EQ(c.columns[3].type, 0x0502);
    EXPECT_EQ(c.columns[4].type, 0x1104);
    EXPECT_EQ(c.columns[5].type, 0x1900);
    EXPECT_EQ(c.columns[6].type, 0x5D00);
    EXPECT_EQ(c.keys, std::vector<std::u16string>{u"k"});
}

TEST(SqlParser, ParametersNumberInOrderAndPrecedence) {
    unsigned count = 0;
    auto s = parse(u"UPDATE T SET a = ?, b = ? WHERE c = ? OR d = 1 AND e = ?", &count);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(count, 4u);
    auto& u = std::get<Update>(*s);
    EXPECT_EQ(u.assignments[1].second.parameter, 2u);
    ASSERT_EQ(u.where->kind, Expr::Kind::Or);  // AND binds tighter
    EXPECT_EQ(u.where->right->kind, Expr::Kind::And);
    EXPECT_EQ(u.where->right->right->b.parameter, 4u);
}

}  // namespace
