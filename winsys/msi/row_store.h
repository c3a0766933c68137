// The rows of one table, in key order. The cells of all rows live in a few
// large blocks that never move, each row's cells side by side; a vector of row
// records and a vector of row numbers sorted by key find them by binary
// search. A table of tens of thousands of rows then costs a handful of
// allocations to load and to free, instead of a tree node and two vectors per
// row. Removed rows stay in the order as tombstones until they outnumber the
// living, so removing is as cheap as finding; re-adding the same key takes the
// tombstone's place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <span>
#include <vector>

#include "table_codec.h"

namespace winsys::msi {

struct Row {
    // Stays valid, and keeps its place, until the row is removed or the
    // table's columns change; the number of cells is the table's column count.
    std::span<uint32_t> cells;
    bool temporary = false;
    bool removed = false;  // a tombstone: still sorted by its key cells
};

class RowStore {
public:
    // Living rows in key order. Adding or removing rows invalidates
    // iterators, and adding rows may move the Row records (not their cells):
    // hold keys, not Row pointers, across changes.
    template <typename R>
    class Iterator {
    public:
        using value_type = Row;
        using reference = R&;
        using difference_type = std::ptrdiff_t;
        using iterator_category = std::forward_iterator_tag;
        Iterator() = default;
        Iterator(const RowStore* store, size_t at) : store_(store), at_(at) { skip(); }
        reference operator*() const { return const_cast<R&>(store_->slots_[store_->order_[at_]]); }
        R* operator->() const { return &**this; }
        Iterator& operator++() {
            ++at_;
            skip();
            return *this;
        }
        Iterator operator++(int) {
            Iterator before = *this;
            ++*this;
            return before;
        }
        bool operator==(const Iterator& other) const { return at_ == other.at_; }

    private:
        void skip() {
            while (at_ < store_->order_.size() && store_->slots_[store_->order_[at_]].removed) ++at_;
        }
        const RowStore* store_ = nullptr;
        size_t at_ = 0;
    };
    using iterator = Iterator<Row>;
    using const_iterator = Iterator<const Row>;

    RowStore() = default;
    RowStore(RowStore&&) = default;
    RowStore& operator=(RowStore&&) = default;
    // A copy holds the living rows in cells of its own.
    RowStore(const RowStore& other);
    RowStore& operator=(const RowStore& other);

    iterator begin() { return iterator(this, 0); }
    iterator end() { return iterator(this, order_.size()); }
    const_iterator begin() const { return const_iterator(this, 0); }
    const_iterator end() const { return const_iterator(this, order_.size()); }
    size_t size() const { return order_.size() - removed_; }
    bool empty() const { return size() == 0; }
    void clear();
    // Room for `count` rows of `width` cells in all, so that adding them
    // allocates nothing more.
    void reserve(size_t count, size_t width);

    // `keyColumns` says which cells of a row make its key; `key` holds those
    // cells in that order.
    Row* find(std::span<const size_t> keyColumns, CellView key);
    const Row* find(std::span<const size_t> keyColumns, CellView key) const;
    // Adds a copy of `cells`; nullptr when a row with the same key is there
    // already.
    Row* insert(std::span<const size_t> keyColumns, CellView cells, bool temporary);
    // False when there was no such row.
    bool erase(std::span<const size_t> keyColumns, CellView key);
    // Gives every row a null cell at `at`, the others moving one place on.
    void insertColumn(size_t at);

private:
    // First position in order_ whose row's key is not less than the key of
    // `probe`: a key, or with `probeIsRow` the cells of a whole row.
    size_t lowerBound(std::span<const size_t> keyColumns, CellView probe, bool probeIsRow) const;
    // Compares the key of the row at `position` in order_ with that of `probe`.
    int compareAt(std::span<const size_t> keyColumns, size_t position, CellView probe, bool probeIsRow) const;
    void dropTombstones();
    // Room for one row's cells.
    std::span<uint32_t> allocate(size_t width);
    void addBlock(size_t cells);

    std::vector<Row> slots_;       // every row, living or removed, by row number
    std::vector<uint32_t> order_;  // row numbers in key order
    std::vector<uint32_t> free_;   // row numbers no longer in order_, their cells reusable
    size_t removed_ = 0;           // tombstones in order_
    // The cells: blocks that are never resized, so rows' spans stay valid.
    std::vector<std::unique_ptr<uint32_t[]>> blocks_;
    size_t blockFree_ = 0;      // cells left at the end of the last block
    uint32_t* blockNext_ = nullptr;
    size_t lastBlock_ = 0;      // cells of the last block
};

}  // namespace winsys::msi
