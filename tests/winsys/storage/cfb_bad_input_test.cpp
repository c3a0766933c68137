// Damaged and hostile compound files: every defect gives an error code, never
// a crash, a hang, a huge allocation or a read outside the file (run under
// the asan preset to see the last).
#include "cfb_test_util.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace winsys::cfb;
using namespace cfbtest;

namespace {

class BadInput : public ::testing::Test {
protected:
    void SetUp() override {
        good = dir.file("good.cfb");
        std::unique_ptr<CompoundFile> file;
        ASSERT_EQ(CompoundFile::create(good, Version::V3, false, 0, &file), S_OK);
        EntryId sub;
        ASSERT_EQ(file->writeStream(kRootEntry, u"big", pattern(5000, 1)), S_OK);
        ASSERT_EQ(file->writeStream(kRootEntry, u"small", pattern(200, 2)), S_OK);
        ASSERT_EQ(file->createStorage(kRootEntry, u"sub", false, &sub), S_OK);
        ASSERT_EQ(file->writeStream(sub, u"inner", pattern(3000, 3)), S_OK);
        ASSERT_EQ(file->commit(), S_OK);
        bytes = readFile(good);
    }

    // Opens `data` and reads every stream; the first failure is returned.
    HRESULT openAndReadAll(const std::vector<uint8_t>& data, bool* contentWrong = nullptr) {
        std::string path = dir.file("bad.cfb");
        writeFile(path, data);
        std::unique_ptr<CompoundFile> file;
        HRESULT hr = CompoundFile::open(path, {}, &file);
        if (FAILED(hr)) return hr;
        return readTree(*file, kRootEntry, contentWrong);
    }

    HRESULT readTree(const CompoundFile& file, EntryId storage, bool* contentWrong) {
        std::vector<EntryInfo> kids;
        HRESULT hr = file.children(storage, &kids);
        if (FAILED(hr)) return hr;
        for (const auto& kid : kids) {
            if (kid.type != EntryType::Stream) {
                hr = readTree(file, kid.id, contentWrong);
            } else {
                std::vector<uint8_t> data;
                hr = file.readStream(kid.id, &data);
                if (SUCCEEDED(hr) && contentWrong) {
                    uint32_t seed = kid.name == u"big" ? 1 : kid.name == u"small" ? 2 : 3;
                    if (data != pattern(data.size(), seed) || kid.size != data.size()) *contentWrong = true;
                }
            }
            if (FAILED(hr)) return hr;
        }
        return S_OK;
    }

    Raw raw() const { return Raw(bytes); }

    ScratchDir dir;
    std::string good;
    std::vector<uint8_t> bytes;
};

TEST_F(BadInput, NotACompoundFile) {
    EXPECT_EQ(openAndReadAll({}), STG_E_FILEALREADYEXISTS);
    std::string text = "This is a plain text file, not a compound file at all.\n";
    EXPECT_EQ(openAndReadAll(std::vector<uint8_t>(text.begin(), text.end())), STG_E_FILEALREADYEXISTS);
    EXPECT_EQ(openAndReadAll(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 100)), STG_E_INVALIDHEADER);
}

TEST_F(BadInput, HeaderFields) {
    struct Case { size_t offset; uint16_t value; };
    for (Case c : {Case{0x1C, 0xFEFF}, Case{0x1E, 10}, Case{0x1A, 4}, Case{0x1A, 5}, Case{0x20, 7}, Case{0x38, 0x2000}}) {
        auto damaged = bytes;
        damaged[c.offset] = uint8_t(c.value);
        damaged[c.offset + 1] = uint8_t(c.value >> 8);
        EXPECT_EQ(openAndReadAll(damaged), STG_E_INVALIDHEADER) << std::hex << c.offset;
    }
}

