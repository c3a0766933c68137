// CREATE TABLE, ALTER TABLE and DROP TABLE: the statements that change the
// schema rather than rows.
#include <algorithm>
#include <set>

#include "column_type.h"
#include "stream_name.h"
#include "view_internal.h"

namespace winsys::msi {

UINT views::checkCreate(const Database& db, const sql::CreateTable& create) {
    if (db.hasTable(create.table) || create.table == kTablesTable || create.table == kColumnsTable ||
        create.table == kStreamsTable || create.table == kStoragesTable)
        return ERROR_BAD_QUERY_SYNTAX;
    // The table's stream name must fit a compound-file name.
    if (encodeStreamName(create.table, true).size() > cfb::kMaxNameLength) return ERROR_BAD_QUERY_SYNTAX;
    std::set<std::u16string> seen;
    for (const auto& c : create.columns)
        if (!seen.insert(c.name).second) return ERROR_BAD_QUERY_SYNTAX;
    for (const auto& k : create.keys)
        if (!seen.count(k)) return ERROR_BAD_QUERY_SYNTAX;
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

UINT View::runDrop() { return db_->dropTable(std::get<sql::DropTable>(*statement_).table); }

}  // namespace winsys::msi
