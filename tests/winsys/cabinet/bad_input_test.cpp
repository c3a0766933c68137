// Damaged and hostile cabinets: extraction fails cleanly with the right
// error, leaks no handle and never reads or writes out of bounds. Also a
// cabinet whose MSZIP blocks refer back into the previous block's data.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <random>

#include "cab_test_support.h"

namespace cabtest {
namespace {

uint32_t Le32(const std::string& s, size_t at) {
    return static_cast<uint8_t>(s[at]) | (static_cast<uint8_t>(s[at + 1]) << 8) |
           (static_cast<uint8_t>(s[at + 2]) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(s[at + 3])) << 24);
}
void Put16(std::string& s, size_t at, uint16_t v) {
    s[at] = static_cast<char>(v);
    s[at + 1] = static_cast<char>(v >> 8);
}
void Put32(std::string& s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        s[at + i] = static_cast<char>(v >> (8 * i));
}

// The data block checksum, written out independently of the module's.
uint32_t Checksum(const uint8_t* p, size_t n, uint32_t seed) {
    uint32_t sum = seed;
    size_t words = n / 4;
    for (size_t i = 0; i < words; ++i, p += 4)
        sum ^= p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
    uint32_t tail = 0;
    switch (n % 4) {
        case 3:
            tail |= static_cast<uint32_t>(*p++) << 16;
            [[fallthrough]];
        case 2:
            tail |= static_cast<uint32_t>(*p++) << 8;
            [[fallthrough]];
        case 1:
            tail |= *p;
    }
    return sum ^ tail;
}

uint16_t Le16(const std::string& s, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(s[at]) |
                                 (static_cast<uint8_t>(s[at + 1]) << 8));
}

// Where each data block of a one-folder cabinet without reserves starts.
std::vector<size_t> BlockOffsets(const std::string& cab) {
    std::vector<size_t> offsets;
    size_t at = Le32(cab, 36);
    for (uint16_t i = 0, count = Le16(cab, 40); i < count; ++i) {
        offsets.push_back(at);
        at += 8 + Le16(cab, at + 4);
    }
    return offsets;
}

// One folder, MSZIP, one file of `content`, with each block a deflate stream
// primed with the folder's previous 32 KiB (as Windows writes them). Blocks
// are 32 KiB unless `sizes` says otherwise.
std::string CabinetWithHistory(const std::string& content, std::vector<size_t> sizes = {}) {
    std::string blocks;
    uint16_t count = 0;
    for (size_t at = 0, n = 0; at < content.size(); at += n, ++count) {
        n = std::min<size_t>(count < sizes.size() ? sizes[count] : 32768, content.size() - at);
        z_stream z{};
        deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
        size_t history = std::min<size_t>(at, 32768);
        if (history > 0)
            deflateSetDictionary(
                &z, reinterpret_cast<const Bytef*>(content.data() + at - history),
                static_cast<uInt>(history));
        std::string out(40000, '\0');
        out[0] = 'C';
        out[1] = 'K';
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data() + at));
        z.avail_in = static_cast<uInt>(n);
        z.next_out = reinterpret_cast<Bytef*>(&out[2]);
        z.avail_out = static_cast<uInt>(out.size() - 2);
        EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
        out.resize(2 + z.total_out);
        deflateEnd(&z);
        std::string header(8, '\0');
        Put16(header, 4, static_cast<uint16_t>(out.size()));
        Put16(header, 6, static_cast<uint16_t>(n));
        uint32_t sum = Checksum(reinterpret_cast<const uint8_t*>(out.data()), out.size(), 0);
        sum = Checksum(reinterpret_cast<const uint8_t*>(header.data() + 4), 4, sum);
        Put32(header, 0, sum);
        blocks += header + out;
    }
    std::string name = "history.txt";
    std::string cab(36, '\0');
    std::memcpy(&cab[0], "MSCF", 4);
    uint32_t filesAt = 36 + 8;
    uint32_t dataAt = filesAt + 16 + static_cast<uint32_t>(name.size()) + 1;
    Put32(cab, 8, dataAt + static_cast<uint32_t>(blocks.size()));
    Put32(cab, 16, filesAt);
    cab[24] = 3;
    cab[25] = 1;
    Put16(cab, 26, 1);
    Put16(cab, 28, 1);
    std::string folder(8, '\0');
    Put32(folder, 0, dataAt);
    Put16(folder, 4, count);
    Put16(folder, 6, 1);
    std::string file(16, '\0');
    Put32(file, 0, static_cast<uint32_t>(content.size()));
    Put16(file, 10, 0x5987);
    Put16(file, 12, 0x6000);
    Put16(file, 14, 0x20);
    return cab + folder + file + name + '\0' + blocks;
}

