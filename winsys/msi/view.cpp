// Views: resolving a statement against the schema, selecting rows (by the
// key index when the WHERE clause pins every key column), and writing rows
// back through the database or the stream and storage tables.
#include "view.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <functional>
#include <optional>
#include <set>

#include "column_type.h"
#include "stream_name.h"

namespace winsys::msi {
namespace {

std::atomic<uint64_t> nextSerial{1};

enum class SourceKind { User, Tables, Columns, Streams, Storages };

constexpr int kDuplicateKey = 1;  // MSIDBERROR_DUPLICATEKEY

}  // namespace

struct View::Source {
    std::u16string name;
    SourceKind kind = SourceKind::User;
    Table* table = nullptr;
    Table local;
    StringPool localPool;
};

namespace {

using Source = View::Source;
using Selected = View::Selected;

void buildVirtual(Source& s, Database& db) {
    Table& t = s.local;
    t = Table();
    s.localPool = StringPool();
    t.name = s.name;
    t.pool = &s.localPool;
    auto add = [&](std::u16string_view name, uint16_t type) { t.columns.push_back({std::u16string(name), type}); };
    switch (s.kind) {
    case SourceKind::Tables:
        add(u"Name", 0x2D40);
        for (const auto& name : db.tableNames()) {
            Cells cells{s.localPool.intern(name)};
            t.rows.emplace(cells, Row{cells, false});
        }
        break;
    case SourceKind::Columns:
        add(u"Table", 0x2D40);
        add(u"Number", 0x2502);
        add(u"Name", 0x0D40);
        add(u"Type", 0x0502);
        for (const auto& name : db.tableNames()) {
            const Table* user = db.table(name);
            if (!user) continue;
            for (size_t i = 0; i < user->columns.size(); ++i) {
                Cells cells{s.localPool.intern(name), encodeShort(int(i + 1)),
                            s.localPool.intern(user->columns[i].name), encodeShort(int16_t(user->columns[i].type))};
                t.rows.emplace(Cells{cells[0], cells[1]}, Row{cells, false});
            }
        }
        break;
    case SourceKind::Streams:
    case SourceKind::Storages:
        add(u"Name", 0x2D3E);
        add(u"Data", 0x1900);
        for (const auto& name : s.kind == SourceKind::Streams ? db.streamNames() : db.storageNames()) {
            Cells cells{s.localPool.intern(name), 1};
            t.rows.emplace(Cells{cells[0]}, Row{cells, false});
        }
        break;
    case SourceKind::User: break;
    }
    for (size_t i = 0; i < t.columns.size(); ++i)
        if (isKeyType(t.columns[i].type)) t.keyColumns.push_back(i);
    s.table = &t;
}

// A value as WHERE compares it.
struct Value {
    enum class Kind { Null, Int, Str } kind = Kind::Null;
    int32_t integer = 0;
    const std::u16string* text = nullptr;
};

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

Value cellValue(const Source& s, size_t column, const Cells& cells) {
    static const std::u16string empty;
    uint16_t type = s.table->columns[column].type;
    uint32_t cell = cells[column];
    Value v;
    if (isStringType(type)) {
        v.kind = Value::Kind::Str;
        v.text = cell ? &s.table->pool->text(cell) : &empty;
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
    else c = a.text->compare(*b.text);
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

bool evaluate(const Compiled* e, const std::vector<std::unique_ptr<Source>>& sources,
              const std::vector<const Cells*>& rows) {
    if (!e) return true;
    switch (e->kind) {
    case sql::Expr::Kind::And: return evaluate(e->left.get(), sources, rows) && evaluate(e->right.get(), sources, rows);
    case sql::Expr::Kind::Or: return evaluate(e->left.get(), sources, rows) || evaluate(e->right.get(), sources, rows);
    case sql::Expr::Kind::IsNull: return (*rows[e->a.source])[e->a.column] == 0;
    case sql::Expr::Kind::IsNotNull: return (*rows[e->a.source])[e->a.column] != 0;
    case sql::Expr::Kind::Compare: {
        Value a = cellValue(*sources[e->a.source], e->a.column, *rows[e->a.source]);
        Value b = e->bIsColumn ? cellValue(*sources[e->b.source], e->b.column, *rows[e->b.source]) : e->literal;
        return compareValues(a, b, e->op);
    }
    }
    return false;
}

bool parseInteger(std::u16string_view s, int32_t* out) {
    if (s.empty()) return false;
    size_t i = 0;
    bool negative = false;
    if (s[0] == u'-') { negative = true; i = 1; }
    if (i >= s.size()) return false;
    int64_t v = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < u'0' || s[i] > u'9') return false;
        v = v * 10 + (s[i] - u'0');
        if (v > 0x80000000LL) return false;
    }
    if (negative) v = -v;
    if (v > 0x7FFFFFFF || v < -0x7FFFFFFFLL) return false;
    *out = int32_t(v);
    return true;
}

std::u16string numberText(int64_t v) {
    std::string s = std::to_string(v);
    return std::u16string(s.begin(), s.end());
}

// The cell for a field in a column of `t`.
UINT fieldToCell(Table& t, size_t column, const Field& f, uint32_t* cell) {
    uint16_t type = t.columns[column].type;
    *cell = 0;
    if (f.kind == Field::Kind::Null) return ERROR_SUCCESS;
    if (isBinaryType(type)) {
        if (f.kind != Field::Kind::Stream) return ERROR_DATATYPE_MISMATCH;
        *cell = 1;
        return ERROR_SUCCESS;
    }
    if (isStringType(type)) {
        if (f.kind == Field::Kind::Stream) return ERROR_DATATYPE_MISMATCH;
        *cell = f.kind == Field::Kind::Integer ? t.pool->intern(numberText(f.integer)) : t.pool->intern(f.text);
        return ERROR_SUCCESS;
    }
    int32_t v;
    if (f.kind == Field::Kind::Integer) v = f.integer;
    else if (f.kind == Field::Kind::String && parseInteger(f.text, &v)) {}
    else return ERROR_DATATYPE_MISMATCH;
    if (v == INT32_MIN) return ERROR_SUCCESS;
    if (isLongType(type)) *cell = encodeLong(v);
    else if (v < -32767 || v > 32767) return ERROR_FUNCTION_FAILED;
    else *cell = encodeShort(v);
    return ERROR_SUCCESS;
}

bool missingRequired(const Table& t, const Cells& cells, std::u16string* column = nullptr) {
    for (size_t c = 0; c < t.columns.size(); ++c)
        if (!isNullableType(t.columns[c].type) && cells[c] == 0) {
            if (column) *column = t.columns[c].name;
            return true;
        }
    return false;
}

std::shared_ptr<const cfb::ByteSource> emptyStream() { return cfb::bytesSource({}); }

// Writes a row's OBJECT data through the database.
UINT writeObjects(Database& db, Table& t, const Cells& cells, const std::vector<const Field*>& objects,
                  const Cells* previous) {
    for (size_t c = 0; c < t.columns.size(); ++c) {
        if (!isBinaryType(t.columns[c].type)) continue;
        const Field* f = c < objects.size() ? objects[c] : nullptr;
        if (cells[c] && f && f->kind == Field::Kind::Stream) {
            if (UINT r = db.writeStream(db.objectStreamName(t, cells), f->stream)) return r;
        } else if (!cells[c] && previous && (*previous)[c]) {
            db.removeStream(db.objectStreamName(t, cells));
        }
    }
    return ERROR_SUCCESS;
}

UINT storageFromField(Database& db, std::u16string_view name, const Field* f) {
    if (!f || f->kind != Field::Kind::Stream) return ERROR_INVALID_DATA;
    if (!f->sourcePath.empty()) return db.writeStorage(name, f->sourcePath);
    char path[] = "/tmp/qltmsi-storage-XXXXXX";
    int fd = ::mkstemp(path);
    if (fd < 0) return ERROR_FUNCTION_FAILED;
    std::vector<char> buffer(65536);
    uint64_t offset = 0;
    bool ok = true;
    while (ok) {
        size_t done = 0;
        if (FAILED(f->stream->readAt(offset, buffer.data(), buffer.size(), &done))) ok = false;
        if (done == 0) break;
        if (::write(fd, buffer.data(), done) != ssize_t(done)) ok = false;
        offset += done;
    }
    ::close(fd);
    UINT r = ok ? db.writeStorage(name, path) : ERROR_FUNCTION_FAILED;
    ::unlink(path);
    return r;
}

UINT applyInsert(Database& db, Source& s, Cells cells, const std::vector<const Field*>& objects, bool temporary) {
    Table& t = *s.table;
    switch (s.kind) {
    case SourceKind::User: {
        Cells key = t.keyOf(cells);
        if (UINT r = db.insertRow(t, cells, temporary)) return r;
        if (UINT r = writeObjects(db, t, cells, objects, nullptr)) {
            t.eraseRow(key);
            return r;
        }
        return ERROR_SUCCESS;
    }
    case SourceKind::Streams:
    case SourceKind::Storages: {
        const std::u16string& name = t.pool->text(cells[0]);
        if (name.empty()) return ERROR_INVALID_DATA;
        if (t.rows.count(Cells{cells[0]})) return ERROR_FUNCTION_FAILED;
        const Field* f = objects.size() > 1 ? objects[1] : nullptr;
        UINT r;
        if (s.kind == SourceKind::Streams)
            r = db.writeStream(name, f && f->kind == Field::Kind::Stream ? f->stream : emptyStream());
        else
            r = storageFromField(db, name, f);
        if (r) return r;
        cells[1] = 1;
        t.rows.emplace(Cells{cells[0]}, Row{cells, false});
        return ERROR_SUCCESS;
    }
    default: return ERROR_FUNCTION_FAILED;
    }
}

UINT applyUpdate(Database& db, Source& s, const Cells& key, const Cells& cells,
                 const std::vector<const Field*>& objects) {
    Table& t = *s.table;
    auto it = t.rows.find(key);
    if (it == t.rows.end()) return ERROR_FUNCTION_FAILED;
    switch (s.kind) {
    case SourceKind::User: {
        Cells previous = it->second.cells;
        if (UINT r = db.updateRow(t, key, cells)) return r;
        return writeObjects(db, t, cells, objects, &previous);
    }
    case SourceKind::Streams: {
        const Field* f = objects.size() > 1 ? objects[1] : nullptr;
        return db.writeStream(t.pool->text(key[0]), f && f->kind == Field::Kind::Stream ? f->stream : emptyStream());
    }
    case SourceKind::Storages: {
        const Field* f = objects.size() > 1 ? objects[1] : nullptr;
        if (!f || f->kind != Field::Kind::Stream) return ERROR_SUCCESS;
        return storageFromField(db, t.pool->text(key[0]), f);
    }
    default: return ERROR_FUNCTION_FAILED;
    }
}

UINT applyDelete(Database& db, Source& s, const Cells& key) {
    Table& t = *s.table;
    switch (s.kind) {
    case SourceKind::User: return db.deleteRow(t, key);
    case SourceKind::Streams:
    case SourceKind::Storages: {
        if (!t.rows.count(key)) return ERROR_FUNCTION_FAILED;
        const std::u16string& name = t.pool->text(key[0]);
        if (UINT r = s.kind == SourceKind::Streams ? db.removeStream(name) : db.removeStorage(name)) return r;
        t.rows.erase(key);
        return ERROR_SUCCESS;
    }
    default: return ERROR_FUNCTION_FAILED;
    }
}

Field operandField(const sql::Operand& o, const std::vector<Field>& parameters) {
    Field f;
    switch (o.kind) {
    case sql::Operand::Kind::Integer: f.kind = Field::Kind::Integer; f.integer = o.integer; break;
    case sql::Operand::Kind::String:
        if (!o.text.empty()) { f.kind = Field::Kind::String; f.text = o.text; }
        break;
    case sql::Operand::Kind::Parameter:
        if (o.parameter <= parameters.size()) f = parameters[o.parameter - 1];
        break;
    default: break;
    }
    return f;
}

}  // namespace

UINT View::open(std::shared_ptr<Database> db, std::u16string_view text, std::unique_ptr<View>* out) {
    std::unique_ptr<View> v(new View());
    v->db_ = std::move(db);
    v->statement_ = sql::parse(text, &v->parameterCount_);
    if (!v->statement_) return ERROR_BAD_QUERY_SYNTAX;
    v->serial_ = nextSerial++;
    if (UINT r = v->resolve(false)) return r;
    *out = std::move(v);
    return ERROR_SUCCESS;
}

View::~View() = default;

UINT View::resolve(bool atExecute) {
    // Prepared user tables stay valid until the schema changes; the virtual
    // tables are rebuilt every time so they show current contents.
    if (atExecute && resolvedSchema_ == db_->schemaVersion() && !sources_.empty() &&
        std::all_of(sources_.begin(), sources_.end(), [](const auto& s) { return s->kind == SourceKind::User; }))
        return ERROR_SUCCESS;
    resolvedSchema_ = 0;
    sources_.clear();
    selected_.clear();
    std::vector<std::u16string> names;
    sql::Statement& st = *statement_;
    if (auto* s = std::get_if<sql::Select>(&st)) names = s->tables;
    else if (auto* s = std::get_if<sql::Insert>(&st)) names = {s->table};
    else if (auto* s = std::get_if<sql::Update>(&st)) names = {s->table};
    else if (auto* s = std::get_if<sql::Delete>(&st)) names = {s->table};
    else if (auto* s = std::get_if<sql::DropTable>(&st)) names = {s->table};
    else if (auto* s = std::get_if<sql::AlterTable>(&st)) names = {s->table};
    else if (auto* s = std::get_if<sql::CreateTable>(&st)) {
        if (atExecute) return ERROR_SUCCESS;
        if (db_->hasTable(s->table) || s->table == kTablesTable || s->table == kColumnsTable ||
            s->table == kStreamsTable || s->table == kStoragesTable)
            return ERROR_BAD_QUERY_SYNTAX;
        // The table's stream name must fit a compound-file name.
        if (encodeStreamName(s->table, true).size() > cfb::kMaxNameLength) return ERROR_BAD_QUERY_SYNTAX;
        std::set<std::u16string> seen;
        for (const auto& c : s->columns)
            if (!seen.insert(c.name).second) return ERROR_BAD_QUERY_SYNTAX;
        for (const auto& k : s->keys)
            if (!seen.count(k)) return ERROR_BAD_QUERY_SYNTAX;
        return ERROR_SUCCESS;
    }
    if (names.size() > 2) return ERROR_BAD_QUERY_SYNTAX;
    for (const auto& name : names) {
        auto s = std::make_unique<Source>();
        s->name = name;
        if (name == kTablesTable) s->kind = SourceKind::Tables;
        else if (name == kColumnsTable) s->kind = SourceKind::Columns;
        else if (name == kStreamsTable) s->kind = SourceKind::Streams;
        else if (name == kStoragesTable) s->kind = SourceKind::Storages;
        if (s->kind == SourceKind::User) {
            UINT r;
            s->table = db_->table(name, &r);
            if (!s->table) return r == ERROR_INVALID_TABLE ? (atExecute ? ERROR_FUNCTION_FAILED : ERROR_BAD_QUERY_SYNTAX) : r;
        } else {
            if (std::holds_alternative<sql::DropTable>(st) || std::holds_alternative<sql::AlterTable>(st))
                return ERROR_BAD_QUERY_SYNTAX;
            buildVirtual(*s, *db_);
        }
        sources_.push_back(std::move(s));
    }
    // Columns named anywhere in the statement must exist.
    auto find = [&](const sql::ColumnRef& ref, Selected* out) -> bool {
        for (size_t i = 0; i < sources_.size(); ++i) {
            if (!ref.table.empty() && ref.table != sources_[i]->name) continue;
            if (auto c = sources_[i]->table->columnIndex(ref.column)) {
                *out = {i, *c};
                return true;
            }
        }
        return false;
    };
    std::function<bool(const sql::Expr*)> checkExpr = [&](const sql::Expr* e) -> bool {
        if (!e) return true;
        if (e->kind == sql::Expr::Kind::And || e->kind == sql::Expr::Kind::Or)
            return checkExpr(e->left.get()) && checkExpr(e->right.get());
        Selected dummy;
        if (!find(e->a.column, &dummy)) return false;
        if (e->kind == sql::Expr::Kind::Compare && e->b.kind == sql::Operand::Kind::Column)
            return find(e->b.column, &dummy);
        return true;
    };
    if (auto* s = std::get_if<sql::Select>(&st)) {
        if (s->columns.empty()) {
            for (size_t i = 0; i < sources_.size(); ++i)
                for (size_t c = 0; c < sources_[i]->table->columns.size(); ++c) selected_.push_back({i, c});
        } else {
            for (const auto& ref : s->columns) {
                Selected sel;
                if (!find(ref, &sel)) return ERROR_BAD_QUERY_SYNTAX;
                selected_.push_back(sel);
            }
        }
        for (const auto& ref : s->orderBy) {
            Selected sel;
            if (!find(ref, &sel)) return ERROR_BAD_QUERY_SYNTAX;
        }
        if (!checkExpr(s->where.get())) return ERROR_BAD_QUERY_SYNTAX;
    } else if (auto* s = std::get_if<sql::Insert>(&st)) {
        for (const auto& c : s->columns) {
            Selected sel;
            if (!find({u"", c}, &sel)) return ERROR_BAD_QUERY_SYNTAX;
            selected_.push_back(sel);
        }
    } else if (auto* s = std::get_if<sql::Update>(&st)) {
        for (const auto& [c, value] : s->assignments) {
            Selected sel;
            if (!find({u"", c}, &sel)) return ERROR_BAD_QUERY_SYNTAX;
            selected_.push_back(sel);
        }
        if (!checkExpr(s->where.get())) return ERROR_BAD_QUERY_SYNTAX;
    } else if (auto* s = std::get_if<sql::Delete>(&st)) {
        if (!checkExpr(s->where.get())) return ERROR_BAD_QUERY_SYNTAX;
    }
    resolvedSchema_ = db_->schemaVersion();
    return ERROR_SUCCESS;
}

namespace {

// Compiles a WHERE clause with the execute record's values bound.
std::unique_ptr<Compiled> compile(const sql::Expr* e, const std::vector<std::unique_ptr<Source>>& sources,
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
    if (c->literal.kind == Value::Kind::Str) c->literal.text = &c->literalText;
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
        auto id = t.pool->find(*v.text);
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
        return t.indexes.lookup(t.rows, c->a.column, 0);
    case sql::Expr::Kind::Compare: {
        if (c->op != sql::CompareOp::Equal || c->bIsColumn || c->a.source != 0) return std::nullopt;
        uint32_t cell = 0;
        switch (cellFor(t, c->a.column, c->literal, &cell)) {
        case Probe::Cell: return t.indexes.lookup(t.rows, c->a.column, cell);
        case Probe::None: return std::set<Cells>();
        case Probe::Scan: return std::nullopt;
        }
        return std::nullopt;
    }
    case sql::Expr::Kind::IsNotNull: return std::nullopt;
    }
    return std::nullopt;
}

// Keys of the rows of a single table that match: by the key when every key
// column is pinned by an equality, else through the column indexes when the
// clause allows, else by reading every row.
std::vector<Cells> matchingKeys(const std::vector<std::unique_ptr<Source>>& sources, const Compiled* where) {
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
    std::vector<const Cells*> rows(1);
    auto consider = [&](const Cells& k, const Cells& cells) {
        rows[0] = &cells;
        if (evaluate(where, sources, rows)) keys.push_back(k);
    };
    if (indexed) {
        auto it = t.rows.find(key);
        if (it != t.rows.end()) consider(it->first, it->second.cells);
        return keys;
    }
    // Virtual tables are rebuilt for every execution: an index would not pay.
    if (sources[0]->kind == SourceKind::User) {
        if (auto found = candidates(t, where)) {
            for (const Cells& k : *found) {
                auto it = t.rows.find(k);
                if (it != t.rows.end()) consider(it->first, it->second.cells);
            }
            return keys;
        }
    }
    for (const auto& [k, row] : t.rows) consider(k, row.cells);
    return keys;
}

}  // namespace

