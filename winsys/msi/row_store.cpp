// Keeping a table's rows sorted by key, their cells in shared blocks.
#include "row_store.h"

#include <algorithm>
#include <cstring>

namespace winsys::msi {
namespace {

// Blocks start small (most tables have a few rows) and grow to this many cells.
constexpr size_t kLargestBlock = size_t(64) << 10;

}  // namespace

RowStore::RowStore(const RowStore& other) { *this = other; }

RowStore& RowStore::operator=(const RowStore& other) {
    if (this == &other) return *this;
    RowStore copy;
    copy.reserve(other.size(), other.empty() ? 0 : other.begin()->cells.size());
    for (const Row& row : other) {
        copy.order_.push_back(uint32_t(copy.slots_.size()));
        copy.slots_.push_back(Row{copy.allocate(row.cells.size()), row.temporary, false});
        std::copy(row.cells.begin(), row.cells.end(), copy.slots_.back().cells.begin());
    }
    return *this = std::move(copy);
}

void RowStore::clear() {
    slots_.clear();
    order_.clear();
    free_.clear();
    removed_ = 0;
    blocks_.clear();
    blockFree_ = 0;
    blockNext_ = nullptr;
    lastBlock_ = 0;
}

void RowStore::reserve(size_t count, size_t width) {
    slots_.reserve(count);
    order_.reserve(count);
    size_t cells = count * width;
    if (cells > blockFree_) addBlock(cells);
}

void RowStore::addBlock(size_t cells) {
    blocks_.push_back(std::make_unique_for_overwrite<uint32_t[]>(cells));
    blockNext_ = blocks_.back().get();
    blockFree_ = cells;
    lastBlock_ = cells;
}

std::span<uint32_t> RowStore::allocate(size_t width) {
    if (width > blockFree_)
        addBlock(std::max(width, blocks_.empty() ? width * 8 : std::min(lastBlock_ * 2, kLargestBlock)));
    std::span<uint32_t> out(blockNext_, width);
    blockNext_ += width;
    blockFree_ -= width;
    return out;
}

// As the key vectors themselves would compare: cell by cell, then a shorter
// key first.
int RowStore::compareAt(std::span<const size_t> keyColumns, size_t position, CellView probe, bool probeIsRow) const {
    std::span<const uint32_t> cells = slots_[order_[position]].cells;
    size_t n = probeIsRow ? keyColumns.size() : std::min(keyColumns.size(), probe.size());
    for (size_t i = 0; i < n; ++i) {
        uint32_t a = cells[keyColumns[i]];
        uint32_t b = probeIsRow ? probe[keyColumns[i]] : probe[i];
        if (a != b) return a < b ? -1 : 1;
    }
    if (probeIsRow) return 0;
    return keyColumns.size() < probe.size() ? -1 : keyColumns.size() > probe.size() ? 1 : 0;
}

size_t RowStore::lowerBound(std::span<const size_t> keyColumns, CellView probe, bool probeIsRow) const {
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

const Row* RowStore::find(std::span<const size_t> keyColumns, CellView key) const {
    size_t at = lowerBound(keyColumns, key, false);
    if (at == order_.size() || compareAt(keyColumns, at, key, false) != 0) return nullptr;
    const Row& row = slots_[order_[at]];
    return row.removed ? nullptr : &row;
}

Row* RowStore::find(std::span<const size_t> keyColumns, CellView key) {
    return const_cast<Row*>(static_cast<const RowStore*>(this)->find(keyColumns, key));
}

Row* RowStore::insert(std::span<const size_t> keyColumns, CellView cells, bool temporary) {
    // Rows mostly come in key order (a table stream, an export): they go at
    // the end without a search.
    size_t at = order_.empty() || compareAt(keyColumns, order_.size() - 1, cells, true) < 0
                    ? order_.size()
                    : lowerBound(keyColumns, cells, true);
    if (at < order_.size() && compareAt(keyColumns, at, cells, true) == 0) {
        Row& row = slots_[order_[at]];
        if (!row.removed) return nullptr;
        std::copy(cells.begin(), cells.end(), row.cells.begin());
        row.temporary = temporary;
        row.removed = false;
        --removed_;
        return &row;
    }
    uint32_t number;
    if (!free_.empty() && slots_[free_.back()].cells.size() == cells.size()) {
        number = free_.back();
        free_.pop_back();
    } else {
        number = uint32_t(slots_.size());
        slots_.push_back(Row{allocate(cells.size()), false, false});
    }
    Row& row = slots_[number];
    std::copy(cells.begin(), cells.end(), row.cells.begin());
    row.temporary = temporary;
    row.removed = false;
    order_.insert(order_.begin() + ptrdiff_t(at), number);
    return &row;
}

bool RowStore::erase(std::span<const size_t> keyColumns, CellView key) {
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
        if (slots_[number].removed) free_.push_back(number);
        else order_[kept++] = number;
    }
    order_.resize(kept);
    removed_ = 0;
}

void RowStore::insertColumn(size_t at) {
    dropTombstones();
    // Every row moves to new blocks one cell wider; rows no longer in the
    // order are left behind for good.
    std::vector<std::unique_ptr<uint32_t[]>> old = std::move(blocks_);
    blocks_.clear();
    blockFree_ = 0;
    blockNext_ = nullptr;
    lastBlock_ = 0;
    free_.clear();
    size_t width = order_.empty() ? 0 : slots_[order_.front()].cells.size() + 1;
    reserve(order_.size(), width);
    for (uint32_t number : order_) {
        Row& row = slots_[number];
        std::span<uint32_t> wider = allocate(width);
        std::copy(row.cells.begin(), row.cells.begin() + ptrdiff_t(at), wider.begin());
        wider[at] = 0;
        std::copy(row.cells.begin() + ptrdiff_t(at), row.cells.end(), wider.begin() + ptrdiff_t(at) + 1);
        row.cells = wider;
    }
}

}  // namespace winsys::msi