class BadInput : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetLog();
        WriteFile(dir_ / "a.txt", TextBytes(90000, 1));
        WriteFile(dir_ / "b.bin", RandomBytes(40000, 2));
        WriteFile(dir_ / "c.txt", TextBytes(5000, 3));
        ASSERT_TRUE(BuildCabinet(dir_ / "good.cab", {{dir_ / "a.txt", "a.txt"},
                                                     {dir_ / "b.bin", "b.bin"},
                                                     {dir_ / "c.txt", "c.txt"}})
                        .ok);
        good_ = ReadFile(dir_ / "good.cab");
    }

    // Extracts `bytes` as a cabinet; checks that every handle was closed.
    ExtractResult Extract(const std::string& bytes) {
        WriteFile(dir_ / "bad.cab", bytes);
        TempDir out;
        ExtractResult result = ExtractCabinet(dir_ / "bad.cab", out.path());
        EXPECT_EQ(result.opens, result.closes);
        return result;
    }

    size_t FirstDataBlock() const { return Le32(good_, 36); }

    TempDir dir_;
    std::string good_;
};

TEST_F(BadInput, BlocksThatReferToThePreviousBlockDecode) {
    std::string content;
    for (int i = 0; i < 5; ++i)
        content += RandomBytes(20000, 77);  // repeats span block boundaries
    std::string cab = CabinetWithHistory(content);
    WriteFile(dir_ / "history.cab", cab);
    TempDir out;
    ExtractResult result = ExtractCabinet(dir_ / "history.cab", out.path());
    ASSERT_TRUE(result.ok) << result.erf.erfOper;
    EXPECT_EQ(ReadFile(out / "history.txt"), content);
    if (HaveProgram("cabextract")) {
        std::string output;
        EXPECT_EQ(RunCommand("cabextract -t '" + (dir_ / "history.cab").string() + "'", &output), 0)
            << output;
    }
}

// Blocks shorter than 32 KiB in the middle of a folder: a block's matches may
// reach back through several of them.
TEST_F(BadInput, HistoryReachesBackAcrossShortBlocks) {
    std::string content;
    while (content.size() < 140000)
        content += RandomBytes(12000, 5);  // each repeat lies 12,000 bytes back
    std::vector<size_t> sizes = {32768, 3000, 500, 9000, 1, 32768, 20000, 7};
    std::string cab = CabinetWithHistory(content, sizes);
    WriteFile(dir_ / "short.cab", cab);
    TempDir out;
    ExtractResult result = ExtractCabinet(dir_ / "short.cab", out.path());
    ASSERT_TRUE(result.ok) << result.erf.erfOper;
    EXPECT_EQ(ReadFile(out / "history.txt"), content);
}

