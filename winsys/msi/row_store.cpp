// Keeping a table's rows sorted by key in one sequence.
#include "row_store.h"

#include <algorithm>

namespace winsys::msi {

void RowStore::clear() {
    slots_.clear();
    order_.clear();
    free_.clear();
    removed_ = 0;
}

void RowStore::reserve(size_t count) {
    slots_.reserve(count);
    order_.reserve(count);
}

// As the key vectors themselves would compare: cell by cell, then a shorter
// key first.
int RowStore::compareAt(std::span<const size_t> keyColumns, size_t position, const Cells& probe,
                        bool probeIsRow) const {
    const Cells& cells = slots_[order_[position]].cells;
    size_t n = probeIsRow ? keyColumns.size() : std::min(keyColumns.size(), probe.size());
    for (size_t i = 0; i < n; ++i) {
        uint32_t a = cells[keyColumns[i]];
        uint32_t b = probeIsRow ? probe[keyColumns[i]] : probe[i];
        if (a != b) return a < b ? -1 : 1;
    }
    if (probeIsRow) return 0;
    return keyColumns.size() < probe.size() ? -1 : keyColumns.size() > probe.size() ? 1 : 0;
}

size_t RowStore::lowerBound(std::span<const size_t> keyColumns, const Cells& probe, bool probeIsRow) const {
    size_t lo = 0, hi = order_.size();
    if (keyColumns.size() == 1 && (probeIsRow || probe.size() == 1)) {
        // Most tables have a one-column key: compare that cell alone.
        const size_t k = keyColumns[0];
        const uint32_t key = probeIsRow ? probe[k] : probe[0];
        while (lo < hi) {
            size_t mid = lo + (hi - lo) / 2;
            if (slots_[order_[mid]].cells[k] < key) lo = mid + 1;
            else hi = mid;
        }
        return lo;
    }
    while (lo < hi) {
        size_t mid = lo + (hi - lo) / 2;
        if (compareAt(keyColumns, mid, probe, probeIsRow) < 0) lo = mid + 1;
        else hi = mid;
    }
    return lo;
}

const Row* RowStore::find(std::span<const size_t> keyColumns, const Cells& key) const {
    size_t at = lowerBound(keyColumns, key, false);
    if (at == order_.size() || compareAt(keyColumns, at, key, false) != 0) return nullptr;
    const Row& row = slots_[order_[at]];
    return row.removed ? nullptr : &row;
}

Row* RowStore::find(std::span<const size_t> keyColumns, const Cells& key) {
    return const_cast<Row*>(static_cast<const RowStore*>(this)->find(keyColumns, key));
}

Row* RowStore::insert(std::span<const size_t> keyColumns, Cells cells, bool temporary) {
    // Rows mostly come in key order (a table stream, an export): they go at
    // the end without a search.
    size_t at = order_.empty() || compareAt(keyColumns, order_.size() - 1, cells, true) < 0
                    ? order_.size()
                    : lowerBound(keyColumns, cells, true);
    if (at < order_.size() && compareAt(keyColumns, at, cells, true) == 0) {
        Row& row = slots_[order_[at]];
        if (!row.removed) return nullptr;
        row = Row{std::move(cells), temporary, false};
        --removed_;
        return &row;
    }
    uint32_t number;
    if (!free_.empty()) {
        number = free_.back();
        free_.pop_back();
        slots_[number] = Row{std::move(cells), temporary, false};
    } else {
        number = uint32_t(slots_.size());
        slots_.push_back(Row{std::move(cells), temporary, false});
    }
    order_.insert(order_.begin() + ptrdiff_t(at), number);
    return &slots_[number];
}

bool RowStore::erase(std::span<const size_t> keyColumns, const Cells& key) {
    size_t at = lowerBound(keyColumns, key, false);
    if (at == order_.size() || compareAt(keyColumns, at, key, false) != 0) return false;
    Row& row = slots_[order_[at]];
    if (row.removed) return false;
    // The key cells stay: the tombstone keeps its place in the order.
    row.removed = true;
    ++removed_;
    if (removed_ > 64 && removed_ * 2 > order_.size()) dropTombstones();
    return true;
}

void RowStore::dropTombstones() {
    size_t kept = 0;
    for (uint32_t number : order_) {
        Row& row = slots_[number];
        if (row.removed) {
            row = Row{};
            free_.push_back(number);
        } else {
            order_[kept++] = number;
        }
    }
    order_.resize(kept);
    removed_ = 0;
}

}  // namespace winsys::msi
