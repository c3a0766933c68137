// INSERT INTO, and the insertion of one row through any table a view reads
// (MsiViewModify's insert modes share it).
#include "view_internal.h"

namespace winsys::msi {

UINT views::applyInsert(Database& db, Source& s, Cells cells, const std::vector<const Field*>& objects, bool temporary) {
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
        std::u16string_view name = t.pool->text(cells[0]);
        if (name.empty()) return ERROR_INVALID_DATA;
        if (t.hasRow(Cells{cells[0]})) return ERROR_FUNCTION_FAILED;
        const Field* f = objects.size() > 1 ? objects[1] : nullptr;
        UINT r;
        if (s.kind == SourceKind::Streams)
            r = db.writeStream(name, f && f->kind == Field::Kind::Stream ? f->stream : emptyStream());
        else
            r = storageFromField(db, name, f);
        if (r) return r;
        cells[1] = 1;
        t.addRow(std::move(cells), false);
        return ERROR_SUCCESS;
    }
    default: return ERROR_FUNCTION_FAILED;
    }
}

using namespace views;

UINT View::runInsert() {
    auto& s = std::get<sql::Insert>(*statement_);
    Source& src = *sources_[0];
    Cells cells(src.table->columns.size(), 0);
    std::vector<Field> values;
    for (const auto& v : s.values) values.push_back(operandField(v, parameters_));
    std::vector<const Field*> objects;
    if (UINT r = setStatementCells(src, selected_, values, &cells, &objects)) return r;
    return applyInsert(*db_, src, std::move(cells), objects, s.temporary);
}

}  // namespace winsys::msi
