// ORDER BY and DISTINCT over a SELECT's result rows. ORDER BY compares the
// stored cells (string ids, biased integers) rather than decoded values, which
// keeps the sort cheap; DISTINCT keeps the first row of each set of selected
// values.
#include <algorithm>
#include <set>

#include "view_internal.h"

namespace winsys::msi::views {
namespace {

CellView cellsOf(const Sources& sources, const ResultRow& keys, size_t source) {
    return sources[source]->table->findRow(keys[source])->cells;
}

}  // namespace

void orderResults(const Sources& sources, const std::vector<sql::ColumnRef>& orderBy,
                  std::vector<ResultRow>* results) {
    if (orderBy.empty())
        return;
    std::vector<Selected> order;
    for (const auto& ref : orderBy)
        for (size_t i = 0; i < sources.size(); ++i) {
            if (!ref.table.empty() && ref.table != sources[i]->name)
                continue;
            if (auto c = sources[i]->table->columnIndex(ref.column)) {
                order.push_back({i, *c});
                break;
            }
        }
    std::stable_sort(results->begin(), results->end(), [&](const ResultRow& a, const ResultRow& b) {
        for (const Selected& o : order) {
            uint32_t x = cellsOf(sources, a, o.source)[o.column],
                     y = cellsOf(sources, b, o.source)[o.column];
            if (x != y)
                return x < y;
        }
        return false;
    });
}

void keepDistinct(const Sources& sources, const std::vector<Selected>& selected,
                  std::vector<ResultRow>* results) {
    std::set<Cells> seen;
    std::vector<ResultRow> unique;
    for (auto& r : *results) {
        Cells values;
        for (const Selected& sel : selected)
            values.push_back(cellsOf(sources, r, sel.source)[sel.column]);
        if (seen.insert(std::move(values)).second)
            unique.push_back(std::move(r));
    }
    *results = std::move(unique);
}

}  // namespace winsys::msi::views
