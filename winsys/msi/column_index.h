// Equality indexes over single columns of a table, so that a WHERE clause
// pinning a column that is not the key (`FileName`, `Component_`) finds its
// rows without reading every row. An index is built the first time a column
// is looked up and then kept in step by the table's row operations.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <span>
#include <unordered_map>

#include "row_store.h"
#include "table_codec.h"

namespace winsys::msi {

class ColumnIndexes {
public:
    using Keys = std::set<Cells>;  // in the table's key order

    // Keys of the rows of `rows` whose cell in `column` is `cell`.
    const Keys& lookup(const RowStore& rows, std::span<const size_t> keyColumns, size_t column, uint32_t cell);

    void added(const Cells& key, CellView cells);
    void removed(CellView key, CellView cells);
    void changed(const Cells& key, CellView before, CellView after);
    // Forgets every index (the columns moved).
    void clear() { byColumn_.clear(); }

private:
    std::map<size_t, std::unordered_map<uint32_t, Keys>> byColumn_;
};

}  // namespace winsys::msi
