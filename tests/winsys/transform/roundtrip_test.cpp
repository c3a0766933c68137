// Round trip as a property: for random pairs of databases (random tables and
// columns of every kind, rows, binary cells, _Streams rows), applying the
// transform generated from the pair to a copy of the reference gives the
// changed database, table by table and stream by stream.
#include <gtest/gtest.h>

#include "transform/transform.h"
#include "transform_test_util.h"

using namespace trtest;

namespace {

class Random {
public:
    explicit Random(unsigned seed) : g_(seed) {}
    int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(g_); }
    bool chance(int percent) { return below(100) < percent; }
    std::string word(int maxLength = 12) {
        static const char alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJ0123456789_ .-";
        std::string s;
        for (int i = 0, n = 1 + below(maxLength); i < n; ++i) s.push_back(alphabet[below(int(sizeof alphabet) - 1)]);
        return s;
    }
    std::string bytes() {
        std::string s(size_t(below(chance(10) ? 9000 : 300)), '\0');
        for (char& c : s) c = char(below(256));
        return s;
    }

private:
    std::mt19937 g_;
};

Value randomValue(Random& r, const ColumnDef& c, bool keyish) {
    if (c.nullable && r.chance(20)) return std::nullopt;
    switch (c.kind) {
    case Kind::String: return keyish ? "k" + std::to_string(r.below(40)) : r.word();
    case Kind::Short: return std::to_string(r.below(keyish ? 40 : 60000) - (keyish ? 0 : 30000));
    case Kind::Long: return std::to_string(int64_t(r.below(2000000)) * 1000 - 1000000000);
    case Kind::Object: return r.bytes();
    }
    return std::nullopt;
}

std::vector<Value> randomRow(Random& r, const TableModel& t) {
    std::vector<Value> row;
    for (const auto& c : t.columns) row.push_back(randomValue(r, c, c.key));
    return row;
}

void addRows(Random& r, TableModel& t, int count) {
    for (int i = 0; i < count; ++i) {
        auto row = randomRow(r, t);
        t.rows[keyOf(t, row)] = row;
    }
}

TableModel randomTable(Random& r) {
    TableModel t;
    int keys = 1 + r.below(2);
    int columns = keys + r.below(r.chance(25) ? 20 : 6);
    for (int i = 0; i < columns; ++i) {
        ColumnDef c;
        c.name = "C" + std::to_string(i) + r.word(4);
        for (char& ch : c.name)
            if (ch == ' ' || ch == '.' || ch == '-') ch = '_';
        c.key = i < keys;
        c.kind = c.key ? (r.chance(60) ? Kind::String : Kind::Short) : Kind(r.below(4));
        c.nullable = !c.key && r.chance(60);
        t.columns.push_back(c);
    }
    addRows(r, t, r.below(30));
    return t;
}

Model randomModel(Random& r) {
    Model m;
    for (int i = 0, n = 1 + r.below(4); i < n; ++i) m.tables["T" + std::to_string(i) + r.word(5).substr(0, 1)] = randomTable(r);
    for (auto& [name, t] : m.tables) (void)name;
    for (int i = 0, n = r.below(4); i < n; ++i) m.streams["s" + std::to_string(r.below(8))] = r.bytes();
    // Table names must be identifiers.
    Model clean;
    for (auto& [name, t] : m.tables) {
        std::string id = name;
        for (char& ch : id)
            if (!isalnum(uint8_t(ch))) ch = '_';
        clean.tables[id] = t;
    }
    clean.streams = m.streams;
    return clean;
}

