// The cabinet work area: a cabinet built through it extracts byte for byte,
// the failures of its operations, and what releasing it clears away.
#include "cabinet/cabinet_work_area.h"
#include "cabinet_test_support.h"

#include <random>

namespace cabinet_test {
namespace {

class WorkAreaTest : public CabinetTest {
  protected:
    void SetUp() override {
        CabinetTest::SetUp();
        InitCabinetWorkArea(area_);
    }
    void TearDown() override {
        ReleaseCabinetWorkArea(area_);
        CabinetTest::TearDown();
    }
    CabinetWorkArea area_;
};

std::string RandomBytes(size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, 0);
    for (char& c : bytes) {
        c = static_cast<char>(generator());
    }
    return bytes;
}

TEST_F(WorkAreaTest, BuiltCabinetExtractsByteForByte) {
    std::string text;
    for (int i = 0; i < 20000; ++i) {
        text += "line " + std::to_string(i) + " of some text\r\n";
    }
    const std::string random = RandomBytes(300000, 7);
    const std::string files[][3] = {{"in/text.txt", "TextFile", text},
                                    {"in/empty.dat", "EmptyFile", ""},
                                    {"in/random.bin", "RandomFile", random}};
    MakeDirectory("cab");
    ASSERT_EQ(OpenCompressor(area_, Wide(Windows("cab/new.cab")).c_str()), 0u);
    EXPECT_STREQ(area_.cabinetParameters.szCabPath, Windows("cab/new.cab").c_str());
    EXPECT_EQ(area_.cabinetParameters.cbFolderThresh, 900000u);
    EXPECT_EQ(area_.cabinetParameters.setID, 12345);
    for (const auto& file : files) {
        const std::string source = MakeFile(file[0], file[2]);
        ASSERT_EQ(AddFileToCabinet(area_, Wide(source).c_str(), Wide(file[1]).c_str()), 0u);
    }
    CloseCompressor(area_);
    EXPECT_EQ(area_.compressorContext, nullptr);
    for (auto& entry : std::filesystem::directory_iterator(prefix_.root() + "/tmp")) {
        ADD_FAILURE() << "the compressor's temporary file stayed: " << entry.path();
    }

    const std::string cabinet = Read("cab/new.cab");
    ASSERT_GE(cabinet.size(), 36u);
    EXPECT_EQ(cabinet.substr(0, 4), "MSCF");
    EXPECT_EQ(static_cast<unsigned char>(cabinet[32]) | static_cast<unsigned char>(cabinet[33])
                                                            << 8,
              12345)
        << "set id";

    ASSERT_TRUE(Extract(Windows("cab/new.cab"), MakeDirectory("out")));
    for (const auto& file : files) {
        EXPECT_EQ(Read("out/" + file[1]), file[2]) << file[1];
    }
}

TEST_F(WorkAreaTest, AddFailures) {
    const std::string source = MakeFile("in/a.txt", "a");
    EXPECT_EQ(AddFileToCabinet(area_, Wide(source).c_str(), Wide("A").c_str()), 1u)
        << "no compression context";
    ASSERT_EQ(OpenCompressor(area_, Wide(Windows("a.cab")).c_str()), 0u);
    EXPECT_EQ(AddFileToCabinet(area_, Wide(Windows("in/missing")).c_str(), Wide("M").c_str()), 2u);
    const WideString tooLong = Wide(Windows("in/" + std::string(900, 'a')));
    EXPECT_EQ(AddFileToCabinet(area_, tooLong.c_str(), Wide("L").c_str()), 2u);
    EXPECT_EQ(AddFileToCabinet(area_, Wide(source).c_str(), Wide("A").c_str()), 0u);
}

TEST_F(WorkAreaTest, CabinetPathThatDoesNotFitIsRefused) {
    // 255 characters fit the 256 bytes of szCabPath; 256 do not.
    const std::string fits = "C:\\" + std::string(252, 'f');
    ASSERT_EQ(OpenCompressor(area_, Wide(fits).c_str()), 0u);
    EXPECT_STREQ(area_.cabinetParameters.szCabPath, fits.c_str());
    CloseCompressor(area_);
    area_.cabinetParameters.szCabPath[0] = 0;

    const std::string tooLong = "C:\\" + std::string(253, 'f');
    EXPECT_EQ(OpenCompressor(area_, Wide(tooLong).c_str()), 1u);
    EXPECT_EQ(area_.compressorContext, nullptr);
    EXPECT_STREQ(area_.cabinetParameters.szCabPath, "") << "no shortened path is kept";
}

TEST_F(WorkAreaTest, DiscardDeletesOnlyTheCabinetItNames) {
    const std::string bystander = MakeFile("keep.cab", "keep");
    CloseCompressor(area_);  // nothing to close
    DiscardCabinetFile(area_);
    EXPECT_TRUE(Exists("keep.cab"));

    const std::string source = MakeFile("in/a.txt", "a");
    ASSERT_EQ(OpenCompressor(area_, Wide(Windows("built.cab")).c_str()), 0u);
    ASSERT_EQ(AddFileToCabinet(area_, Wide(source).c_str(), Wide("A").c_str()), 0u);
    DiscardCabinetFile(area_);  // flushes, then deletes
    EXPECT_EQ(area_.compressorContext, nullptr);
    EXPECT_FALSE(Exists("built.cab"));
    EXPECT_STREQ(area_.cabinetParameters.szCabPath, "");
    EXPECT_TRUE(Exists("keep.cab"));
}

TEST_F(WorkAreaTest, ReleaseWithoutExtractDirectoryTouchesNoDirectory) {
    MakeFile("tmp-like/one", "1");
    MakeFile("two", "2");
    ReleaseCabinetWorkArea(area_);
    EXPECT_TRUE(Exists("tmp-like/one"));
    EXPECT_TRUE(Exists("two"));
}

TEST_F(WorkAreaTest, ReleaseEmptiesTheExtractDirectoryAndDeletesTheOldCabinet) {
    const std::string directory = MakeDirectory("x/extract");
    MakeFile("x/extract/File1", "1");
    MakeFile("x/extract/File2", "2");
    MakeFile("x/extract/sub/deeper", "3");
    MakeFile("x/beside", "4");
    const std::string old = MakeFile("x/old.cab", "cab");
    const WideString wide = Wide(directory);
    std::copy(wide.begin(), wide.end(), area_.extractDirectory.begin());
    area_.oldCabinetFile = Wide(old);

    ReleaseCabinetWorkArea(area_);
    EXPECT_FALSE(Exists("x/extract/File1"));
    EXPECT_FALSE(Exists("x/extract/File2"));
    EXPECT_TRUE(Exists("x/extract/sub/deeper")) << "subdirectories are not entered";
    EXPECT_TRUE(Exists("x/beside"));
    EXPECT_FALSE(Exists("x/old.cab"));
    EXPECT_EQ(area_.extractDirectory[0], 0);
    EXPECT_FALSE(area_.oldCabinetFile.has_value());
}

}  // namespace
}  // namespace cabinet_test
