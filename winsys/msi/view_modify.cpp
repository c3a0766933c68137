// MsiViewModify: writing a fetched (or caller-built) record back through a
// SELECT view of one table, and the seek, refresh and validation modes.
#include <algorithm>

#include "column_type.h"
#include "view_internal.h"

namespace winsys::msi {

using namespace views;

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
    auto refill = [&](CellView cells) {
        for (size_t i = 0; i < selected_.size(); ++i)
            rec.fields[i + 1] = cellToField(*db_, src, selected_[i].column, cells);
    };
    auto checkRequired = [&](CellView cells) -> UINT {
        if (src.kind != SourceKind::User) return ERROR_SUCCESS;
        std::u16string column;
        if (missingRequired(t, cells, &column)) {
            errorCode_ = kRequired;
            errorColumn_ = column;
            return ERROR_INVALID_DATA;
        }
        return ERROR_SUCCESS;
    };
    auto current = [&]() -> const Row* {
        if (!fetched) return nullptr;
        return t.findRow(rec.origin.keys[0]);
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
        Cells cells(row->cells.begin(), row->cells.end());
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
        const Row* existing = t.findRow(key);
        if (!existing) {
            if (UINT r = checkRequired(cells)) return r;
            return applyInsert(*db_, src, std::move(cells), objects, false);
        }
        if (mode == ModifyMode::Merge) {
            for (const Selected& sel : selected_)
                if (existing->cells[sel.column] != cells[sel.column]) return ERROR_FUNCTION_FAILED;
            return ERROR_SUCCESS;
        }
        Cells merged(existing->cells.begin(), existing->cells.end());
        if (UINT r = fill(merged)) return r;
        if (UINT r = checkRequired(merged)) return r;
        return applyUpdate(*db_, src, key, merged, objects);
    }
    case ModifyMode::Replace: {
        const Row* row = current();
        if (!row) return ERROR_FUNCTION_FAILED;
        Cells cells(row->cells.begin(), row->cells.end());
        if (UINT r = fill(cells)) return r;
        if (UINT r = checkRequired(cells)) return r;
        Cells key = t.keyOf(cells);
        if (key == rec.origin.keys[0]) return applyUpdate(*db_, src, key, cells, objects);
        if (t.hasRow(key)) return ERROR_FUNCTION_FAILED;
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
        const Row* found = t.findRow(key);
        if (!found) return ERROR_FUNCTION_FAILED;
        refill(found->cells);
        rec.origin = {serial_, execution_, {key}};
        for (size_t i = 0; i < results_.size(); ++i)
            if (results_[i][0] == key) { cursor_ = i + 1; break; }
        return ERROR_SUCCESS;
    }
    case ModifyMode::ValidateNew: {
        if (!keysSelected) return ERROR_SUCCESS;
        Cells cells(t.columns.size(), 0);
        if (UINT r = fill(cells)) return r;
        if (t.hasRow(t.keyOf(cells))) {
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

}  // namespace winsys::msi