UINT View::execute(const Record* parameters) {
    parameters_.clear();
    if (parameters)
        for (unsigned i = 1; i <= parameters->count(); ++i) parameters_.push_back(parameters->fields[i]);
    if (parameterCount_ > 0 && !parameters) return ERROR_FUNCTION_FAILED;
    results_.clear();
    cursor_ = 0;
    executed_ = false;
    if (UINT r = resolve(true)) return r;
    execution_ = nextSerial++;
    UINT r = std::visit(
        [&](auto& s) -> UINT {
            using T = std::decay_t<decltype(s)>;
            if constexpr (std::is_same_v<T, sql::Select>) return runSelect();
            else if constexpr (std::is_same_v<T, sql::Insert>) return runInsert();
            else if constexpr (std::is_same_v<T, sql::Update>) return runUpdate();
            else if constexpr (std::is_same_v<T, sql::Delete>) return runDelete();
            else if constexpr (std::is_same_v<T, sql::CreateTable>) return runCreate();
            else if constexpr (std::is_same_v<T, sql::DropTable>) return db_->dropTable(s.table);
            else return runAlter();
        },
        *statement_);
    if (r == ERROR_SUCCESS) executed_ = true;
    return r;
}

UINT View::runSelect() {
    auto& s = std::get<sql::Select>(*statement_);
    auto where = compile(s.where.get(), sources_, parameters_);
    fixLiteralPointers(where.get());
    if (sources_.size() == 1) {
        for (Cells& k : matchingKeys(sources_, where.get())) results_.push_back({std::move(k)});
    } else {
        std::vector<const Cells*> rows(2);
        for (const auto& [k0, r0] : sources_[0]->table->rows) {
            rows[0] = &r0.cells;
            for (const auto& [k1, r1] : sources_[1]->table->rows) {
                rows[1] = &r1.cells;
                if (evaluate(where.get(), sources_, rows)) results_.push_back({k0, k1});
            }
        }
    }
    auto cellsOf = [&](const std::vector<Cells>& keys, size_t source) -> const Cells& {
        return sources_[source]->table->rows.find(keys[source])->second.cells;
    };
    if (!s.orderBy.empty()) {
        std::vector<Selected> order;
        for (const auto& ref : s.orderBy)
            for (size_t i = 0; i < sources_.size(); ++i) {
                if (!ref.table.empty() && ref.table != sources_[i]->name) continue;
                if (auto c = sources_[i]->table->columnIndex(ref.column)) { order.push_back({i, *c}); break; }
            }
        std::stable_sort(results_.begin(), results_.end(), [&](const auto& a, const auto& b) {
            for (const Selected& o : order) {
                uint32_t x = cellsOf(a, o.source)[o.column], y = cellsOf(b, o.source)[o.column];
                if (x != y) return x < y;
            }
            return false;
        });
    }
    if (s.distinct) {
        std::set<Cells> seen;
        std::vector<std::vector<Cells>> unique;
        for (auto& r : results_) {
            Cells values;
            for (const Selected& sel : selected_) values.push_back(cellsOf(r, sel.source)[sel.column]);
            if (seen.insert(std::move(values)).second) unique.push_back(std::move(r));
        }
        results_ = std::move(unique);
    }
    return ERROR_SUCCESS;
}

