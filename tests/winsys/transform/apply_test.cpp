// Applying transforms: the error conditions and their suppression flags, the
// result codes, and bad input (not a transform, damaged, truncated, meant for
// other tables) that must fail without changing the database.
#include <gtest/gtest.h>

#include <random>

#include "msi/stream_name.h"
#include "storage/compound_file.h"
#include "transform/transform.h"
#include "transform_test_util.h"

using namespace trtest;
using winsys::msi::Database;
using winsys::msi::OpenMode;

namespace {

TableModel propertyTable(std::initializer_list<std::pair<const char*, const char*>> rows) {
    TableModel t{{{"Property", Kind::String, false, true}, {"Value", Kind::String, false, false}}, {}};
    for (auto& [k, v] : rows) t.rows[std::string(k) + '\x01'] = {k, v};
    return t;
}

class Apply : public ::testing::Test {
protected:
    // base: Property {A=1, B=2}, Other, a stream; changed: A updated, B
    // deleted, C inserted, Extra table added, Other dropped, stream removed.
    void SetUp() override {
        Model base, changed;
        base.tables["Property"] = propertyTable({{"A", "1"}, {"B", "2"}});
        base.tables["Other"] = TableModel{{{"Id", Kind::Short, false, true}}, {{"1\x01", {"1"}}}};
        base.streams["cab"] = "cabinet bytes";
        changed.tables["Property"] = propertyTable({{"A", "one"}, {"C", "3"}});
        changed.tables["Extra"] = TableModel{{{"Id", Kind::Short, false, true}, {"Data", Kind::Object, true, false}},
                                             {{"5\x01", {"5", "blob"}}}};
        ASSERT_TRUE(writeModel(base, dir.file("base.msi"), dir.path()));
        ASSERT_TRUE(writeModel(changed, dir.file("changed.msi"), dir.path()));
        mst = generate(dir.file("changed.msi"), dir.file("base.msi"), "t.mst");
    }

    std::string generate(const std::string& changed, const std::string& reference, const std::string& name) {
        std::shared_ptr<Database> c, r;
        EXPECT_EQ(Database::open(changed, OpenMode::ReadOnly, &c), 0u);
        EXPECT_EQ(Database::open(reference, OpenMode::ReadOnly, &r), 0u);
        std::string path = dir.file(name);
        EXPECT_EQ(winsys::transform::generateTransform(*c, *r, &path), 0u);
        return path;
    }

    // Applies to a fresh copy of `package` in memory; the state before and
    // after, and the result.
    UINT applyTo(const std::string& package, const std::string& transform, int conditions, std::string* before,
                 std::string* after) {
        std::filesystem::copy_file(package, dir.file("work.msi"), std::filesystem::copy_options::overwrite_existing);
        std::shared_ptr<Database> db;
        EXPECT_EQ(Database::open(dir.file("work.msi"), OpenMode::Transact, &db), 0u);
        *before = canonical(*db);
        UINT r = winsys::transform::applyTransform(*db, transform, conditions);
        *after = canonical(*db);
        return r;
    }

    UINT expectUnchangedOnFailure(const std::string& package, const std::string& transform, int conditions = 0) {
        std::string before, after;
        UINT r = applyTo(package, transform, conditions, &before, &after);
        if (r) {
            EXPECT_EQ(after, before) << "result " << r;
        }
        return r;
    }

