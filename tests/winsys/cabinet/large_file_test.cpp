// A single file of more than 100 MB: written and read back with peak memory
// that does not grow with it, and accepted by cabextract.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <fstream>

#include "cab_test_support.h"

namespace cabtest {
namespace {

std::string Quote(const fs::path& p) {
    return "'" + p.string() + "'";
}

// Writes `size` bytes of mixed content without holding them in memory.
void WriteLargeFile(const fs::path& file, uint64_t size) {
    std::ofstream out(file, std::ios::binary);
    std::string text = TextBytes(1 << 20, 1);
    std::string noise = RandomBytes(1 << 20, 2);
    for (uint64_t written = 0, i = 0; written < size; ++i) {
        const std::string& chunk = i % 4 == 3 ? noise : text;
        auto n = static_cast<std::streamsize>(std::min<uint64_t>(chunk.size(), size - written));
        out.write(chunk.data(), n);
        written += static_cast<uint64_t>(n);
    }
}

long PeakKilobytes() {
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

TEST(LargeFile, OverOneHundredMegabytesRoundTripsInFlatMemory) {
    if (!HaveProgram("cabextract"))
        GTEST_SKIP() << "cabextract is needed";
    TempDir sources;
    TempDir work;
    fs::path big = sources / "big.bin";
    WriteLargeFile(big, 105ull * 1024 * 1024);
    long before = PeakKilobytes();
    fs::path cab = work / "big.cab";
    ASSERT_TRUE(BuildCabinet(cab, {{big, "big.bin"}}).ok);
    TempDir out;
    ExtractResult result = ExtractCabinet(cab, out.path());
    ASSERT_TRUE(result.ok);
    long grown = PeakKilobytes() - before;
    EXPECT_LT(grown, 32 * 1024) << "peak memory grew by " << grown << " KiB";

    std::string output;
    EXPECT_EQ(RunCommand("cabextract -t " + Quote(cab), &output), 0) << output;
    EXPECT_EQ(RunCommand("cmp " + Quote(big) + " " + Quote(out / "big.bin"), &output), 0) << output;
}

}  // namespace
}  // namespace cabtest