namespace {

Field cellToField(Database& db, const Source& s, size_t column, const Cells& cells) {
    Field f;
    const Table& t = *s.table;
    uint16_t type = t.columns[column].type;
    uint32_t cell = cells[column];
    if (cell == 0) return f;
    if (isBinaryType(type)) {
        if (s.kind == SourceKind::Storages) return f;
        std::u16string name = s.kind == SourceKind::Streams ? t.pool->text(cells[0]) : db.objectStreamName(t, cells);
        f.stream = db.readStream(name);
        if (f.stream) f.kind = Field::Kind::Stream;
    } else if (isStringType(type)) {
        f.kind = Field::Kind::String;
        f.text = t.pool->text(cell);
    } else {
        f.kind = Field::Kind::Integer;
        f.integer = decodeInteger(type, cell);
    }
    return f;
}

}  // namespace

UINT View::fetch(std::unique_ptr<Record>* out) {
    if (!executed_ || !std::holds_alternative<sql::Select>(*statement_)) return ERROR_FUNCTION_FAILED;
    while (cursor_ < results_.size()) {
        const auto& keys = results_[cursor_++];
        std::vector<const Cells*> rows;
        for (size_t i = 0; i < sources_.size(); ++i) {
            auto it = sources_[i]->table->rows.find(keys[i]);
            if (it == sources_[i]->table->rows.end()) break;
            rows.push_back(&it->second.cells);
        }
        if (rows.size() != sources_.size()) continue;  // deleted since
        auto rec = std::make_unique<Record>(unsigned(selected_.size()));
        for (size_t i = 0; i < selected_.size(); ++i)
            rec->fields[i + 1] = cellToField(*db_, *sources_[selected_[i].source], selected_[i].column, *rows[selected_[i].source]);
        rec->origin = {serial_, execution_, keys};
        *out = std::move(rec);
        return ERROR_SUCCESS;
    }
    return ERROR_NO_MORE_ITEMS;
}