Model mutate(Random& r, Model m) {
    for (auto it = m.tables.begin(); it != m.tables.end();) {
        if (r.chance(10)) {
            it = m.tables.erase(it);
            continue;
        }
        TableModel& t = it->second;
        for (auto row = t.rows.begin(); row != t.rows.end();) {
            if (r.chance(20)) {
                row = t.rows.erase(row);
                continue;
            }
            if (r.chance(30))
                for (size_t i = 0; i < t.columns.size(); ++i)
                    if (!t.columns[i].key && r.chance(40)) row->second[i] = randomValue(r, t.columns[i], false);
            ++row;
        }
        if (r.chance(20)) {
            ColumnDef c;
            c.name = "Added" + std::to_string(r.below(100));
            c.kind = Kind(r.below(4));
            c.nullable = true;
            bool clash = std::any_of(t.columns.begin(), t.columns.end(), [&](const ColumnDef& d) { return d.name == c.name; });
            if (!clash) {
                t.columns.push_back(c);
                for (auto& [key, row] : t.rows) row.push_back(r.chance(50) ? randomValue(r, c, false) : std::nullopt);
            }
        }
        addRows(r, t, r.below(10));
        ++it;
    }
    if (r.chance(30)) m.tables["New" + std::to_string(r.below(10))] = randomTable(r);
    for (auto it = m.streams.begin(); it != m.streams.end();) {
        if (r.chance(30)) {
            it = m.streams.erase(it);
            continue;
        }
        if (r.chance(30)) it->second = r.bytes();
        ++it;
    }
    if (r.chance(40)) m.streams["s" + std::to_string(r.below(8))] = r.bytes();
    return m;
}

std::string copyOf(const std::string& from, const std::string& to) {
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
    return to;
}

// Generates through the API, applies through the API to a copy, commits.
UINT roundTrip(const std::string& changed, const std::string& reference, const std::string& mst, const std::string& target) {
    MSIHANDLE c = 0, r = 0, t = 0;
    EXPECT_EQ(MsiOpenDatabaseW(w(changed).c_str(), MSIDBOPEN_READONLY, &c), 0u);
    EXPECT_EQ(MsiOpenDatabaseW(w(reference).c_str(), MSIDBOPEN_READONLY, &r), 0u);
    UINT g = MsiDatabaseGenerateTransformA(c, r, mst.c_str(), 0, 0);
    MsiCloseHandle(c);
    MsiCloseHandle(r);
    if (g) return g;
    copyOf(reference, target);
    EXPECT_EQ(MsiOpenDatabaseW(w(target).c_str(), MSIDBOPEN_TRANSACT, &t), 0u);
    UINT a = MsiDatabaseApplyTransformA(t, mst.c_str(), 0);
    if (a == 0) {
        EXPECT_EQ(MsiDatabaseCommit(t), 0u);
    }
    MsiCloseHandle(t);
    return a;
}

TEST(TransformRoundTrip, RandomPairsOfDatabases) {
    ScratchDir dir;
    int generated = 0;
    for (unsigned seed = 1; seed <= 80; ++seed) {
        Random r(seed);
        Model before = randomModel(r);
        Model after = mutate(r, before);
        std::string ref = dir.file("ref.msi"), chg = dir.file("chg.msi");
        ASSERT_TRUE(writeModel(before, ref, dir.path())) << seed;
        ASSERT_TRUE(writeModel(after, chg, dir.path())) << seed;
        std::remove(dir.file("t.mst").c_str());
        UINT g = roundTrip(chg, ref, dir.file("t.mst"), dir.file("out.msi"));
        if (canonical(chg) == canonical(ref)) {
            EXPECT_EQ(g, UINT(ERROR_NO_DATA)) << seed;
            EXPECT_FALSE(std::filesystem::exists(dir.file("t.mst"))) << seed;
            continue;
        }
        ASSERT_EQ(g, 0u) << "seed " << seed;
        ++generated;
        EXPECT_EQ(canonical(dir.file("out.msi")), canonical(chg)) << "seed " << seed;
        // The reverse transform brings the changed package back.
        ASSERT_EQ(roundTrip(ref, chg, dir.file("back.mst"), dir.file("back.msi")), 0u) << seed;
        EXPECT_EQ(canonical(dir.file("back.msi")), canonical(ref)) << "seed " << seed;
    }
    EXPECT_GT(generated, 60);
}

