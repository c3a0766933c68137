// A cabinet written through the work area, checked by cabextract: its
// checksums and structure pass the test mode, and its files come out byte for
// byte under the names they were given.
#include "cabinet/cabinet_work_area.h"
#include "cabinet_test_support.h"

#include <cstdlib>
#include <random>

namespace cabinet_test {
namespace {

class PeerTest : public CabinetTest {};

int RunShell(const std::string& command) {
    const int status = std::system((command + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(PeerTest, CabextractAcceptsAndExtractsOurCabinet) {
    if (RunShell("command -v cabextract") != 0) {
        GTEST_SKIP() << "cabextract is not installed";
    }
    std::mt19937 generator(11);
    std::vector<std::pair<std::string, std::string>> files;
    std::string text;
    for (int i = 0; i < 40000; ++i) {
        text += "row " + std::to_string(i * 7) + " value\n";
    }
    std::string random(1500000, 0);
    for (char& c : random) {
        c = static_cast<char>(generator());
    }
    files = {{"File_Text", text}, {"File_Empty", ""}, {"File_Random", random}, {"File_Small", "x"}};

    CabinetWorkArea area;
    InitCabinetWorkArea(area);
    MakeDirectory("cab");
    ASSERT_EQ(OpenCompressor(area, Wide(Windows("cab/peer.cab")).c_str()), 0u);
    for (const auto& [name, bytes] : files) {
        const std::string source = MakeFile("in/" + name + ".src", bytes);
        ASSERT_EQ(AddFileToCabinet(area, Wide(source).c_str(), Wide(name).c_str()), 0u);
    }
    CloseCompressor(area);

    const std::string cabinet = Native("cab/peer.cab");
    EXPECT_EQ(RunShell("cabextract -t '" + cabinet + "'"), 0);
    const std::string out = Native("peer-out");
    std::filesystem::create_directories(out);
    ASSERT_EQ(RunShell("cabextract -q -d '" + out + "' '" + cabinet + "'"), 0);
    for (const auto& [name, bytes] : files) {
        EXPECT_EQ(winsys_test::readFile(out + "/" + name), bytes) << name;
    }
    size_t count = 0;
    for (auto& entry : std::filesystem::directory_iterator(out)) {
        (void)entry;
        ++count;
    }
    EXPECT_EQ(count, files.size());
    DiscardCabinetFile(area);
    EXPECT_FALSE(Exists("cab/peer.cab"));
}

}  // namespace
}  // namespace cabinet_test
