// SELECT: the rows of one table, or of the join of two, that the WHERE clause
// admits, then fetched one record at a time.
#include "view_internal.h"

namespace winsys::msi {

using namespace views;

UINT View::runSelect() {
    auto& s = std::get<sql::Select>(*statement_);
    auto where = compileWhere(s.where.get(), sources_, parameters_);
    if (sources_.size() == 1) {
        for (Cells& k : matchingKeys(sources_, where.get())) results_.push_back({std::move(k)});
    } else {
        std::vector<CellView> rows(2);
        const Table& t0 = *sources_[0]->table;
        const Table& t1 = *sources_[1]->table;
        for (const Row& r0 : t0.rows) {
            rows[0] = r0.cells;
            for (const Row& r1 : t1.rows) {
                rows[1] = r1.cells;
                if (evaluate(where.get(), sources_, rows)) results_.push_back({t0.keyOf(r0.cells), t1.keyOf(r1.cells)});
            }
        }
    }
    orderResults(sources_, s.orderBy, &results_);
    if (s.distinct) keepDistinct(sources_, selected_, &results_);
    return ERROR_SUCCESS;
}

UINT View::fetch(std::unique_ptr<Record>* out) {
    if (!executed_ || !std::holds_alternative<sql::Select>(*statement_)) return ERROR_FUNCTION_FAILED;
    while (cursor_ < results_.size()) {
        const auto& keys = results_[cursor_++];
        std::vector<CellView> rows;
        for (size_t i = 0; i < sources_.size(); ++i) {
            const Row* row = sources_[i]->table->findRow(keys[i]);
            if (!row) break;
            rows.push_back(row->cells);
        }
        if (rows.size() != sources_.size()) continue;  // deleted since
        auto rec = std::make_unique<Record>(unsigned(selected_.size()));
        for (size_t i = 0; i < selected_.size(); ++i)
            rec->fields[i + 1] = cellToField(*db_, *sources_[selected_[i].source], selected_[i].column, rows[selected_[i].source]);
        rec->origin = {serial_, execution_, keys};
        *out = std::move(rec);
        return ERROR_SUCCESS;
    }
    return ERROR_NO_MORE_ITEMS;
}

}  // namespace winsys::msi