// Blocks are read and inflated ahead of the file being written. A damaged
// block fails the file whose data it holds, after the files before it came
// out whole; a caller that skips that file never hears of it. A write that
// fails stops the copy while blocks are in flight.
TEST_F(BadInput, DamageAheadFailsOnlyTheFileThatNeedsIt) {
    WriteFile(dir_ / "first.txt", TextBytes(150000, 8));
    WriteFile(dir_ / "second.txt", TextBytes(150000, 9));
    ASSERT_TRUE(BuildCabinet(dir_ / "two.cab",
                             {{dir_ / "first.txt", "first.txt"}, {dir_ / "second.txt", "second.txt"}})
                    .ok);
    const std::string two = ReadFile(dir_ / "two.cab");
    const size_t last = BlockOffsets(two).back();
    std::string badChecksum = two;
    badChecksum[last] ^= 0x01;
    std::string badDeflate = two;
    Put32(badDeflate, last, 0);
    for (size_t i = 10; i < 50; ++i)
        badDeflate[last + i] = static_cast<char>(0xFF);
    struct Case {
        const char* what;
        const std::string& bytes;
        int error;
    } cases[] = {{"checksum", badChecksum, FDIERROR_CORRUPT_CABINET},
                 {"deflate data", badDeflate, FDIERROR_MDI_FAIL}};
    for (const Case& c : cases) {
        ResetLog();
        WriteFile(dir_ / "bad.cab", c.bytes);
        TempDir whole;
        ExtractResult all = ExtractCabinet(dir_ / "bad.cab", whole.path());
        EXPECT_FALSE(all.ok) << c.what;
        EXPECT_EQ(all.erf.erfOper, c.error) << c.what;
        ASSERT_EQ(all.files.size(), 2u) << c.what;
        EXPECT_TRUE(all.files[0].closed) << c.what;
        EXPECT_FALSE(all.files[1].closed) << c.what;
        EXPECT_EQ(ReadFile(whole / "first.txt"), ReadFile(dir_ / "first.txt")) << c.what;
        EXPECT_EQ(all.opens, all.closes) << c.what;

        ExtractOptions firstOnly;
        firstOnly.skip = {"second.txt"};
        TempDir part;
        ExtractResult some = ExtractCabinet(dir_ / "bad.cab", part.path(), firstOnly);
        EXPECT_TRUE(some.ok) << c.what << " " << some.erf.erfOper;
        EXPECT_EQ(ReadFile(part / "first.txt"), ReadFile(dir_ / "first.txt")) << c.what;
        EXPECT_EQ(Log().allocations, Log().frees) << c.what;
        EXPECT_FALSE(Log().foreignThread) << c.what;
    }
    for (long long budget : {0LL, 32768LL, 100000LL, 200000LL}) {
        ResetLog();
        ExtractOptions failing;
        failing.failWritesAfter = budget;
        TempDir out;
        ExtractResult result = ExtractCabinet(dir_ / "two.cab", out.path(), failing);
        EXPECT_FALSE(result.ok) << budget;
        EXPECT_EQ(result.erf.erfOper, FDIERROR_TARGET_FILE) << budget;
        EXPECT_EQ(result.opens, result.closes) << budget;
        EXPECT_EQ(Log().allocations, Log().frees) << budget;
    }
}

TEST_F(BadInput, EveryTruncationFails) {
    for (size_t size = 0; size < good_.size(); size += size < 300 ? 1 : 397) {
        ExtractResult result = Extract(good_.substr(0, size));
        EXPECT_FALSE(result.ok) << size;
        EXPECT_TRUE(result.erf.fError) << size;
    }
}

TEST_F(BadInput, WrongChecksumAndCorruptDeflateAreCaught) {
    std::string flipped = good_;
    flipped[FirstDataBlock() + 8 + 100] ^= 0x40;
    ExtractResult result = Extract(flipped);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.erf.erfOper, FDIERROR_CORRUPT_CABINET);

    // Without a checksum the damage reaches the decoder.
    std::string unchecked = good_;
    Put32(unchecked, FirstDataBlock(), 0);
    for (int i = 0; i < 40; ++i)
        unchecked[FirstDataBlock() + 10 + i] = static_cast<char>(0xFF);
    result = Extract(unchecked);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.erf.erfOper, FDIERROR_MDI_FAIL);
}

