// Building and maintaining the per-column equality indexes.
#include "column_index.h"


namespace winsys::msi {

const ColumnIndexes::Keys& ColumnIndexes::lookup(const RowStore& rows, std::span<const size_t> keyColumns,
                                                 size_t column, uint32_t cell) {
    static const Keys none;
    auto [it, fresh] = byColumn_.try_emplace(column);
    if (fresh) {
        Cells key(keyColumns.size());
        for (const Row& row : rows) {
            for (size_t i = 0; i < keyColumns.size(); ++i) key[i] = row.cells[keyColumns[i]];
            it->second[row.cells[column]].insert(key);
        }
    }
    auto hit = it->second.find(cell);
    return hit == it->second.end() ? none : hit->second;
}

void ColumnIndexes::added(const Cells& key, CellView cells) {
    for (auto& [column, index] : byColumn_) index[cells[column]].insert(key);
}

void ColumnIndexes::removed(CellView keyCells, CellView cells) {
    if (byColumn_.empty()) return;
    const Cells key(keyCells.begin(), keyCells.end());
    for (auto& [column, index] : byColumn_) {
        auto it = index.find(cells[column]);
        if (it == index.end()) continue;
        it->second.erase(key);
        if (it->second.empty()) index.erase(it);
    }
}

void ColumnIndexes::changed(const Cells& key, CellView before, CellView after) {
    for (auto& [column, index] : byColumn_) {
        if (before[column] == after[column]) continue;
        auto it = index.find(before[column]);
        if (it != index.end()) {
            it->second.erase(key);
            if (it->second.empty()) index.erase(it);
        }
        index[after[column]].insert(key);
    }
}

}  // namespace winsys::msi