UINT View::runInsert() {
    auto& s = std::get<sql::Insert>(*statement_);
    Source& src = *sources_[0];
    Table& t = *src.table;
    Cells cells(t.columns.size(), 0);
    std::vector<Field> values;
    for (const auto& v : s.values) values.push_back(operandField(v, parameters_));
    std::vector<const Field*> objects(t.columns.size(), nullptr);
    for (size_t i = 0; i < selected_.size(); ++i) {
        size_t c = selected_[i].column;
        if (UINT r = fieldToCell(t, c, values[i], &cells[c])) return r == ERROR_DATATYPE_MISMATCH ? ERROR_FUNCTION_FAILED : r;
        objects[c] = &values[i];
    }
    if (src.kind == SourceKind::User && missingRequired(t, cells)) return ERROR_FUNCTION_FAILED;
    return applyInsert(*db_, src, std::move(cells), objects, s.temporary);
}

UINT View::runUpdate() {
    auto& s = std::get<sql::Update>(*statement_);
    Source& src = *sources_[0];
    Table& t = *src.table;
    for (const Selected& sel : selected_)
        if (std::find(t.keyColumns.begin(), t.keyColumns.end(), sel.column) != t.keyColumns.end())
            return ERROR_FUNCTION_FAILED;
    auto where = compile(s.where.get(), sources_, parameters_);
    fixLiteralPointers(where.get());
    std::vector<Field> values;
    for (const auto& [c, v] : s.assignments) values.push_back(operandField(v, parameters_));
    for (const Cells& key : matchingKeys(sources_, where.get())) {
        Cells cells = t.rows.find(key)->second.cells;
        std::vector<const Field*> objects(t.columns.size(), nullptr);
        for (size_t i = 0; i < selected_.size(); ++i) {
            size_t c = selected_[i].column;
            if (UINT r = fieldToCell(t, c, values[i], &cells[c])) return r == ERROR_DATATYPE_MISMATCH ? ERROR_FUNCTION_FAILED : r;
            objects[c] = &values[i];
        }
        if (src.kind == SourceKind::User && missingRequired(t, cells)) return ERROR_FUNCTION_FAILED;
        if (UINT r = applyUpdate(*db_, src, key, cells, objects)) return r;
    }
    return ERROR_SUCCESS;
}

