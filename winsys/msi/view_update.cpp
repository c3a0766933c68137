// UPDATE, and the replacement of one row's cells through any table a view
// reads (MsiViewModify's update modes share it). Key columns cannot be set.
#include <algorithm>

#include "view_internal.h"

namespace winsys::msi {

UINT views::applyUpdate(Database& db, Source& s, const Cells& key, const Cells& cells,
                        const std::vector<const Field*>& objects) {
    Table& t = *s.table;
    const Row* row = t.findRow(key);
    if (!row) return ERROR_FUNCTION_FAILED;
    switch (s.kind) {
    case SourceKind::User: {
        Cells previous(row->cells.begin(), row->cells.end());
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

using namespace views;

UINT View::runUpdate() {
    auto& s = std::get<sql::Update>(*statement_);
    Source& src = *sources_[0];
    Table& t = *src.table;
    for (const Selected& sel : selected_)
        if (std::find(t.keyColumns.begin(), t.keyColumns.end(), sel.column) != t.keyColumns.end())
            return ERROR_FUNCTION_FAILED;
    auto where = compileWhere(s.where.get(), sources_, parameters_);
    std::vector<Field> values;
    for (const auto& [c, v] : s.assignments) values.push_back(operandField(v, parameters_));
    for (const Cells& key : matchingKeys(sources_, where.get())) {
        CellView current = t.findRow(key)->cells;
        Cells cells(current.begin(), current.end());
        std::vector<const Field*> objects;
        if (UINT r = setStatementCells(src, selected_, values, &cells, &objects)) return r;
        if (UINT r = applyUpdate(*db_, src, key, cells, objects)) return r;
    }
    return ERROR_SUCCESS;
}

}  // namespace winsys::msi
