// A cabinet written by Wine's cabinet.dll (FCICreate ... FCIFlushCabinet
// with MSZIP, run under wine from a mingw program) and stored here: the
// module reads it byte for byte, with its dates and attributes.
#include <gtest/gtest.h>

#include <string>

#include "cab_test_support.h"

namespace cabtest {
namespace {

std::string Lines() {
    std::string s;
    for (int i = 0; i < 4000; ++i)
        s += "line " + std::to_string(i) + " of the fixture\n";
    return s;
}

std::string Pattern() {
    std::string s(70000, '\0');
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<char>((i * 7 + 3) % 251);
    return s;
}

TEST(WineCabinet, ExtractsByteForByteWithDatesAndAttributes) {
    fs::path cab = fs::path(CABINET_TEST_DATA) / "wine_fci.cab";
    CabinetInfoResult info = InspectCabinet(cab);
    ASSERT_TRUE(info.ok);
    EXPECT_EQ(info.info.setID, 12345);
    EXPECT_EQ(info.info.iCabinet, 1);
    EXPECT_EQ(info.info.cFiles, 3);

    TempDir out;
    ExtractResult result = ExtractCabinet(cab, out.path());
    ASSERT_TRUE(result.ok) << result.erf.erfOper;
    ASSERT_EQ(result.files.size(), 3u);
    const char* names[] = {"lines.txt", "pattern.bin", "empty.txt"};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(result.files[i].name, names[i]);
        EXPECT_EQ(result.files[i].date, 0x576E);  // 2023-11-14
        EXPECT_EQ(result.files[i].time, 0xB1AA);  // 22:13:20
        EXPECT_EQ(result.files[i].attribs, 0x20);
    }
    EXPECT_EQ(ReadFile(out / "lines.txt"), Lines());
    EXPECT_EQ(ReadFile(out / "pattern.bin"), Pattern());
    EXPECT_EQ(fs::file_size(out / "empty.txt"), 0u);
}

}  // namespace
}  // namespace cabtest
