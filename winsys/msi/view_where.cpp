// WHERE: a clause compiled against the statement's tables with the execute
// record bound, evaluated row by row, and the choice of rows to evaluate (by
// the key when every key column is pinned, through a column index when the
// clause allows, else every row).
#include <algorithm>
#include <optional>
#include <set>

#include "column_type.h"
#include "view_internal.h"

namespace winsys::msi::views {
namespace {

Value cellValue(const Source& s, size_t column, CellView cells) {
    uint16_t type = s.table->columns[column].type;
    uint32_t cell = cells[column];
    Value v;
    if (isStringType(type)) {
        v.kind = Value::Kind::Str;
        v.text = s.table->pool->text(cell);
    } else if (cell != 0) {
        v.kind = Value::Kind::Int;
        v.integer = isBinaryType(type) ? int32_t(cell) : decodeInteger(type, cell);
    }
    return v;
}

bool compareValues(const Value& a, const Value& b, sql::CompareOp op) {
    if (a.kind == Value::Kind::Null || b.kind == Value::Kind::Null || a.kind != b.kind) return false;
    int c;
    if (a.kind == Value::Kind::Int) c = a.integer < b.integer ? -1 : a.integer > b.integer ? 1 : 0;
    else c = a.text.compare(b.text);
    switch (op) {
    case sql::CompareOp::Equal: return c == 0;
    case sql::CompareOp::NotEqual: return c != 0;
    case sql::CompareOp::Less: return c < 0;
    case sql::CompareOp::Greater: return c > 0;
    case sql::CompareOp::LessEqual: return c <= 0;
    case sql::CompareOp::GreaterEqual: return c >= 0;
    }
    return false;
}

}  // namespace

bool evaluate(const Compiled* e, const Sources& sources, const std::vector<CellView>& rows) {
    if (!e) return true;
    switch (e->kind) {
    case sql::Expr::Kind::And: return evaluate(e->left.get(), sources, rows) && evaluate(e->right.get(), sources, rows);
    case sql::Expr::Kind::Or: return evaluate(e->left.get(), sources, rows) || evaluate(e->right.get(), sources, rows);
    case sql::Expr::Kind::IsNull: return rows[e->a.source][e->a.column] == 0;
    case sql::Expr::Kind::IsNotNull: return rows[e->a.source][e->a.column] != 0;
    case sql::Expr::Kind::Compare: {
        Value a = cellValue(*sources[e->a.source], e->a.column, rows[e->a.source]);
        Value b = e->bIsColumn ? cellValue(*sources[e->b.source], e->b.column, rows[e->b.source]) : e->literal;
        return compareValues(a, b, e->op);
    }
    }
    return false;
}

namespace {

// Compiles a WHERE clause with the execute record's values bound.
std::unique_ptr<Compiled> compile(const sql::Expr* e, const Sources& sources,
                                  const std::vector<Field>& parameters) {
    if (!e) return nullptr;
    auto c = std::make_unique<Compiled>();
    c->kind = e->kind;
    c->op = e->op;
    if (e->kind == sql::Expr::Kind::And || e->kind == sql::Expr::Kind::Or) {
        c->left = compile(e->left.get(), sources, parameters);
        c->right = compile(e->right.get(), sources, parameters);
        return c;
    }
    auto find = [&](const sql::ColumnRef& ref) {
        for (size_t i = 0; i < sources.size(); ++i) {
            if (!ref.table.empty() && ref.table != sources[i]->name) continue;
            if (auto col = sources[i]->table->columnIndex(ref.column)) return Selected{i, *col};
        }
        return Selected{};
    };
    c->a = find(e->a.column);
    if (e->kind != sql::Expr::Kind::Compare) return c;
    if (e->b.kind == sql::Operand::Kind::Column) {
        c->bIsColumn = true;
        c->b = find(e->b.column);
        return c;
    }
    Field f = operandField(e->b, parameters);
    if (f.kind == Field::Kind::Integer) {
        c->literal.kind = Value::Kind::Int;
        c->literal.integer = f.integer;
        if (f.integer == INT32_MIN) c->literal.kind = Value::Kind::Null;
    } else if (f.kind == Field::Kind::String || (f.kind == Field::Kind::Null && e->b.kind != sql::Operand::Kind::Parameter)) {
        c->literalText = f.text;
        c->literal.kind = Value::Kind::Str;
    }
    // A string compared with an integer column: a number in text form counts.
    const Table& t = *sources[c->a.source]->table;
    if (c->literal.kind == Value::Kind::Str && isIntegerType(t.columns[c->a.column].type) &&
        e->b.kind == sql::Operand::Kind::Parameter) {
        int32_t v;
        if (parseInteger(c->literalText, &v)) {
            c->literal.kind = Value::Kind::Int;
            c->literal.integer = v;
        }
    }
    return c;
}

void fixLiteralPointers(Compiled* c) {
    if (!c) return;
    if (c->literal.kind == Value::Kind::Str) c->literal.text = c->literalText;
    fixLiteralPointers(c->left.get());
    fixLiteralPointers(c->right.get());
}

// Equalities on columns of the first table that the WHERE clause demands.
void collectEqualities(const Compiled* c, std::vector<const Compiled*>* out) {
    if (!c) return;
    if (c->kind == sql::Expr::Kind::And) {
        collectEqualities(c->left.get(), out);
        collectEqualities(c->right.get(), out);
    } else if (c->kind == sql::Expr::Kind::Compare && c->op == sql::CompareOp::Equal && !c->bIsColumn &&
               c->a.source == 0) {
        out->push_back(c);
    }
}

// The cell that a column must hold to equal a literal: Probe::Cell with the
// cell, Probe::None when no cell can equal it, Probe::Scan when the column's
// cells cannot be compared that way.
enum class Probe { Cell, None, Scan };

Probe cellFor(const Table& t, size_t column, const Value& v, uint32_t* cell) {
    uint16_t type = t.columns[column].type;
    if (isStringType(type)) {
        if (v.kind != Value::Kind::Str) return Probe::None;
        auto id = t.pool->find(v.text);
        if (!id) return Probe::None;
        *cell = *id;
        return Probe::Cell;
    }
    if (isIntegerType(type)) {
        if (v.kind != Value::Kind::Int) return Probe::None;
        if (!isLongType(type) && (v.integer < -32767 || v.integer > 32767)) return Probe::None;
        *cell = isLongType(type) ? encodeLong(v.integer) : encodeShort(v.integer);
        return Probe::Cell;
    }
    return Probe::Scan;
}

// Keys of the rows that can satisfy `c`, taken from the column indexes, in
// key order; nullopt when some part of the clause needs every row read.
std::optional<std::set<Cells>> candidates(Table& t, const Compiled* c) {
    if (!c) return std::nullopt;
    switch (c->kind) {
    case sql::Expr::Kind::Or: {
        auto left = candidates(t, c->left.get());
        if (!left) return std::nullopt;
        auto right = candidates(t, c->right.get());
        if (!right) return std::nullopt;
        left->insert(right->begin(), right->end());
        return left;
    }
    case sql::Expr::Kind::And: {
        auto left = candidates(t, c->left.get());
        if (left && left->size() <= 1) return left;
        auto right = candidates(t, c->right.get());
        if (!left || (right && right->size() < left->size())) return right;
        return left;
    }
    case sql::Expr::Kind::IsNull:
        if (c->a.source != 0) return std::nullopt;
        return t.indexes.lookup(t.rows, t.keyColumns, c->a.column, 0);
    case sql::Expr::Kind::Compare: {
        if (c->op != sql::CompareOp::Equal || c->bIsColumn || c->a.source != 0) return std::nullopt;
        uint32_t cell = 0;
        switch (cellFor(t, c->a.column, c->literal, &cell)) {
        case Probe::Cell: return t.indexes.lookup(t.rows, t.keyColumns, c->a.column, cell);
        case Probe::None: return std::set<Cells>();
        case Probe::Scan: return std::nullopt;
        }
        return std::nullopt;
    }
    case sql::Expr::Kind::IsNotNull: return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace

std::unique_ptr<Compiled> compileWhere(const sql::Expr* e, const Sources& sources, const std::vector<Field>& parameters) {
    auto c = compile(e, sources, parameters);
    fixLiteralPointers(c.get());
    return c;
}

// Keys of the rows of a single table that match: by the key when every key
// column is pinned by an equality, else through the column indexes when the
// clause allows, else by reading every row.
std::vector<Cells> matchingKeys(const Sources& sources, const Compiled* where) {
    Table& t = *sources[0]->table;
    std::vector<Cells> keys;
    std::vector<const Compiled*> equalities;
    collectEqualities(where, &equalities);
    Cells key;
    bool indexed = !equalities.empty();
    for (size_t k : t.keyColumns) {
        auto it = std::find_if(equalities.begin(), equalities.end(), [&](const Compiled* c) { return c->a.column == k; });
        if (it == equalities.end()) { indexed = false; break; }
        uint32_t cell = 0;
        Probe probe = cellFor(t, k, (*it)->literal, &cell);
        if (probe == Probe::None) return keys;
        if (probe == Probe::Scan) { indexed = false; break; }
        key.push_back(cell);
    }
    std::vector<CellView> rows(1);
    auto consider = [&](const Cells& k, CellView cells) {
        rows[0] = cells;
        if (evaluate(where, sources, rows)) keys.push_back(k);
    };
    if (indexed) {
        if (const Row* row = t.findRow(key)) consider(key, row->cells);
        return keys;
    }
    // Virtual tables are rebuilt for every execution: an index would not pay.
    if (sources[0]->kind == SourceKind::User) {
        if (auto found = candidates(t, where)) {
            for (const Cells& k : *found)
                if (const Row* row = t.findRow(k)) consider(k, row->cells);
            return keys;
        }
    }
    for (const Row& row : t.rows) {
        rows[0] = row.cells;
        if (evaluate(where, sources, rows)) keys.push_back(t.keyOf(row.cells));
    }
    return keys;
}

}  // namespace winsys::msi::views
