// Cabinets from libmspack's own test collection (data/mspack): MSZIP, LZX and
// Quantum folders, reserves, a five-part set, truncated and damaged headers
// and the damaged data of past CVEs. What cabextract extracts from each, the
// module extracts byte for byte; where cabextract refuses a cabinet, FDICopy
// fails cleanly (FALSE, an error code, every handle closed).
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "cab_test_support.h"

namespace cabtest {
namespace {

const fs::path kData = fs::path(CABINET_TEST_DATA) / "mspack";

std::string Quote(const fs::path& p) {
    return "'" + p.string() + "'";
}

std::map<std::string, std::string> FilesIn(const fs::path& directory) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(directory))
        if (entry.is_regular_file())
            files[fs::relative(entry.path(), directory).string()] = ReadFile(entry.path());
    return files;
}

// FDI reads the cabinet at the start of a file, as Windows' does; cabextract
// also searches files for cabinets further in. Both get only the first
// cabinet's bytes, so that they answer about the same cabinet.
std::string FirstCabinet(const std::string& bytes) {
    if (bytes.size() < 12 || bytes.compare(0, 4, "MSCF") != 0)
        return bytes;
    auto p = reinterpret_cast<const uint8_t*>(bytes.data());
    uint32_t size = p[8] | (p[9] << 8) | (p[10] << 16) | (static_cast<uint32_t>(p[11]) << 24);
    return size >= 36 && size < bytes.size() ? bytes.substr(0, size) : bytes;
}

class MspackCabinets : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!HaveProgram("cabextract"))
            GTEST_SKIP() << "cabextract is needed";
        // The set's parts name each other, so they are copied together.
        for (const auto& entry : fs::directory_iterator(kData))
            WriteFile(cabinets_ / entry.path().filename().string(),
                      FirstCabinet(ReadFile(entry.path())));
    }

    TempDir cabinets_;
};

TEST_F(MspackCabinets, FdiMatchesCabextractOnEveryCabinet) {
    int accepted = 0, refused = 0;
    std::vector<fs::path> all;
    for (const auto& entry : fs::directory_iterator(cabinets_.path()))
        all.push_back(entry.path());
    std::sort(all.begin(), all.end());
    for (const fs::path& cab : all) {
        SCOPED_TRACE(cab.filename().string());
        TempDir theirs, ours;
        int status = RunCommand("cabextract -q -d " + Quote(theirs.path()) + " " + Quote(cab));
        ExtractResult result = ExtractCabinet(cab, ours.path());
        EXPECT_EQ(result.opens, result.closes);
        if (ReadFile(cab).compare(0, 4, "MSCF") != 0) {
            // cabextract finds cabinets inside other files; FDI does not look.
            EXPECT_FALSE(result.ok);
            EXPECT_EQ(result.erf.erfOper, FDIERROR_NOT_A_CABINET);
            continue;
        }
        if (status != 0) {
            ++refused;
            EXPECT_FALSE(result.ok);
            EXPECT_NE(result.erf.erfOper, FDIERROR_NONE);
            continue;
        }
        ++accepted;
        ASSERT_TRUE(result.ok) << "FDI error " << result.erf.erfOper;
        std::map<std::string, std::string> expected = FilesIn(theirs.path());
        // The header's file-table offset points past two entries that sit
        // right after the folders. The format puts the table where that
        // offset says, and FDI reads it there; cabextract reads the entries
        // after the folders. Both tables hold two empty files.
        if (cab.filename() == "hidden-files.cab")
            expected = {{"hidden1.txt", ""}, {"hidden2.txt", ""}};
        std::map<std::string, std::string> got = FilesIn(ours.path());
        // Started in the middle of a set, FDI reports files that began in an
        // earlier cabinet as partial and does not go back for them.
        size_t copied = 0;
        for (const ExtractedFile& file : result.files) {
            ++copied;
            ASSERT_TRUE(got.count(file.name)) << file.name;
            ASSERT_TRUE(expected.count(file.name)) << file.name;
            EXPECT_TRUE(got[file.name] == expected[file.name]) << file.name;
        }
        long partials = std::count(result.notifications.begin(), result.notifications.end(),
                                   fdintPARTIAL_FILE);
        EXPECT_EQ(copied + static_cast<size_t>(partials), expected.size());
    }
    EXPECT_GE(accepted, 15);
    EXPECT_GE(refused, 30);
}

TEST_F(MspackCabinets, OneFolderOfEachMethod) {
    ExtractResult result = ExtractCabinet(cabinets_ / "mszip_lzx_qtm.cab", cabinets_.path());
    ASSERT_TRUE(result.ok) << result.erf.erfOper;
    ASSERT_EQ(result.files.size(), 3u);
    EXPECT_EQ(result.files[0].name, "mszip.txt");
    EXPECT_EQ(result.files[1].name, "lzx.txt");
    EXPECT_EQ(result.files[2].name, "qtm.txt");
    for (const ExtractedFile& file : result.files) {
        EXPECT_TRUE(file.closed);
        EXPECT_EQ(fs::file_size(cabinets_ / file.name), file.size);
    }
}

TEST_F(MspackCabinets, SetReadFromItsFirstPartFollowsEveryNextCabinet) {
    ExtractResult result = ExtractCabinet(cabinets_ / "cabd_multi_basic_pt1.cab", cabinets_.path());
    ASSERT_TRUE(result.ok) << result.erf.erfOper;
    long next = std::count(result.notifications.begin(), result.notifications.end(),
                           fdintNEXT_CABINET);
    EXPECT_GE(next, 1);
}

}  // namespace
}  // namespace cabtest
