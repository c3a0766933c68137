// The row store against an ordered map of the same rows: random inserts,
// removals, re-inserts and updates in any key order, with keys of one column
// and of several whose columns are not the first ones, across the clean-ups
// of tombstones.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "msi/row_store.h"

using namespace winsys::msi;

namespace {

TEST(RowStore, KeepsRowsInKeyOrderThroughAnyMixOfChanges) {
    std::mt19937 random(16);
    for (int round = 0; round < 20; ++round) {
        // Key: column 2, then column 0, or column 2 alone; column 1 is data.
        const std::vector<size_t> keyColumns = round < 10 ? std::vector<size_t>{2, 0} : std::vector<size_t>{2};
        auto keyOf = [&](const Cells& cells) {
            Cells key;
            for (size_t k : keyColumns) key.push_back(cells[k]);
            return key;
        };
        RowStore store;
        std::map<Cells, Cells> model;
        // Small key ranges force collisions, re-adds over tombstones and,
        // with many removals, the compaction of tombstones.
        const uint32_t range = round % 2 ? 8 : keyColumns.size() == 1 ? 2000 : 40;
        for (int step = 0; step < 3000; ++step) {
            Cells cells{uint32_t(random() % range), uint32_t(random()), uint32_t(random() % range)};
            Cells key = keyOf(cells);
            switch (random() % 4) {
            case 0:
            case 1: {
                bool fresh = !model.count(key);
                Row* row = store.insert(keyColumns, cells, step % 3 == 0);
                ASSERT_EQ(row != nullptr, fresh);
                if (fresh) {
                    EXPECT_EQ(Cells(row->cells.begin(), row->cells.end()), cells);
                    EXPECT_EQ(row->temporary, step % 3 == 0);
                    model[key] = cells;
                }
                break;
            }
            case 2:
                ASSERT_EQ(store.erase(keyColumns, key), model.erase(key) == 1);
                break;
            case 3: {
                Row* row = store.find(keyColumns, key);
                auto it = model.find(key);
                ASSERT_EQ(row != nullptr, it != model.end());
                if (row) {
                    ASSERT_EQ(Cells(row->cells.begin(), row->cells.end()), it->second);
                    row->cells[1] = it->second[1] = uint32_t(random());
                }
                break;
            }
            }
        }
        auto sameAs = [&](const RowStore& rows) {
            ASSERT_EQ(rows.size(), model.size());
            auto expected = model.begin();
            for (const Row& row : rows) {
                ASSERT_NE(expected, model.end());
                EXPECT_EQ(Cells(row.cells.begin(), row.cells.end()), expected->second);
                ++expected;
            }
            EXPECT_EQ(expected, model.end());
        };
        // A copy holds the same rows in cells of its own.
        auto same = [&] {
            sameAs(store);
            RowStore copy = store;
            sameAs(copy);
            for (const auto& [key, cells] : model) {
                const Row* row = copy.find(keyColumns, key);
                ASSERT_NE(row, nullptr);
                EXPECT_NE(row->cells.data(), store.find(keyColumns, key)->cells.data());
            }
        };
        same();
        // Removing most rows leaves more tombstones than rows: they go, and
        // the rows and the numbers they freed must still add up.
        std::vector<Cells> keys;
        for (const auto& [key, cells] : model) keys.push_back(key);
        std::shuffle(keys.begin(), keys.end(), random);
        for (size_t i = 0; i < keys.size() * 9 / 10; ++i) {
            ASSERT_TRUE(store.erase(keyColumns, keys[i]));
            model.erase(keys[i]);
        }
        same();
        for (size_t i = 0; i < keys.size() / 2; ++i) {
            Cells cells{keys[i].size() > 1 ? keys[i][1] : 0, uint32_t(i), keys[i][0]};
            ASSERT_NE(store.insert(keyColumns, cells, false), nullptr);
            model[keys[i]] = cells;
        }
        same();
        store.clear();
        EXPECT_TRUE(store.empty());
        EXPECT_EQ(store.begin(), store.end());
    }
}

}  // namespace