TEST_F(BadInput, TruncatedFilesNeverGiveWrongContent) {
    const size_t sector = 512;
    for (size_t cut = sector; cut < bytes.size(); cut += sector) {
        bool wrong = false;
        HRESULT hr = openAndReadAll(std::vector<uint8_t>(bytes.begin(), bytes.begin() + cut), &wrong);
        EXPECT_TRUE(FAILED(hr)) << "cut at " << cut;
        EXPECT_FALSE(wrong) << "cut at " << cut;
    }
    for (size_t cut = 513; cut < bytes.size(); cut += 97) openAndReadAll(std::vector<uint8_t>(bytes.begin(), bytes.begin() + cut));
}

TEST_F(BadInput, CyclesInSectorChains) {
    Raw r = raw();
    // The big stream's second sector points back to its first.
    size_t big = r.entryNamed(u"big");
    ASSERT_NE(big, 0u);
    uint32_t first = get32(bytes, big + 0x74);
    auto damaged = bytes;
    put32(damaged, r.fatEntryOffset(r.fat(first)), first);
    EXPECT_EQ(openAndReadAll(damaged), STG_E_DOCFILECORRUPT);

    // The directory's chain loops on itself.
    damaged = bytes;
    uint32_t dir = get32(bytes, 0x30);
    auto chain = r.chain(dir);
    put32(damaged, r.fatEntryOffset(chain.back()), dir);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(openAndReadAll(damaged), STG_E_DOCFILECORRUPT);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));

    // The MiniFAT chain of the small stream points at itself.
    damaged = bytes;
    size_t small = r.entryNamed(u"small");
    uint32_t miniStart = get32(bytes, small + 0x74);
    uint32_t miniFat = get32(bytes, 0x3C);
    put32(damaged, r.sectorOffset(miniFat) + 4 * miniStart, miniStart);
    EXPECT_EQ(openAndReadAll(damaged), STG_E_DOCFILECORRUPT);
}

TEST_F(BadInput, SectorNumbersOutOfRange) {
    Raw r = raw();
    for (uint32_t value : {0x7FFFFFFFu, 0xFFFFFFFAu, 0xFFFFFFFDu, uint32_t(bytes.size() / 512)}) {
        auto damaged = bytes;
        put32(damaged, r.entryNamed(u"big") + 0x74, value);
        EXPECT_EQ(openAndReadAll(damaged), STG_E_DOCFILECORRUPT) << value;
        damaged = bytes;
        // Past the mini sectors that the mini stream's sectors hold.
        uint32_t miniLimit = (get32(bytes, r.entryOffsets()[0] + 0x78) + 511) / 512 * 8;
        put32(damaged, r.entryNamed(u"small") + 0x74, value < 0x1000 ? miniLimit : value);
        EXPECT_EQ(openAndReadAll(damaged), STG_E_DOCFILECORRUPT) << value;
        damaged = bytes;
        put32(damaged, 0x4C, value);  // first FAT sector
        EXPECT_TRUE(FAILED(openAndReadAll(damaged))) << value;
        damaged = bytes;
        put32(damaged, 0x30, value);  // first directory sector
        EXPECT_EQ(openAndReadAll(damaged), STG_E_DOCFILECORRUPT) << value;
    }
    auto damaged = bytes;
    put32(damaged, 0x2C, 0xFFFFFFFF);  // number of FAT sectors
    EXPECT_EQ(openAndReadAll(damaged), STG_E_DOCFILECORRUPT);
    damaged = bytes;
    put32(damaged, 0x2C, 200);  // more FAT sectors than the header lists: DIFAT chain needed
    put32(damaged, 0x48, 0xFFFFFFFF);
    put32(damaged, 0x44, 0);
    EXPECT_EQ(openAndReadAll(damaged), STG_E_DOCFILECORRUPT);
}

TEST_F(BadInput, StreamLongerThanTheFileIsRefusedAtOpen) {
    // Refused before anyone sizes a buffer from the declared length.
    Raw r = raw();
    for (const char16_t* name : {u"big", u"small"}) {
        for (uint32_t size : {0xFFFFFFFFu, uint32_t(bytes.size() + 1), 4000u}) {
            auto damaged = bytes;
            put32(damaged, r.entryNamed(name) + 0x78, size);
            std::string path = dir.file("long.cfb");
            writeFile(path, damaged);
            std::unique_ptr<CompoundFile> file;
            EXPECT_EQ(CompoundFile::open(path, {}, &file), STG_E_DOCFILECORRUPT) << size;
        }
    }
}