    ScratchDir dir;
    std::string mst;
};

TEST_F(Apply, TwiceMeetsEveryConditionUnlessSuppressed) {
    std::string before, after;
    ASSERT_EQ(applyTo(dir.file("base.msi"), mst, 0, &before, &after), 0u);
    EXPECT_EQ(after, canonical(dir.file("changed.msi")));
    // Applied to the changed package: C and Extra exist, B and Other are
    // gone, A has its value: each of these is a condition of its own.
    const std::string changed = dir.file("changed.msi");
    EXPECT_EQ(expectUnchangedOnFailure(changed, mst), UINT(ERROR_INSTALL_TRANSFORM_FAILURE));
    int all = MSITRANSFORM_ERROR_ADDEXISTINGROW | MSITRANSFORM_ERROR_DELMISSINGROW | MSITRANSFORM_ERROR_ADDEXISTINGTABLE |
              MSITRANSFORM_ERROR_DELMISSINGTABLE | MSITRANSFORM_ERROR_UPDATEMISSINGROW;
    for (int missing : {MSITRANSFORM_ERROR_ADDEXISTINGROW, MSITRANSFORM_ERROR_DELMISSINGROW,
                        MSITRANSFORM_ERROR_ADDEXISTINGTABLE, MSITRANSFORM_ERROR_DELMISSINGTABLE})
        EXPECT_EQ(expectUnchangedOnFailure(changed, mst, all & ~missing), UINT(ERROR_INSTALL_TRANSFORM_FAILURE)) << missing;
    ASSERT_EQ(applyTo(changed, mst, all, &before, &after), 0u);
    EXPECT_EQ(after, canonical(changed));
}

TEST_F(Apply, UpdateOfMissingRow) {
    Model m;
    m.tables["Property"] = propertyTable({{"B", "2"}});  // no A to update
    m.tables["Other"] = TableModel{{{"Id", Kind::Short, false, true}}, {}};
    m.streams["cab"] = "x";
    ASSERT_TRUE(writeModel(m, dir.file("noa.msi"), dir.path()));
    int others = MSITRANSFORM_ERROR_ADDEXISTINGROW | MSITRANSFORM_ERROR_DELMISSINGROW;
    EXPECT_EQ(expectUnchangedOnFailure(dir.file("noa.msi"), mst, others), UINT(ERROR_INSTALL_TRANSFORM_FAILURE));
    std::string before, after;
    EXPECT_EQ(applyTo(dir.file("noa.msi"), mst, others | MSITRANSFORM_ERROR_UPDATEMISSINGROW, &before, &after), 0u);
    EXPECT_EQ(after.find("|A|"), std::string::npos);  // a skipped update inserts nothing
}

TEST_F(Apply, CodePageChange) {
    Model m;
    m.tables["Property"] = propertyTable({{"A", "1"}});
    ASSERT_TRUE(writeModel(m, dir.file("w.msi"), dir.path(), 1252));
    m.tables["Property"] = propertyTable({{"A", "2"}});
    ASSERT_TRUE(writeModel(m, dir.file("c.msi"), dir.path(), 1251));
    std::string t = generate(dir.file("c.msi"), dir.file("w.msi"), "cp.mst");
    EXPECT_EQ(expectUnchangedOnFailure(dir.file("w.msi"), t), UINT(ERROR_INSTALL_TRANSFORM_FAILURE));
    std::string before, after;
    ASSERT_EQ(applyTo(dir.file("w.msi"), t, MSITRANSFORM_ERROR_CHANGECODEPAGE, &before, &after), 0u);
    EXPECT_EQ(after, canonical(dir.file("c.msi")));
}

TEST_F(Apply, ResultCodesThroughTheApi) {
    MSIHANDLE db = 0;
    std::filesystem::copy_file(dir.file("base.msi"), dir.file("api.msi"));
    ASSERT_EQ(MsiOpenDatabaseW(w(dir.file("api.msi")).c_str(), MSIDBOPEN_TRANSACT, &db), 0u);
    EXPECT_EQ(MsiDatabaseApplyTransformA(0, mst.c_str(), 0), UINT(ERROR_INVALID_HANDLE));
    EXPECT_EQ(MsiDatabaseApplyTransformW(db, nullptr, 0), UINT(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(MsiDatabaseApplyTransformA(db, dir.file("missing.mst").c_str(), 0), UINT(ERROR_OPEN_FAILED));
    // A package is not a transform; nor is a storage the database lacks.
    EXPECT_EQ(MsiDatabaseApplyTransformA(db, dir.file("changed.msi").c_str(), 0), UINT(ERROR_INSTALL_TRANSFORM_FAILURE));
    EXPECT_EQ(MsiDatabaseApplyTransformA(db, ":nothing", 0), UINT(ERROR_OPEN_FAILED));
    EXPECT_EQ(MsiDatabaseApplyTransformA(db, mst.c_str(), 0), 0u);
    ASSERT_EQ(MsiDatabaseCommit(db), 0u);
    MsiCloseHandle(db);
    EXPECT_EQ(canonical(dir.file("api.msi")), canonical(dir.file("changed.msi")));
}

// A transform kept inside the package as a sub-storage applies from there,
// and the storage is never taken for a table.
TEST_F(Apply, TransformHeldAsSubStorage) {
    std::filesystem::copy_file(dir.file("base.msi"), dir.file("st.msi"));
    {
        std::shared_ptr<Database> db;
        ASSERT_EQ(Database::open(dir.file("st.msi"), OpenMode::Transact, &db), 0u);
        ASSERT_EQ(db->writeStorage(u"fix", mst), 0u);
        ASSERT_EQ(db->commit(), 0u);
    }
    MSIHANDLE db = 0;
    ASSERT_EQ(MsiOpenDatabaseW(w(dir.file("st.msi")).c_str(), MSIDBOPEN_TRANSACT, &db), 0u);
    EXPECT_EQ(MsiDatabaseApplyTransformA(db, ":fix", 0), 0u);
    ASSERT_EQ(MsiDatabaseCommit(db), 0u);
    MsiCloseHandle(db);
    std::string got = canonical(dir.file("st.msi"));
    EXPECT_EQ(got, canonical(dir.file("changed.msi")));
}

TEST_F(Apply, BadInputFailsAndChangesNothing) {
    const std::string base = dir.file("base.msi");
    writeFile(dir.file("text.mst"), "this is not a compound file at all\n");
    EXPECT_EQ(expectUnchangedOnFailure(base, dir.file("text.mst")), UINT(ERROR_INSTALL_TRANSFORM_FAILURE));
    EXPECT_EQ(expectUnchangedOnFailure(base, base), UINT(ERROR_INSTALL_TRANSFORM_FAILURE));
    // Truncated anywhere.
    std::string bytes = readFile(mst);
    for (size_t cut : {size_t(0), size_t(100), size_t(512), size_t(1500), bytes.size() / 2, bytes.size() - 512}) {
        writeFile(dir.file("cut.mst"), bytes.substr(0, cut));
        EXPECT_NE(expectUnchangedOnFailure(base, dir.file("cut.mst")), 0u) << cut;
    }
    // Made for other tables: a package without Property or Other.
    Model other;
    other.tables["Unrelated"] = TableModel{{{"Id", Kind::Short, false, true}}, {{"1\x01", {"1"}}}};
    ASSERT_TRUE(writeModel(other, dir.file("other.msi"), dir.path()));
    EXPECT_EQ(expectUnchangedOnFailure(dir.file("other.msi"), mst, 0xFF & ~MSITRANSFORM_ERROR_VIEWTRANSFORM),
              UINT(ERROR_INSTALL_TRANSFORM_FAILURE));
}

// Damaged records: every byte of every table stream of the transform in
// turn, and random bytes; the apply succeeds or fails cleanly.
TEST_F(Apply, DamagedRecordsNeverHalfApply) {
    std::unique_ptr<winsys::cfb::CompoundFile> original;
    ASSERT_EQ(winsys::cfb::CompoundFile::open(mst, {}, &original), S_OK);
    std::vector<winsys::cfb::EntryInfo> kids;
    ASSERT_EQ(original->children(winsys::cfb::kRootEntry, &kids), S_OK);
    std::mt19937 g(3);
    int failures = 0;
    for (const auto& kid : kids) {
        std::vector<uint8_t> data;
        ASSERT_EQ(original->readStream(kid.id, &data), S_OK);
        for (int round = 0; round < 40 && !data.empty(); ++round) {
            std::vector<uint8_t> damaged = data;
            if (round % 4 == 3) damaged.resize(g() % damaged.size());
            else damaged[g() % damaged.size()] ^= uint8_t(1 + g() % 255);
            std::filesystem::copy_file(mst, dir.file("bad.mst"), std::filesystem::copy_options::overwrite_existing);
            std::unique_ptr<winsys::cfb::CompoundFile> f;
            ASSERT_EQ(winsys::cfb::CompoundFile::open(dir.file("bad.mst"), {winsys::cfb::Access::ReadWrite, 0}, &f), S_OK);
            ASSERT_EQ(f->writeStream(winsys::cfb::kRootEntry, kid.name, damaged), S_OK);
            ASSERT_EQ(f->commit(), S_OK);
            f.reset();
            if (expectUnchangedOnFailure(dir.file("base.msi"), dir.file("bad.mst"))) ++failures;
        }
    }
    EXPECT_GT(failures, 20);
}

}  // namespace