UINT View::runDelete() {
    auto& s = std::get<sql::Delete>(*statement_);
    auto where = compile(s.where.get(), sources_, parameters_);
    fixLiteralPointers(where.get());
    for (const Cells& key : matchingKeys(sources_, where.get()))
        if (UINT r = applyDelete(*db_, *sources_[0], key)) return r;
    return ERROR_SUCCESS;
}

UINT View::runCreate() {
    auto& s = std::get<sql::CreateTable>(*statement_);
    if (db_->hasTable(s.table)) return ERROR_BAD_QUERY_SYNTAX;
    Table t;
    t.name = s.table;
    for (const auto& def : s.columns) {
        Column c{def.name, def.type};
        if (std::find(s.keys.begin(), s.keys.end(), def.name) != s.keys.end()) c.type |= coltype::kKey;
        t.columns.push_back(std::move(c));
    }
    for (size_t i = 0; i < t.columns.size(); ++i)
        if (isKeyType(t.columns[i].type)) t.keyColumns.push_back(i);
    t.holds = s.hold ? 1 : 0;
    return db_->createTable(std::move(t));
}

UINT View::runAlter() {
    auto& s = std::get<sql::AlterTable>(*statement_);
    Table& t = *sources_[0]->table;
    switch (s.action) {
    case sql::AlterTable::Action::Add:
        if (UINT r = db_->addColumn(t, Column{s.column.name, s.column.type})) return r;
        if (s.hold) ++t.holds;
        return ERROR_SUCCESS;
    case sql::AlterTable::Action::Hold: ++t.holds; return ERROR_SUCCESS;
    case sql::AlterTable::Action::Free:
        if (t.holds > 0) --t.holds;
        if (t.temporary && t.holds == 0) return db_->dropTable(t.name);
        return ERROR_SUCCESS;
    }
    return ERROR_FUNCTION_FAILED;
}

