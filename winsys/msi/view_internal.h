// What the operators of a view share: the tables a statement reads (user or
// virtual), the compiled WHERE clause, and the conversions between record
// fields and stored cells. Only the view_*.cpp files include this.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "database.h"
#include "record.h"
#include "sql.h"
#include "view.h"

namespace winsys::msi {

enum class SourceKind { User, Tables, Columns, Streams, Storages };

struct View::Source {
    std::u16string name;
    SourceKind kind = SourceKind::User;
    Table* table = nullptr;
    // A virtual table's rows, made for the statement; user tables need none
    // (and a statement on one then allocates nothing for it).
    struct Virtual {
        Table table;
        StringPool pool;
    };
    std::unique_ptr<Virtual> local;
};

namespace views {

using Source = View::Source;
using Selected = View::Selected;
using Sources = std::vector<std::unique_ptr<Source>>;
// One result row: the key of the matching row of each source.
using ResultRow = std::vector<Cells>;

constexpr int kDuplicateKey = 1;  // MSIDBERROR_DUPLICATEKEY
constexpr int kRequired = 2;      // MSIDBERROR_REQUIRED

// Fills a virtual table (_Tables, _Columns, _Streams, _Storages) from the
// database's current contents.
// withRows false gives the columns alone: enough to prepare a statement,
// which execution resolves again with the contents of that moment.
void buildVirtual(Source& s, Database& db, bool withRows);

// A value as WHERE compares it.
struct Value {
    enum class Kind { Null, Int, Str } kind = Kind::Null;
    int32_t integer = 0;
    std::u16string_view text;
};

// A WHERE clause with its columns resolved and the execute record bound.
struct Compiled {
    sql::Expr::Kind kind = sql::Expr::Kind::Compare;
    sql::CompareOp op = sql::CompareOp::Equal;
    std::unique_ptr<Compiled> left, right;
    Selected a;
    bool bIsColumn = false;
    Selected b;
    Value literal;
    std::u16string literalText;
};

// nullptr for an absent clause, which every row satisfies.
std::unique_ptr<Compiled> compileWhere(const sql::Expr* e, const Sources& sources,
                                       const std::vector<Field>& parameters);
bool evaluate(const Compiled* e, const Sources& sources, const std::vector<CellView>& rows);
// Keys of the matching rows of the first source, in key order.
std::vector<Cells> matchingKeys(const Sources& sources, const Compiled* where);

void orderResults(const Sources& sources, const std::vector<sql::ColumnRef>& orderBy,
                  std::vector<ResultRow>* results);
void keepDistinct(const Sources& sources, const std::vector<Selected>& selected,
                  std::vector<ResultRow>* results);

// Field <-> cell conversions.
bool parseInteger(std::u16string_view s, int32_t* out);
UINT fieldToCell(Table& t, size_t column, const Field& f, uint32_t* cell);
Field cellToField(Database& db, const Source& s, size_t column, CellView cells);
Field operandField(const sql::Operand& o, const std::vector<Field>& parameters);
bool missingRequired(const Table& t, CellView cells, std::u16string* column = nullptr);
// What INSERT and UPDATE do with their values: sets the selected columns of
// `cells` (values in selection order) and notes which field feeds each OBJECT
// column. A value of the wrong type, or a required column left null, fails
// the statement with ERROR_FUNCTION_FAILED.
UINT setStatementCells(const Source& src, const std::vector<Selected>& selected, const std::vector<Field>& values,
                       Cells* cells, std::vector<const Field*>* objects);

// OBJECT data: stream columns of user tables and the _Streams/_Storages rows.
std::shared_ptr<const cfb::ByteSource> emptyStream();
UINT writeObjects(Database& db, Table& t, const Cells& cells,
                  const std::vector<const Field*>& objects, const Cells* previous);
UINT storageFromField(Database& db, std::u16string_view name, const Field* f);

// Row changes through a source, whatever its kind.
UINT applyInsert(Database& db, Source& s, Cells cells, const std::vector<const Field*>& objects,
                 bool temporary);
UINT applyUpdate(Database& db, Source& s, const Cells& key, const Cells& cells,
                 const std::vector<const Field*>& objects);
UINT applyDelete(Database& db, Source& s, const Cells& key);

// ERROR_BAD_QUERY_SYNTAX when a CREATE TABLE cannot be made.
UINT checkCreate(const Database& db, const sql::CreateTable& s);

}  // namespace views
}  // namespace winsys::msi