TEST_F(BadInput, CountsAndOffsetsPastTheEndFail) {
    struct Damage {
        const char* what;
        size_t at;
        int width;
        uint32_t value;
    };
    const size_t file0 = Le32(good_, 16);
    const Damage damages[] = {
        {"file table far away", 16, 4, 0xFFFFFFF0u},
        {"many files", 28, 2, 0xFFFF},
        {"data far away", 36, 4, 0x7FFFFFF0u},
        {"too few blocks", 40, 2, 0x0001},
        {"huge file", file0, 4, 0xFFFFFFFFu},
        {"offset past the folder", file0 + 4, 4, 0x7FFFFFFFu},
        {"folder out of range", file0 + 8, 2, 0x0100},
        {"unknown compression", 42, 2, 0x0007},
    };
    for (const Damage& d : damages) {
        std::string bad = good_;
        if (d.width == 2)
            Put16(bad, d.at, static_cast<uint16_t>(d.value));
        else
            Put32(bad, d.at, d.value);
        ExtractResult result = Extract(bad);
        EXPECT_FALSE(result.ok) << d.what;
        EXPECT_TRUE(result.erf.fError) << d.what;
    }
    std::string oversized = good_;
    Put16(oversized, FirstDataBlock() + 6, 40000);  // more than a block may hold
    EXPECT_EQ(Extract(oversized).erf.erfOper, FDIERROR_CORRUPT_CABINET);
}

TEST_F(BadInput, AFileThatStartsBeforeThePreviousOneRestartsTheFolder)
{
    // Point b.bin at the start of the folder with a.txt's size: it must come
    // out as a copy of a.txt, decoded again from the first block.
    std::string twice = good_;
    const size_t fileB = Le32(good_, 16) + 16 + 6;
    Put32(twice, fileB, 90000);
    Put32(twice, fileB + 4, 0);
    WriteFile(dir_ / "twice.cab", twice);
    TempDir out;
    ExtractResult result = ExtractCabinet(dir_ / "twice.cab", out.path());
    ASSERT_TRUE(result.ok) << result.erf.erfOper;
    EXPECT_EQ(ReadFile(out / "b.bin"), ReadFile(dir_ / "a.txt"));
    EXPECT_EQ(ReadFile(out / "c.txt"), ReadFile(dir_ / "c.txt"));
}

TEST_F(BadInput, NotACabinetAndUnknownVersions) {
    EXPECT_EQ(
        Extract("hello, world: not a cabinet at all, long enough to hold a header").erf.erfOper,
        FDIERROR_NOT_A_CABINET);
    std::string v2 = good_;
    v2[25] = 2;
    EXPECT_EQ(Extract(v2).erf.erfOper, FDIERROR_UNKNOWN_CABINET_VERSION);
    TempDir out;
    EXPECT_EQ(ExtractCabinet(dir_ / "missing.cab", out.path()).erf.erfOper,
              FDIERROR_CABINET_NOT_FOUND);
    WriteFile(dir_ / "text", "plain text");
    CabinetInfoResult info = InspectCabinet(dir_ / "text");
    EXPECT_FALSE(info.ok);
    EXPECT_EQ(info.erf.erfOper, FDIERROR_NOT_A_CABINET);
}

TEST_F(BadInput, RandomDamageNeverCrashesOrLeaks) {
    std::mt19937 rng(12345);
    for (int round = 0; round < 400; ++round) {
        std::string bad = good_;
        int edits = 1 + static_cast<int>(rng() % 4);
        for (int e = 0; e < edits; ++e) {
            // Mostly the structures at the front, sometimes the data.
            size_t limit =
                rng() % 4 == 0 ? bad.size() : std::min<size_t>(bad.size(), FirstDataBlock() + 16);
            bad[rng() % limit] = static_cast<char>(rng());
        }
        Extract(bad);
    }
}

}  // namespace
}  // namespace cabtest