UINT View::modify(ModifyMode mode, Record& rec) {
    if (!std::holds_alternative<sql::Select>(*statement_) || !executed_) return ERROR_FUNCTION_FAILED;
    if (rec.count() < selected_.size()) return ERROR_INVALID_DATA;
    if (sources_.size() != 1) return ERROR_FUNCTION_FAILED;
    Source& src = *sources_[0];
    Table& t = *src.table;
    bool fetched = rec.origin.view == serial_ && rec.origin.keys.size() == 1;
    bool keysSelected = std::all_of(t.keyColumns.begin(), t.keyColumns.end(), [&](size_t k) {
        return std::any_of(selected_.begin(), selected_.end(), [&](const Selected& s) { return s.column == k; });
    });
    std::vector<const Field*> objects(t.columns.size(), nullptr);
    auto fill = [&](Cells& cells) -> UINT {
        for (size_t i = 0; i < selected_.size(); ++i) {
            size_t c = selected_[i].column;
            if (UINT r = fieldToCell(t, c, rec.fields[i + 1], &cells[c])) return r;
            objects[c] = &rec.fields[i + 1];
        }
        return ERROR_SUCCESS;
    };
    auto refill = [&](const Cells& cells) {
        for (size_t i = 0; i < selected_.size(); ++i)
            rec.fields[i + 1] = cellToField(*db_, src, selected_[i].column, cells);
    };
    auto checkRequired = [&](const Cells& cells) -> UINT {
        if (src.kind != SourceKind::User) return ERROR_SUCCESS;
        std::u16string column;
        if (missingRequired(t, cells, &column)) {
            errorCode_ = 2;  // MSIDBERROR_REQUIRED
            errorColumn_ = column;
            return ERROR_INVALID_DATA;
        }
        return ERROR_SUCCESS;
    };
    auto current = [&]() -> const Row* {
        if (!fetched) return nullptr;
        auto it = t.rows.find(rec.origin.keys[0]);
        return it == t.rows.end() ? nullptr : &it->second;
    };
    errorCode_ = 0;
    errorColumn_.clear();
    switch (mode) {
    case ModifyMode::Insert:
    case ModifyMode::InsertTemporary: {
        Cells cells(t.columns.size(), 0);
        if (UINT r = fill(cells)) return r;
        if (UINT r = checkRequired(cells)) return r;
        return applyInsert(*db_, src, std::move(cells), objects, mode == ModifyMode::InsertTemporary);
    }
    case ModifyMode::Update: {
        const Row* row = current();
        if (!row) return ERROR_FUNCTION_FAILED;
        Cells cells = row->cells;
        if (UINT r = fill(cells)) return r;
        if (t.keyOf(cells) != rec.origin.keys[0]) return ERROR_FUNCTION_FAILED;
        if (UINT r = checkRequired(cells)) return r;
        return applyUpdate(*db_, src, rec.origin.keys[0], cells, objects);
    }
    case ModifyMode::Assign:
    case ModifyMode::Merge: {
        if (!keysSelected) return ERROR_FUNCTION_FAILED;
        Cells cells(t.columns.size(), 0);
        if (UINT r = fill(cells)) return r;
        Cells key = t.keyOf(cells);
        auto it = t.rows.find(key);
        if (it == t.rows.end()) {
            if (UINT r = checkRequired(cells)) return r;
            return applyInsert(*db_, src, std::move(cells), objects, false);
        }
        if (mode == ModifyMode::Merge) {
            for (const Selected& sel : selected_)
                if (it->second.cells[sel.column] != cells[sel.column]) return ERROR_FUNCTION_FAILED;
            return ERROR_SUCCESS;
        }
        Cells merged = it->second.cells;
        if (UINT r = fill(merged)) return r;
        if (UINT r = checkRequired(merged)) return r;
        return applyUpdate(*db_, src, key, merged, objects);
    }
    case ModifyMode::Replace: {
        const Row* row = current();
        if (!row) return ERROR_FUNCTION_FAILED;
        Cells cells = row->cells;
        if (UINT r = fill(cells)) return r;
        if (UINT r = checkRequired(cells)) return r;
        Cells key = t.keyOf(cells);
        if (key == rec.origin.keys[0]) return applyUpdate(*db_, src, key, cells, objects);
        if (t.rows.count(key)) return ERROR_FUNCTION_FAILED;
        bool temporary = row->temporary;
        // Data of OBJECT cells not in the view moves with the row.
        std::vector<Field> kept(t.columns.size());
        for (size_t c = 0; c < t.columns.size(); ++c)
            if (isBinaryType(t.columns[c].type) && !objects[c] && cells[c]) {
                kept[c] = cellToField(*db_, src, c, row->cells);
                objects[c] = &kept[c];
            }
        if (UINT r = applyDelete(*db_, src, rec.origin.keys[0])) return r;
        if (UINT r = applyInsert(*db_, src, cells, objects, temporary)) return r;
        rec.origin.keys[0] = key;
        return ERROR_SUCCESS;
    }
    case ModifyMode::Delete: {
        if (!fetched) return ERROR_FUNCTION_FAILED;
        return applyDelete(*db_, src, rec.origin.keys[0]);
    }
    case ModifyMode::Refresh: {
        const Row* row = current();
        if (!row) return ERROR_FUNCTION_FAILED;
        refill(row->cells);
        return ERROR_SUCCESS;
    }
    case ModifyMode::Seek: {
        if (!keysSelected) return ERROR_FUNCTION_FAILED;
        Cells cells(t.columns.size(), 0);
        for (size_t i = 0; i < selected_.size(); ++i) {
            size_t c = selected_[i].column;
            if (std::find(t.keyColumns.begin(), t.keyColumns.end(), c) == t.keyColumns.end()) continue;
            const Field& f = rec.fields[i + 1];
            if (isStringType(t.columns[c].type)) {
                auto id = t.pool->find(f.kind == Field::Kind::String ? f.text : std::u16string());
                if (!id) return ERROR_FUNCTION_FAILED;
                cells[c] = *id;
            } else if (fieldToCell(t, c, f, &cells[c])) {
                return ERROR_FUNCTION_FAILED;
            }
        }
        Cells key = t.keyOf(cells);
        auto it = t.rows.find(key);
        if (it == t.rows.end()) return ERROR_FUNCTION_FAILED;
        refill(it->second.cells);
        rec.origin = {serial_, execution_, {key}};
        for (size_t i = 0; i < results_.size(); ++i)
            if (results_[i][0] == key) { cursor_ = i + 1; break; }
        return ERROR_SUCCESS;
    }
    case ModifyMode::ValidateNew: {
        if (!keysSelected) return ERROR_SUCCESS;
        Cells cells(t.columns.size(), 0);
        if (UINT r = fill(cells)) return r;
        if (t.rows.count(t.keyOf(cells))) {
            errorCode_ = kDuplicateKey;
            errorColumn_ = t.columns[t.keyColumns[0]].name;
            return ERROR_INVALID_DATA;
        }
        return ERROR_SUCCESS;
    }
    case ModifyMode::Validate:
    case ModifyMode::ValidateField:
    case ModifyMode::ValidateDelete:
        return ERROR_SUCCESS;
    }
    return ERROR_FUNCTION_FAILED;
}

UINT View::close() {
    results_.clear();
    cursor_ = 0;
    executed_ = false;
    return ERROR_SUCCESS;
}

UINT View::columnInfo(bool types, std::unique_ptr<Record>* out) const {
    if (!std::holds_alternative<sql::Select>(*statement_)) return ERROR_FUNCTION_FAILED;
    auto rec = std::make_unique<Record>(unsigned(selected_.size()));
    for (size_t i = 0; i < selected_.size(); ++i) {
        const Column& c = sources_[selected_[i].source]->table->columns[selected_[i].column];
        Field& f = rec->fields[i + 1];
        f.kind = Field::Kind::String;
        if (types) {
            std::string text = columnTypeText(c.type);
            f.text = std::u16string(text.begin(), text.end());
        } else {
            f.text = c.name;
        }
    }
    *out = std::move(rec);
    return ERROR_SUCCESS;
}

int View::lastError(std::u16string* column) const {
    if (column) *column = errorColumn_;
    return errorCode_;
}

}  // namespace winsys::msi
