// A folder that goes on in the next cabinet of a set, with a data block split
// between the two: FDICopy asks for the next cabinet, announces it, and
// finishes the file; started on the second cabinet it reports the partial
// file. The set is laid out here byte by byte.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>

#include "cab_test_support.h"

namespace cabtest {
namespace {

void Put16(std::string& s, uint16_t v) {
    s += static_cast<char>(v), s += static_cast<char>(v >> 8);
}
void Put32(std::string& s, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        s += static_cast<char>(v >> (8 * i));
}

uint32_t Checksum(const std::string& bytes, uint32_t seed) {
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    size_t n = bytes.size();
    uint32_t sum = seed;
    for (size_t i = 0; i + 4 <= n; i += 4)
        sum ^= p[i] | (p[i + 1] << 8) | (p[i + 2] << 16) | (static_cast<uint32_t>(p[i + 3]) << 24);
    uint32_t tail = 0;
    const uint8_t* t = p + (n & ~size_t{3});
    switch (n % 4) {
        case 3:
            tail |= static_cast<uint32_t>(*t++) << 16;
            [[fallthrough]];
        case 2:
            tail |= static_cast<uint32_t>(*t++) << 8;
            [[fallthrough]];
        case 1:
            tail |= *t;
    }
    return sum ^ tail;
}

std::string DataBlock(const std::string& payload, uint16_t uncompressed) {
    std::string sizes;
    Put16(sizes, static_cast<uint16_t>(payload.size()));
    Put16(sizes, uncompressed);
    std::string block;
    Put32(block, Checksum(sizes, Checksum(payload, 0)));
    return block + sizes + payload;
}

std::string Mszip(const std::string& data) {
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string out(data.size() + 1024, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return "CK" + out;
}

struct RawFile {
    std::string name;
    uint32_t size;
    uint32_t offset;
    uint16_t folder;
};

std::string Cabinet(uint16_t flags, const std::vector<std::string>& links, uint16_t iCabinet,
                    const std::vector<RawFile>& files, uint16_t blockCount,
                    const std::string& blocks) {
    std::string linkBytes;
    for (const auto& l : links)
        linkBytes += l + '\0';
    std::string fileTable;
    for (const auto& f : files) {
        Put32(fileTable, f.size);
        Put32(fileTable, f.offset);
        Put16(fileTable, f.folder);
        Put16(fileTable, 0x5987);
        Put16(fileTable, 0x6000);
        Put16(fileTable, 0x20);
        fileTable += f.name + '\0';
    }
    uint32_t filesAt = 36 + static_cast<uint32_t>(linkBytes.size()) + 8;
    uint32_t dataAt = filesAt + static_cast<uint32_t>(fileTable.size());
    std::string cab = "MSCF";
    Put32(cab, 0);
    Put32(cab, dataAt + static_cast<uint32_t>(blocks.size()));
    Put32(cab, 0);
    Put32(cab, filesAt);
    Put32(cab, 0);
    cab += '\3';
    cab += '\1';
    Put16(cab, 1);
    Put16(cab, static_cast<uint16_t>(files.size()));
    Put16(cab, flags);
    Put16(cab, 777);
    Put16(cab, iCabinet);
    cab += linkBytes;
    Put32(cab, dataAt);
    Put16(cab, blockCount);
    Put16(cab, tcompTYPE_MSZIP);
    return cab + fileTable + blocks;
}

class Spanning : public ::testing::Test {
  protected:
    void SetUp() override {
        a_ = TextBytes(20000, 1);
        b_ = TextBytes(60000, 2);
        std::string stream = a_ + b_;
        std::string first = Mszip(stream.substr(0, 32768));
        std::string second = Mszip(stream.substr(32768, 32768));
        std::string third = Mszip(stream.substr(65536));
        size_t cut = second.size() / 2;
        std::string part1 = DataBlock(first, 32768) + DataBlock(second.substr(0, cut), 0);
        std::string part2 =
            DataBlock(second.substr(cut), 32768) + DataBlock(third, static_cast<uint16_t>(14464));
        WriteFile(dir_ / "part1.cab",
                  Cabinet(0x0002, {"part2.cab", "disk 2"}, 0,
                          {{"a.txt", 20000, 0, 0}, {"b.txt", 60000, 20000, 0xFFFE}}, 2, part1));
        WriteFile(dir_ / "part2.cab", Cabinet(0x0001, {"part1.cab", "disk 1"}, 1,
                                              {{"b.txt", 60000, 20000, 0xFFFD}}, 2, part2));
    }

    TempDir dir_;
    std::string a_, b_;
};

TEST_F(Spanning, AFileContinuedInTheNextCabinetIsCompleted) {
    if (HaveProgram("cabextract")) {
        std::string output;
        EXPECT_EQ(RunCommand("cabextract -t '" + (dir_ / "part1.cab").string() + "'", &output), 0)
            << output;
    }
    TempDir out;
    ExtractResult result = ExtractCabinet(dir_ / "part1.cab", out.path());
    ASSERT_TRUE(result.ok) << result.erf.erfOper;
    EXPECT_EQ(result.notifications, (std::vector<FDINOTIFICATIONTYPE>{
                                        fdintCABINET_INFO, fdintENUMERATE, fdintCOPY_FILE,
                                        fdintCLOSE_FILE_INFO, fdintCOPY_FILE, fdintNEXT_CABINET,
                                        fdintCABINET_INFO, fdintCLOSE_FILE_INFO, fdintENUMERATE}));
    EXPECT_EQ(ReadFile(out / "a.txt"), a_);
    EXPECT_EQ(ReadFile(out / "b.txt"), b_);
    EXPECT_EQ(result.opens, result.closes);
}

TEST_F(Spanning, TheSecondCabinetReportsThePartialFile) {
    TempDir out;
    ExtractResult result = ExtractCabinet(dir_ / "part2.cab", out.path());
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.notifications,
              (std::vector<FDINOTIFICATIONTYPE>{fdintCABINET_INFO, fdintENUMERATE,
                                                fdintPARTIAL_FILE, fdintENUMERATE}));
    EXPECT_TRUE(fs::is_empty(out.path()));
}

TEST_F(Spanning, AMissingOrWrongNextCabinetFailsWithoutAskingForever) {
    fs::rename(dir_ / "part2.cab", dir_ / "elsewhere.cab");
    TempDir out;
    ExtractResult missing = ExtractCabinet(dir_ / "part1.cab", out.path());
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.erf.erfOper, FDIERROR_CABINET_NOT_FOUND);
    EXPECT_EQ(missing.opens, missing.closes);

    // A cabinet of another set under the expected name.
    fs::copy_file(dir_ / "part1.cab", dir_ / "part2.cab");
    ExtractResult wrong = ExtractCabinet(dir_ / "part1.cab", out.path());
    EXPECT_FALSE(wrong.ok);
    EXPECT_EQ(wrong.erf.erfOper, FDIERROR_WRONG_CABINET);
    EXPECT_EQ(wrong.opens, wrong.closes);
}

}  // namespace
}  // namespace cabtest
