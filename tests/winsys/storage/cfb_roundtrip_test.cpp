// Compound files written and read back: random trees of storages and
// streams, sizes around the mini-stream cutoff, large streams that need
// DIFAT sectors, version 4, the directory tree's order and colours, and the
// life of changes (commit, revert, readers that outlive a commit).
#include "cfb_test_util.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>

using namespace winsys::cfb;
using namespace cfbtest;

namespace {

// Expected content: path of storages ("a/b") plus stream name -> bytes.
using Model = std::map<std::u16string, std::vector<uint8_t>>;

std::u16string join(const std::u16string& dir, const std::u16string& name) {
    return dir.empty() ? name : dir + u"/" + name;
}

void collect(const CompoundFile& file, EntryId storage, const std::u16string& dir, Model* streams,
             std::set<std::u16string>* storages) {
    std::vector<EntryInfo> kids;
    ASSERT_EQ(file.children(storage, &kids), S_OK);
    for (size_t i = 1; i < kids.size(); ++i) EXPECT_LT(compareNames(kids[i - 1].name, kids[i].name), 0);
    for (const auto& kid : kids) {
        if (kid.type == EntryType::Stream) {
            std::vector<uint8_t> bytes;
            ASSERT_EQ(file.readStream(kid.id, &bytes), S_OK);
            EXPECT_EQ(bytes.size(), kid.size);
            (*streams)[join(dir, kid.name)] = std::move(bytes);
        } else {
            storages->insert(join(dir, kid.name));
            collect(file, kid.id, join(dir, kid.name), streams, storages);
        }
    }
}

struct Tree {
    Model streams;
    std::set<std::u16string> storages;
};

Tree readAll(const CompoundFile& file) {
    Tree t;
    collect(file, kRootEntry, u"", &t.streams, &t.storages);
    return t;
}

Tree reopen(const std::string& path) {
    std::unique_ptr<CompoundFile> file;
    EXPECT_EQ(CompoundFile::open(path, {}, &file), S_OK);
    return file ? readAll(*file) : Tree{};
}

// Builds a random tree with names that collide in case and length.
Tree buildRandom(CompoundFile& file, uint32_t seed, size_t entries) {
    std::mt19937 rng(seed);
    const size_t sizes[] = {0, 1, 63, 64, 65, 4095, 4096, 4097, 511, 512, 513, 20000, 70000};
    Tree expected;
    std::vector<std::pair<EntryId, std::u16string>> storages{{kRootEntry, u""}};
    for (size_t i = 0; i < entries; ++i) {
        auto [parent, dir] = storages[rng() % storages.size()];
        std::u16string name;
        size_t length = 1 + rng() % 12;
        for (size_t k = 0; k < length; ++k) name.push_back(char16_t(u"aBcDxyZ_\x3800\x4840\x00e9"[rng() % 11]));
        EntryId existing;
        if (file.find(parent, name, &existing) == S_OK) continue;
        if (rng() % 5 == 0) {
            EntryId id;
            EXPECT_EQ(file.createStorage(parent, name, true, &id), S_OK);
            storages.push_back({id, join(dir, name)});
            expected.storages.insert(join(dir, name));
        } else {
            auto bytes = pattern(sizes[rng() % std::size(sizes)], uint32_t(i));
            EXPECT_EQ(file.writeStream(parent, name, bytes), S_OK);
            expected.streams[join(dir, name)] = bytes;
        }
    }
    return expected;
}

// Checks one storage's sibling tree: search order, no red node with a red
// child, the same number of black nodes on every path; returns black height.
int checkSubtree(const Raw& raw, const std::vector<size_t>& at, uint32_t index, const std::u16string* low,
                 const std::u16string* high, size_t* count) {
    if (index == 0xFFFFFFFF) return 1;
    EXPECT_LT(index, at.size());
    if (index >= at.size()) return 0;
    ++*count;
    size_t e = at[index];
    std::u16string name = raw.entryName(e);
    if (low) {
        EXPECT_LT(compareNames(*low, name), 0);
    }
    if (high) {
        EXPECT_LT(compareNames(name, *high), 0);
    }
    bool red = raw.bytes[e + 0x43] == 0;
    uint32_t left = get32(raw.bytes, e + 0x44), right = get32(raw.bytes, e + 0x48);
    for (uint32_t kid : {left, right})
        if (red && kid != 0xFFFFFFFF) {
            EXPECT_EQ(raw.bytes[at[kid] + 0x43], 1) << "red node with a red child";
        }
    int lh = checkSubtree(raw, at, left, low, &name, count);
    int rh = checkSubtree(raw, at, right, &name, high, count);
    EXPECT_EQ(lh, rh) << "black heights differ";
    if (raw.bytes[e + 0x42] == 1) {
        uint32_t child = get32(raw.bytes, e + 0x4C);
        if (child != 0xFFFFFFFF) {
            EXPECT_EQ(raw.bytes[at[child] + 0x43], 1) << "red tree root";
        }
        size_t kids = 0;
        checkSubtree(raw, at, child, nullptr, nullptr, &kids);
    }
    return lh + (red ? 0 : 1);
}

void checkDirectoryTrees(const std::string& path) {
    Raw raw(readFile(path));
    auto at = raw.entryOffsets();
    ASSERT_EQ(raw.bytes[at[0] + 0x42], 5);
    uint32_t child = get32(raw.bytes, at[0] + 0x4C);
    if (child == 0xFFFFFFFF) return;
    EXPECT_EQ(raw.bytes[at[child] + 0x43], 1) << "red tree root";
    size_t count = 0;
    checkSubtree(raw, at, child, nullptr, nullptr, &count);
}

class RoundTrip : public ::testing::TestWithParam<Version> {};

TEST_P(RoundTrip, RandomTreesComeBackWhole) {
    ScratchDir dir;
    for (uint32_t seed = 1; seed <= 6; ++seed) {
        std::string path = dir.file("tree" + std::to_string(seed) + ".cfb");
        std::unique_ptr<CompoundFile> file;
        ASSERT_EQ(CompoundFile::create(path, GetParam(), false, 0, &file), S_OK);
        Tree expected = buildRandom(*file, seed, 30 * seed);
        ASSERT_EQ(file->commit(), S_OK);
        EXPECT_FALSE(file->dirty());
        Tree afterCommit = readAll(*file);  // now read from the new file
        EXPECT_EQ(afterCommit.streams, expected.streams);
        EXPECT_EQ(afterCommit.storages, expected.storages);
        file.reset();
        Tree back = reopen(path);
        EXPECT_EQ(back.streams, expected.streams);
        EXPECT_EQ(back.storages, expected.storages);
        checkDirectoryTrees(path);
        EXPECT_EQ(Raw(readFile(path)).sectorSize, GetParam() == Version::V3 ? 512u : 4096u);
    }
}

TEST_P(RoundTrip, ChangesAfterReopenKeepTheRest) {
    ScratchDir dir;
    std::string path = dir.file("x.cfb");
    std::unique_ptr<CompoundFile> file;
    ASSERT_EQ(CompoundFile::create(path, GetParam(), false, 0, &file), S_OK);
    Tree expected = buildRandom(*file, 99, 120);
    ASSERT_EQ(file->commit(), S_OK);
    file.reset();

    ASSERT_EQ(CompoundFile::open(path, {Access::ReadWrite, 0}, &file), S_OK);
    // Grow a small stream past the cutoff, shrink a big one under it, delete
    // one, rename one, add a storage with a stream.
    std::vector<EntryInfo> kids;
    ASSERT_EQ(file->children(kRootEntry, &kids), S_OK);
    int changed = 0;
    for (const auto& kid : kids) {
        if (kid.type != EntryType::Stream) continue;
        if (changed == 0) {
            auto bytes = pattern(kid.size < 4096 ? 9000 : 100, 7);
            ASSERT_EQ(file->writeStream(kRootEntry, kid.name, bytes), S_OK);
            expected.streams[kid.name] = bytes;
        } else if (changed == 1) {
            ASSERT_EQ(file->remove(kid.id), S_OK);
            expected.streams.erase(kid.name);
        } else if (changed == 2) {
            ASSERT_EQ(file->rename(kid.id, u"Renamed"), S_OK);
            expected.streams[u"Renamed"] = expected.streams[kid.name];
            expected.streams.erase(kid.name);
        }
        ++changed;
    }
    EntryId sub;
    ASSERT_EQ(file->createStorage(kRootEntry, u"NewStorage", true, &sub), S_OK);
    ASSERT_EQ(file->writeStream(sub, u"inner", pattern(5000, 3)), S_OK);
    expected.storages.insert(u"NewStorage");
    expected.streams[u"NewStorage/inner"] = pattern(5000, 3);
    ASSERT_EQ(file->commit(), S_OK);
    file.reset();
    Tree back = reopen(path);
    EXPECT_EQ(back.streams, expected.streams);
    EXPECT_EQ(back.storages, expected.storages);
    checkDirectoryTrees(path);
}

INSTANTIATE_TEST_SUITE_P(Versions, RoundTrip, ::testing::Values(Version::V3, Version::V4),
                         [](const auto& info) { return info.param == Version::V3 ? "v3" : "v4"; });

TEST(CompoundFile, LargeStreamsNeedDifatSectors) {
    ScratchDir dir;
    std::string path = dir.file("big.cfb");
    std::unique_ptr<CompoundFile> file;
    ASSERT_EQ(CompoundFile::create(path, Version::V3, false, 0, &file), S_OK);
    auto big = pattern(9 << 20, 5);
    auto small = pattern(4095, 6);
    ASSERT_EQ(file->writeStream(kRootEntry, u"big", big), S_OK);
    ASSERT_EQ(file->writeStream(kRootEntry, u"small", small), S_OK);
    ASSERT_EQ(file->commit(), S_OK);
    file.reset();

    Raw raw(readFile(path));
    EXPECT_EQ(raw.sectorSize, 512u);
    EXPECT_GT(raw.fatSectorCount(), 109u);
    EXPECT_GE(raw.difatSectorCount(), 1u);
    // Every sector of the file has a FAT entry and the file holds no slack.
    uint64_t sectors = raw.bytes.size() / 512 - 1;
    EXPECT_LE(sectors, uint64_t(raw.fatSectorCount()) * 128);
    EXPECT_EQ(raw.bytes.size() % 512, 0u);

    Tree back = reopen(path);
    EXPECT_EQ(back.streams[u"big"], big);
    EXPECT_EQ(back.streams[u"small"], small);
}

TEST(CompoundFile, PositionalReadsAcrossSectorsAndMiniSectors) {
    ScratchDir dir;
    std::string path = dir.file("pos.cfb");
    std::unique_ptr<CompoundFile> file;
    ASSERT_EQ(CompoundFile::create(path, Version::V3, false, 0, &file), S_OK);
    auto big = pattern(300000, 1), small = pattern(3000, 2);
    ASSERT_EQ(file->writeStream(kRootEntry, u"b", big), S_OK);
    ASSERT_EQ(file->writeStream(kRootEntry, u"s", small), S_OK);
    ASSERT_EQ(file->commit(), S_OK);
    for (auto [name, data] : {std::pair{u"b", &big}, std::pair{u"s", &small}}) {
        EntryId id;
        ASSERT_EQ(file->find(kRootEntry, name, &id), S_OK);
        std::shared_ptr<const ByteSource> reader;
        ASSERT_EQ(file->openStream(id, &reader), S_OK);
        for (uint64_t offset : {0ul, 1ul, 63ul, 64ul, 511ul, 512ul, 2999ul, 4097ul, 299999ul, 300000ul, 400000ul}) {
            std::vector<uint8_t> got(777);
            size_t done = 0;
            ASSERT_EQ(reader->readAt(offset, got.data(), got.size(), &done), S_OK);
            size_t expect = offset >= data->size() ? 0 : std::min<size_t>(777, data->size() - offset);
            ASSERT_EQ(done, expect) << offset;
            EXPECT_TRUE(std::equal(got.begin(), got.begin() + done, data->begin() + std::min<size_t>(offset, data->size())));
        }
    }
}

TEST(CompoundFile, NamesCompareByLengthThenUpperCase) {
    EXPECT_LT(compareNames(u"Z", u"aa"), 0);
    EXPECT_EQ(compareNames(u"abc", u"ABC"), 0);
    EXPECT_LT(compareNames(u"abc", u"ABD"), 0);
    EXPECT_EQ(compareNames(u"\x00e9t\x00e9", u"\x00c9T\x00c9"), 0);
    EXPECT_GT(compareNames(u"_", u"a"), 0);  // upper-cased 'a' is 0x41, below '_' (0x5F)
}

TEST(CompoundFile, FindIgnoresCaseAndNamesAreChecked) {
    ScratchDir dir;
    std::unique_ptr<CompoundFile> file;
    ASSERT_EQ(CompoundFile::create(dir.file("n.cfb"), Version::V3, false, 0, &file), S_OK);
    ASSERT_EQ(file->writeStream(kRootEntry, u"Stream", pattern(10, 1)), S_OK);
    EntryId id;
    EXPECT_EQ(file->find(kRootEntry, u"STREAM", &id), S_OK);
    EXPECT_EQ(file->writeStream(kRootEntry, u"sTrEaM", pattern(20, 2)), S_OK);  // replaces
    std::vector<EntryInfo> kids;
    ASSERT_EQ(file->children(kRootEntry, &kids), S_OK);
    ASSERT_EQ(kids.size(), 1u);
    EXPECT_EQ(kids[0].size, 20u);
    EXPECT_EQ(file->writeStream(kRootEntry, std::u16string(32, u'x'), pattern(1, 1)), STG_E_INVALIDNAME);
    EXPECT_EQ(file->writeStream(kRootEntry, std::u16string(31, u'x'), pattern(1, 1)), S_OK);
    EXPECT_EQ(file->writeStream(kRootEntry, u"a/b", pattern(1, 1)), STG_E_INVALIDNAME);
    EXPECT_EQ(file->writeStream(kRootEntry, u"", pattern(1, 1)), STG_E_INVALIDNAME);
    EXPECT_EQ(file->createStorage(kRootEntry, u"stream", false, &id), STG_E_FILEALREADYEXISTS);
}

TEST(CompoundFile, RevertAndReadersThatOutliveACommit) {
    ScratchDir dir;
    std::string path = dir.file("r.cfb");
    std::unique_ptr<CompoundFile> file;
    ASSERT_EQ(CompoundFile::create(path, Version::V3, false, 0, &file), S_OK);
    auto first = pattern(10000, 1);
    EntryId id;
    ASSERT_EQ(file->writeStream(kRootEntry, u"s", first, &id), S_OK);
    ASSERT_EQ(file->commit(), S_OK);
    std::shared_ptr<const ByteSource> old;
    ASSERT_EQ(file->openStream(id, &old), S_OK);

    ASSERT_EQ(file->writeStream(kRootEntry, u"s", pattern(50, 2)), S_OK);
    ASSERT_EQ(file->writeStream(kRootEntry, u"t", pattern(50, 3)), S_OK);
    ASSERT_EQ(file->revert(), S_OK);
    Tree t = readAll(*file);
    EXPECT_EQ(t.streams.size(), 1u);
    EXPECT_EQ(t.streams[u"s"], first);

    ASSERT_EQ(file->writeStream(kRootEntry, u"s", pattern(50, 2)), S_OK);
    ASSERT_EQ(file->commit(), S_OK);
    std::vector<uint8_t> got(first.size());
    size_t done = 0;
    ASSERT_EQ(old->readAt(0, got.data(), got.size(), &done), S_OK);
    EXPECT_EQ(got, first);  // the reader still sees what it opened
    file.reset();
    EXPECT_EQ(reopen(path).streams[u"s"], pattern(50, 2));
}

TEST(CompoundFile, StreamingWriterSpillsLargeStreams) {
    ScratchDir dir;
    std::string path = dir.file("w.cfb");
    std::unique_ptr<CompoundFile> file;
    ASSERT_EQ(CompoundFile::create(path, Version::V3, false, 0, &file), S_OK);
    std::unique_ptr<StreamWriter> writer;
    ASSERT_EQ(file->beginStream(kRootEntry, u"cab", &writer), S_OK);
    std::vector<uint8_t> expected;
    for (uint32_t i = 0; i < 100; ++i) {
        auto piece = pattern(100000 + i, i);
        ASSERT_EQ(writer->write(piece.data(), piece.size()), S_OK);
        expected.insert(expected.end(), piece.begin(), piece.end());
    }
    EntryId id;
    EXPECT_EQ(file->find(kRootEntry, u"cab", &id), STG_E_FILENOTFOUND);  // not before finish
    ASSERT_EQ(writer->finish(), S_OK);
    ASSERT_EQ(file->commit(), S_OK);
    file.reset();
    EXPECT_EQ(reopen(path).streams[u"cab"], expected);
}

TEST(CompoundFile, CopyBetweenFilesCarriesClassIdsAndStorages) {
    ScratchDir dir;
    std::unique_ptr<CompoundFile> source, target;
    ASSERT_EQ(CompoundFile::create(dir.file("s.cfb"), Version::V4, false, 0, &source), S_OK);
    Tree expected = buildRandom(*source, 42, 200);
    const GUID msi = {0x000C1084, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    ASSERT_EQ(source->setClass(kRootEntry, msi), S_OK);
    ASSERT_EQ(source->commit(), S_OK);

    ASSERT_EQ(CompoundFile::create(dir.file("t.cfb"), Version::V3, false, 0, &target), S_OK);
    ASSERT_EQ(target->copyFrom(*source, kRootEntry, kRootEntry), S_OK);
    ASSERT_EQ(target->commit(), S_OK);
    target.reset();
    ASSERT_EQ(CompoundFile::open(dir.file("t.cfb"), {}, &target), S_OK);
    Tree back = readAll(*target);
    EXPECT_EQ(back.streams, expected.streams);
    EXPECT_EQ(back.storages, expected.storages);
    EntryInfo root;
    ASSERT_EQ(target->stat(kRootEntry, &root), S_OK);
    EXPECT_EQ(std::memcmp(&root.clsid, &msi, sizeof msi), 0);
    EXPECT_EQ(target->version(), Version::V3);

    // Into itself: refused rather than looping.
    source.reset();
    std::unique_ptr<CompoundFile> self;
    ASSERT_EQ(CompoundFile::open(dir.file("s.cfb"), {Access::ReadWrite, 0}, &self), S_OK);
    EntryId sub;
    ASSERT_EQ(self->createStorage(kRootEntry, u"sub", false, &sub), S_OK);
    EXPECT_EQ(self->copyFrom(*self, kRootEntry, sub), STG_E_ACCESSDENIED);
}

TEST(CompoundFile, ReadOnlyFilesRefuseChanges) {
    ScratchDir dir;
    std::unique_ptr<CompoundFile> file;
    ASSERT_EQ(CompoundFile::create(dir.file("ro.cfb"), Version::V3, false, 0, &file), S_OK);
    file.reset();
    ASSERT_EQ(CompoundFile::open(dir.file("ro.cfb"), {}, &file), S_OK);
    EXPECT_EQ(file->writeStream(kRootEntry, u"x", pattern(1, 1)), STG_E_ACCESSDENIED);
    EXPECT_EQ(file->commit(), STG_E_ACCESSDENIED);
    EXPECT_EQ(CompoundFile::open(dir.file("missing.cfb"), {}, &file), STG_E_FILENOTFOUND);
    EXPECT_EQ(CompoundFile::create(dir.file("ro.cfb"), Version::V3, true, 0, &file), STG_E_FILEALREADYEXISTS);
}

}  // namespace