TEST_F(BadInput, DirectoryCycles) {
    Raw r = raw();
    auto at = r.entryOffsets();
    for (size_t link : {0x44, 0x48, 0x4C}) {
        for (uint32_t target : {0u, 1u, 2u, 3u}) {
            for (size_t e = 1; e < 5; ++e) {
                auto damaged = bytes;
                if (damaged[at[e] + 0x42] == 0 || (link == 0x4C && damaged[at[e] + 0x42] == 2)) continue;
                put32(damaged, at[e] + link, target);
                // A link to an entry already in the tree is corruption; a
                // link to an unused entry too.
                HRESULT hr = openAndReadAll(damaged);
                if (target == e || target == 0) {
                    EXPECT_EQ(hr, STG_E_DOCFILECORRUPT) << e << " " << link << " " << target;
                }
            }
        }
    }
    auto damaged = bytes;
    put32(damaged, at[0] + 0x4C, 0);  // the root is its own child
    EXPECT_EQ(openAndReadAll(damaged), STG_E_DOCFILECORRUPT);
    damaged = bytes;
    put32(damaged, at[0] + 0x4C, 100000);  // a child past the directory
    EXPECT_EQ(openAndReadAll(damaged), STG_E_DOCFILECORRUPT);
    damaged = bytes;
    damaged[at[0] + 0x42] = 1;  // entry 0 is not a root
    EXPECT_EQ(openAndReadAll(damaged), STG_E_DOCFILECORRUPT);
    damaged = bytes;
    damaged[at[1] + 0x40] = 66;  // name longer than the field
    EXPECT_EQ(openAndReadAll(damaged), STG_E_DOCFILECORRUPT);
}

TEST_F(BadInput, AbsurdSizes) {
    Raw r = raw();
    for (uint32_t size : {0xFFFFFFF0u, 0x80000000u, 0x7FFFFFFFu, 100000u}) {
        auto damaged = bytes;
        put32(damaged, r.entryNamed(u"big") + 0x78, size);
        EXPECT_EQ(openAndReadAll(damaged), STG_E_DOCFILECORRUPT) << size;
        damaged = bytes;
        put32(damaged, r.entryOffsets()[0] + 0x78, size);  // the mini stream
        EXPECT_EQ(openAndReadAll(damaged), STG_E_DOCFILECORRUPT) << size;
    }
    // Version 4 keeps all 64 bits of a size.
    std::unique_ptr<CompoundFile> file;
    std::string v4 = dir.file("v4.cfb");
    ASSERT_EQ(CompoundFile::create(v4, Version::V4, false, 0, &file), S_OK);
    ASSERT_EQ(file->writeStream(kRootEntry, u"big", pattern(5000, 1)), S_OK);
    ASSERT_EQ(file->commit(), S_OK);
    file.reset();
    auto damaged = readFile(v4);
    Raw r4(damaged);
    put32(damaged, r4.entryNamed(u"big") + 0x7C, 0x10000);
    EXPECT_EQ(openAndReadAll(damaged), STG_E_DOCFILECORRUPT);
}

// Random damage to the tables and the directory: whatever happens, it
// happens quickly and without a crash.
TEST_F(BadInput, RandomDamage) {
    std::mt19937 rng(12345);
    auto start = std::chrono::steady_clock::now();
    for (int round = 0; round < 1500; ++round) {
        auto damaged = bytes;
        int edits = 1 + int(rng() % 8);
        for (int i = 0; i < edits; ++i) {
            size_t at = rng() % 3 == 0 ? rng() % 512 : rng() % damaged.size();
            damaged[at] = rng() % 4 == 0 ? 0xFF : uint8_t(rng());
        }
        if (rng() % 10 == 0) damaged.resize(rng() % damaged.size());
        openAndReadAll(damaged);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
}

}  // namespace
