// The SQL dialect of Windows Installer as a syntax tree, and its parser.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace winsys::msi::sql {

struct ColumnRef {
    std::u16string table;  // empty when not qualified
    std::u16string column;
};

struct Operand {
    enum class Kind { Column, Integer, String, Parameter, Null } kind = Kind::Null;
    ColumnRef column;
    int32_t integer = 0;
    std::u16string text;
    unsigned parameter = 0;  // 1-based field of the execute record
};

enum class CompareOp { Equal, NotEqual, Less, Greater, LessEqual, GreaterEqual };

struct Expr {
    enum class Kind { And, Or, Compare, IsNull, IsNotNull } kind = Kind::Compare;
    std::unique_ptr<Expr> left, right;
    CompareOp op = CompareOp::Equal;
    Operand a, b;
};

struct Select {
    bool distinct = false;
    std::vector<ColumnRef> columns;  // empty: *
    std::vector<std::u16string> tables;
    std::unique_ptr<Expr> where;
    std::vector<ColumnRef> orderBy;
};

struct Insert {
    std::u16string table;
    std::vector<std::u16string> columns;
    std::vector<Operand> values;
    bool temporary = false;
};

struct Update {
    std::u16string table;
    std::vector<std::pair<std::u16string, Operand>> assignments;
    std::unique_ptr<Expr> where;
};

struct Delete {
    std::u16string table;
    std::unique_ptr<Expr> where;
};

struct ColumnDef {
    std::u16string name;
    uint16_t type = 0;  // column type word, key bit added from PRIMARY KEY
};

struct CreateTable {
    std::u16string table;
    std::vector<ColumnDef> columns;
    std::vector<std::u16string> keys;
    bool hold = false;
};

struct DropTable {
    std::u16string table;
};

struct AlterTable {
    enum class Action { Add, Hold, Free } action = Action::Hold;
    std::u16string table;
    ColumnDef column;
    bool hold = false;
};

using Statement = std::variant<Select, Insert, Update, Delete, CreateTable, DropTable, AlterTable>;

// nullptr on a syntax error (ERROR_BAD_QUERY_SYNTAX for callers).
std::unique_ptr<Statement> parse(std::u16string_view text, unsigned* parameterCount);

}  // namespace winsys::msi::sql
