// Interoperation with independent cabinet tools: what the module writes,
// cabextract and gcab read; what gcab writes, the module reads.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "cab_test_support.h"

namespace cabtest {
namespace {

std::string Quote(const fs::path& p) {
    return "'" + p.string() + "'";
}

std::string FormatDosStamp(uint16_t date, uint16_t time) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", 1980 + (date >> 9),
                  (date >> 5) & 15, date & 31, time >> 11, (time >> 5) & 63, (time & 31) * 2);
    return text;
}

class Peers : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!HaveProgram("cabextract") || !HaveProgram("gcab"))
            GTEST_SKIP() << "cabextract and gcab are needed";
        ResetLog();
        // Mixed content: text, random, empty, names outside ASCII, enough
        // data for several blocks and folders.
        for (int i = 0; i < 200; ++i) {
            std::string name =
                "file" + std::to_string(i) + (i % 50 == 7 ? "-\xC3\xA9t\xC3\xA9.txt" : ".dat");
            std::string bytes = i % 4 == 0   ? TextBytes(static_cast<size_t>(i) * 1500, i)
                                : i % 4 == 1 ? RandomBytes(static_cast<size_t>(i) * 300, i)
                                : i % 4 == 2 ? std::string()
                                             : TextBytes(70000, i);
            WriteFile(sources_ / name, bytes);
            files_.push_back({sources_ / name, name});
        }
    }

    void ExpectSameContents(const fs::path& directory) {
        for (const SourceFile& f : files_) {
            ASSERT_TRUE(fs::exists(directory / f.name)) << f.name;
            EXPECT_EQ(ReadFile(directory / f.name), ReadFile(f.path)) << f.name;
        }
    }

    TempDir sources_;
    TempDir work_;
    std::vector<SourceFile> files_;
};

TEST_F(Peers, CabextractTestsListsAndExtractsOurCabinets) {
    fs::path cab = work_ / "ours.cab";
    BuildOptions options;
    options.folderThreshold = 900000;
    ASSERT_TRUE(BuildCabinet(cab, files_, options).ok);
    EXPECT_GT(InspectCabinet(cab).info.cFolders, 1);

    std::string output;
    EXPECT_EQ(RunCommand("cabextract -t " + Quote(cab), &output), 0) << output;
    EXPECT_NE(output.find("All done, no errors"), std::string::npos) << output;

    TempDir out;
    ASSERT_EQ(RunCommand("cabextract -q -d " + Quote(out.path()) + " " + Quote(cab), &output), 0)
        << output;
    ExpectSameContents(out.path());

    // cabextract lists DD.MM.YYYY HH:MM:SS; the stamps must be the sources'.
    ASSERT_EQ(RunCommand("cabextract -l " + Quote(cab), &output), 0);
    for (const SourceFile& f : files_) {
        std::string stamp = FormatDosStamp(DosDate(f.path), DosTime(f.path));
        std::string listed = stamp.substr(8, 2) + "." + stamp.substr(5, 2) + "." +
                             stamp.substr(0, 4) + " " + stamp.substr(11) + " | " + f.name;
        EXPECT_NE(output.find(listed), std::string::npos) << listed;
    }
}

TEST_F(Peers, GcabListsAndExtractsOurCabinets) {
    fs::path cab = work_ / "ours.cab";
    ASSERT_TRUE(BuildCabinet(cab, files_).ok);
    std::string output;
    ASSERT_EQ(RunCommand("gcab -l " + Quote(cab), &output), 0) << output;
    for (const SourceFile& f : files_) {
        bool ascii = f.name.find('\xC3') == std::string::npos;
        std::string line = f.name + " " + std::to_string(fs::file_size(f.path)) + " " +
                           FormatDosStamp(DosDate(f.path), DosTime(f.path)) +
                           (ascii ? " 0x20" : " 0xA0");
        EXPECT_NE(output.find(line), std::string::npos) << line;
    }
    TempDir out;
    ASSERT_EQ(RunCommand("gcab -x -C " + Quote(out.path()) + " " + Quote(cab), &output), 0)
        << output;
    ExpectSameContents(out.path());
}

TEST_F(Peers, GcabCabinetsExtractThroughTheModule) {
    std::string names;
    for (const SourceFile& f : files_)
        names += " '" + f.name + "'";
    for (const char* flags : {"-c -z", "-c"}) {
        SCOPED_TRACE(flags);
        fs::path cab = work_ / "gcab.cab";
        std::string output;
        ASSERT_EQ(RunCommand("cd " + Quote(sources_.path()) + " && gcab " + flags + " " +
                                 Quote(cab) + names,
                             &output),
                  0)
            << output;
        TempDir out;
        ExtractResult result = ExtractCabinet(cab, out.path());
        ASSERT_TRUE(result.ok) << result.erf.erfOper;
        ASSERT_EQ(result.files.size(), files_.size());
        for (size_t i = 0; i < files_.size(); ++i) {
            EXPECT_EQ(result.files[i].name, files_[i].name);
            EXPECT_EQ(result.files[i].date, DosDate(files_[i].path)) << files_[i].name;
            EXPECT_EQ(result.files[i].time, DosTime(files_[i].path)) << files_[i].name;
        }
        ExpectSameContents(out.path());
    }
}

}  // namespace
}  // namespace cabtest