// More strings than 2-byte references reach: the transform's own pool needs
// 3-byte references, in the records of every table it carries.
TEST(TransformRoundTrip, StringsPastTwoByteReferences) {
    ScratchDir dir;
    Model before;
    TableModel t;
    t.columns = {{"Key", Kind::String, false, true}, {"Text", Kind::String, true, false}, {"Num", Kind::Long, true, false}};
    for (int i = 0; i < 100; ++i) t.rows["x" + std::to_string(i)] = {"x" + std::to_string(i), "old", std::to_string(i)};
    before.tables["Small"] = t;
    before.tables["Big"] = t;
    Model after = before;
    for (int i = 0; i < 36000; ++i) {
        std::string k = "key" + std::to_string(i);
        after.tables["Big"].rows[k + '\x01'] = {k, "text" + std::to_string(i), std::to_string(i)};
    }
    after.tables["Small"].rows.erase(after.tables["Small"].rows.begin());
    after.tables["Small"].rows.begin()->second[1] = "changed";
    ASSERT_TRUE(writeModel(before, dir.file("ref.msi"), dir.path()));
    ASSERT_TRUE(writeModel(after, dir.file("chg.msi"), dir.path()));
    ASSERT_EQ(roundTrip(dir.file("chg.msi"), dir.file("ref.msi"), dir.file("t.mst"), dir.file("out.msi")), 0u);
    std::string mst = readFile(dir.file("t.mst"));
    std::shared_ptr<winsys::msi::Database> out;
    EXPECT_EQ(canonical(dir.file("out.msi")), canonical(dir.file("chg.msi")));
    // Back again: deletions of 36,000 rows with 3-byte keys.
    ASSERT_EQ(roundTrip(dir.file("ref.msi"), dir.file("chg.msi"), dir.file("b.mst"), dir.file("back.msi")), 0u);
    EXPECT_EQ(canonical(dir.file("back.msi")), canonical(dir.file("ref.msi")));
}

TEST(TransformGenerate, NoDifferenceAndDifferenceChecks) {
    ScratchDir dir;
    Random r(7);
    Model m = randomModel(r);
    m.tables["Property"] = TableModel{{{"Property", Kind::String, false, true}, {"Value", Kind::String, false, false}}, {}};
    m.tables["Property"].rows["A\x01"] = {"A", "1"};
    ASSERT_TRUE(writeModel(m, dir.file("a.msi"), dir.path()));
    Model changed = m;
    changed.tables["Property"].rows["A\x01"] = {"A", "2"};
    ASSERT_TRUE(writeModel(changed, dir.file("b.msi"), dir.path()));
    MSIHANDLE a = 0, b = 0;
    ASSERT_EQ(MsiOpenDatabaseW(w(dir.file("a.msi")).c_str(), MSIDBOPEN_READONLY, &a), 0u);
    ASSERT_EQ(MsiOpenDatabaseW(w(dir.file("b.msi")).c_str(), MSIDBOPEN_READONLY, &b), 0u);
    // Null path: only the check.
    EXPECT_EQ(MsiDatabaseGenerateTransformW(a, a, nullptr, 0, 0), UINT(ERROR_NO_DATA));
    EXPECT_EQ(MsiDatabaseGenerateTransformW(b, a, nullptr, 0, 0), 0u);
    // No difference writes nothing, even where a file is asked for.
    EXPECT_EQ(MsiDatabaseGenerateTransformA(a, a, dir.file("none.mst").c_str(), 0, 0), UINT(ERROR_NO_DATA));
    EXPECT_FALSE(std::filesystem::exists(dir.file("none.mst")));
    EXPECT_EQ(MsiDatabaseGenerateTransformA(b, 0, dir.file("x.mst").c_str(), 0, 0), UINT(ERROR_INVALID_HANDLE));
    EXPECT_EQ(MsiDatabaseGenerateTransformA(b, a, dir.file("x.mst").c_str(), 1, 0), UINT(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(MsiDatabaseGenerateTransformA(b, a, (dir.path() + "/missing/dir/x.mst").c_str(), 0, 0), UINT(ERROR_CREATE_FAILED));
    ASSERT_EQ(MsiDatabaseGenerateTransformA(b, a, dir.file("x.mst").c_str(), 0, 0), 0u);
    // A transform file: its class, its own pool and summary information.
    MSIHANDLE si = 0;
    ASSERT_EQ(MsiGetSummaryInformationA(0, dir.file("x.mst").c_str(), 0, &si), 0u);
    INT value = 0;
    UINT type = 0;
    EXPECT_EQ(MsiSummaryInfoGetPropertyA(si, PID_CHARCOUNT, &type, &value, nullptr, nullptr, nullptr), 0u);
    EXPECT_EQ(type, UINT(VT_I4));
    EXPECT_EQ(value, 0);
    MsiCloseHandle(si);
    MsiCloseHandle(a);
    MsiCloseHandle(b);
}

}  // namespace
