// Resolving a statement against the schema: the tables it reads (user tables
// or the virtual _Tables, _Columns, _Streams and _Storages) and the columns it
// names, checked once at prepare time and again whenever the schema changes.
#include <algorithm>
#include <functional>

#include "column_type.h"
#include "view_internal.h"

namespace winsys::msi {
namespace views {

// Key columns of the virtual tables, which get theirs only once filled.
constexpr size_t kFirstColumn[] = {0};
constexpr size_t kFirstTwoColumns[] = {0, 1};

void buildVirtual(Source& s, Database& db, bool withRows) {
    s.local = std::make_unique<Source::Virtual>();
    Table& t = s.local->table;
    StringPool& pool = s.local->pool;
    t.name = s.name;
    t.pool = &pool;
    auto add = [&](std::u16string_view name, uint16_t type) { t.columns.push_back({std::u16string(name), type}); };
    switch (s.kind) {
    case SourceKind::Tables:
        add(u"Name", 0x2D40);
        if (!withRows) break;
        for (const auto& name : db.tableNames()) t.rows.insert(kFirstColumn, Cells{pool.intern(name)}, false);
        break;
    case SourceKind::Columns:
        add(u"Table", 0x2D40);
        add(u"Number", 0x2502);
        add(u"Name", 0x0D40);
        add(u"Type", 0x0502);
        if (!withRows) break;
        for (const auto& name : db.tableNames()) {
            const Table* user = db.table(name);
            if (!user) continue;
            for (size_t i = 0; i < user->columns.size(); ++i) {
                Cells cells{pool.intern(name), encodeShort(int(i + 1)),
                            pool.intern(user->columns[i].name), encodeShort(int16_t(user->columns[i].type))};
                t.rows.insert(kFirstTwoColumns, std::move(cells), false);
            }
        }
        break;
    case SourceKind::Streams:
    case SourceKind::Storages:
        add(u"Name", 0x2D3E);
        add(u"Data", 0x1900);
        if (!withRows) break;
        for (const auto& name : s.kind == SourceKind::Streams ? db.streamNames() : db.storageNames())
            t.rows.insert(kFirstColumn, Cells{pool.intern(name), 1}, false);
        break;
    case SourceKind::User: break;
    }
    for (size_t i = 0; i < t.columns.size(); ++i)
        if (isKeyType(t.columns[i].type)) t.keyColumns.push_back(i);
    s.table = &t;
}

}  // namespace views

using namespace views;

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
        return checkCreate(*db_, *s);
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
            buildVirtual(*s, *db_, atExecute);
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

}  // namespace winsys::msi
