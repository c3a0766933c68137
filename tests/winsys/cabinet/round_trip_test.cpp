// Cabinets written by the module and read back by it: contents, names,
// dates, attributes, folders, parameters, and the callback contract.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "cab_test_support.h"

namespace cabtest {
namespace {

class RoundTrip : public ::testing::Test {
  protected:
    void SetUp() override { ResetLog(); }

    fs::path Source(const std::string& name, const std::string& bytes) {
        fs::path p = sources_ / name;
        WriteFile(p, bytes);
        return p;
    }

    TempDir sources_;
    TempDir out_;
};

TEST_F(RoundTrip, ManyFilesOfMixedContentComeBackByteForByte) {
    std::vector<SourceFile> files;
    std::map<std::string, std::string> expected;
    for (int i = 0; i < 120; ++i) {
        std::string bytes = i % 3 == 0   ? TextBytes(static_cast<size_t>(i) * 997, i)
                            : i % 3 == 1 ? RandomBytes(static_cast<size_t>(i) * 1231, i)
                                         : std::string();
        std::string name = "file" + std::to_string(i) + ".bin";
        files.push_back({Source(name, bytes), name});
        expected[name] = bytes;
    }
    fs::path cab = out_ / "many.cab";
    BuildResult built = BuildCabinet(cab, files);
    ASSERT_TRUE(built.ok) << built.erf.erfOper;

    TempDir extracted;
    ExtractResult result = ExtractCabinet(cab, extracted.path());
    ASSERT_TRUE(result.ok) << result.erf.erfOper;
    ASSERT_EQ(result.files.size(), files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(result.files[i].name, files[i].name);
        EXPECT_TRUE(result.files[i].closed);
        EXPECT_EQ(ReadFile(extracted / files[i].name), expected[files[i].name]) << files[i].name;
        EXPECT_EQ(result.files[i].date, DosDate(files[i].path));
        EXPECT_EQ(result.files[i].time, DosTime(files[i].path));
    }
    EXPECT_EQ(result.opens, result.closes);
}

TEST_F(RoundTrip, AttributesAndExecuteFlagArePassedThrough) {
    fs::path a = Source("a.txt", "alpha");
    fs::path b = Source("b.txt", "beta");
    Log().attribsByPath[a.string()] = 0x01 | 0x02 | 0x04 | 0x20;
    Log().attribsByPath[b.string()] = 0;
    fs::path cab = out_ / "attr.cab";
    ASSERT_TRUE(BuildCabinet(cab, {{a, "a.txt"}, {b, "b.txt"}}).ok);
    TempDir extracted;
    ExtractResult result = ExtractCabinet(cab, extracted.path());
    ASSERT_TRUE(result.ok);
    ASSERT_EQ(result.files.size(), 2u);
    EXPECT_EQ(result.files[0].attribs, 0x27);
    EXPECT_EQ(result.files[1].attribs, 0);
}

TEST_F(RoundTrip, NonAsciiNamesAreStoredAsFlaggedUtf8) {
    std::vector<std::string> names = {"h\xC3\xA9llo.txt", "\xE6\x97\xA5\xE6\x9C\xAC.dat",
                                      "\xF0\x9F\x98\x80.bin", "plain.txt"};
    std::vector<SourceFile> files;
    for (size_t i = 0; i < names.size(); ++i)
        files.push_back({Source("src" + std::to_string(i), "content " + names[i]), names[i]});
    fs::path cab = out_ / "utf.cab";
    ASSERT_TRUE(BuildCabinet(cab, files).ok);
    TempDir extracted;
    ExtractResult result = ExtractCabinet(cab, extracted.path());
    ASSERT_TRUE(result.ok);
    ASSERT_EQ(result.files.size(), names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(result.files[i].name, names[i]);
        bool ascii =
            std::all_of(names[i].begin(), names[i].end(), [](char c) { return (c & 0x80) == 0; });
        EXPECT_EQ((result.files[i].attribs & _A_NAME_IS_UTF) != 0, !ascii) << names[i];
        EXPECT_EQ(ReadFile(extracted / names[i]), "content " + names[i]);
    }
}

TEST_F(RoundTrip, FoldersSplitAtTheThresholdAndStoredFoldersWork) {
    std::vector<SourceFile> files;
    for (int i = 0; i < 10; ++i)
        files.push_back({Source("r" + std::to_string(i), RandomBytes(50000, 100 + i)),
                         "r" + std::to_string(i)});
    fs::path cab = out_ / "split.cab";
    BuildOptions options;
    options.folderThreshold = 120000;  // random data: about three files per folder
    ASSERT_TRUE(BuildCabinet(cab, files, options).ok);
    CabinetInfoResult info = InspectCabinet(cab);
    ASSERT_TRUE(info.ok);
    EXPECT_EQ(info.info.cFiles, 10);
    EXPECT_EQ(info.info.cFolders, 4);
    EXPECT_EQ(Log().statusFolderCalls, 4);
    TempDir extracted;
    ExtractResult result = ExtractCabinet(cab, extracted.path());
    ASSERT_TRUE(result.ok);
    std::vector<int> folders;
    for (const auto& f : result.files)
        folders.push_back(f.folder);
    EXPECT_EQ(folders, (std::vector<int>{0, 0, 0, 1, 1, 1, 2, 2, 2, 3}));
    for (const auto& f : files)
        EXPECT_EQ(ReadFile(extracted / f.name), ReadFile(f.path));

    // The same files stored without compression, one folder each.
    fs::path stored = out_ / "stored.cab";
    options = {};
    options.type = tcompTYPE_NONE;
    options.flushFolderAfterEach = true;
    ASSERT_TRUE(BuildCabinet(stored, files, options).ok);
    EXPECT_EQ(InspectCabinet(stored).info.cFolders, 10);
    TempDir again;
    ASSERT_TRUE(ExtractCabinet(stored, again.path()).ok);
    for (const auto& f : files)
        EXPECT_EQ(ReadFile(again / f.name), ReadFile(f.path));
}

TEST_F(RoundTrip, HeaderCarriesSetIdCabinetNumberAndReserves) {
    fs::path a = Source("a", TextBytes(100000, 1));
    fs::path cab = out_ / "ids.cab";
    BuildOptions options;
    options.setID = 4242;
    options.iCab = 7;
    options.reserveHeader = 10;
    options.reserveFolder = 3;
    options.reserveData = 5;
    ASSERT_TRUE(BuildCabinet(cab, {{a, "a"}}, options).ok);
    CabinetInfoResult info = InspectCabinet(cab);
    ASSERT_TRUE(info.ok);
    EXPECT_EQ(info.info.setID, 4242);
    EXPECT_EQ(info.info.iCabinet, 7);
    EXPECT_TRUE(info.info.fReserve);
    EXPECT_FALSE(info.info.hasprev);
    EXPECT_FALSE(info.info.hasnext);
    EXPECT_EQ(info.info.cbCabinet, static_cast<long>(fs::file_size(cab)));
    TempDir extracted;
    ASSERT_TRUE(ExtractCabinet(cab, extracted.path()).ok);
    EXPECT_EQ(ReadFile(extracted / "a"), ReadFile(a));
}

TEST_F(RoundTrip, EveryCallbackRunsOnTheCallersThreadAndEverythingIsReleased) {
    std::vector<SourceFile> files;
    for (int i = 0; i < 6; ++i)
        files.push_back(
            {Source("t" + std::to_string(i), TextBytes(300000, i)), "t" + std::to_string(i)});
    fs::path cab = out_ / "threads.cab";
    ASSERT_TRUE(BuildCabinet(cab, files).ok);
    CallbackLog& log = Log();
    EXPECT_FALSE(log.foreignThread);
    EXPECT_EQ(log.allocations, log.frees);
    EXPECT_EQ(log.opens, log.closes);
    // Both temporary files were made through the callback and deleted again.
    ASSERT_EQ(log.tempFiles.size(), 2u);
    for (const auto& t : log.tempFiles) {
        EXPECT_NE(std::find(log.deleted.begin(), log.deleted.end(), t), log.deleted.end());
        EXPECT_FALSE(fs::exists(t));
    }
    EXPECT_EQ(log.placed.size(), files.size());
    EXPECT_EQ(log.statusFileUncompressed, 6u * 300000u);
    EXPECT_EQ(log.statusCabinetCalls, 1);
    EXPECT_LT(log.statusFileCompressed, log.statusFileUncompressed);

    TempDir extracted;
    ResetLog();
    ASSERT_TRUE(ExtractCabinet(cab, extracted.path()).ok);
    EXPECT_FALSE(Log().foreignThread);
    EXPECT_EQ(Log().allocations, Log().frees);
}

TEST_F(RoundTrip, CompressedOutputDoesNotDependOnThreadTiming) {
    std::vector<SourceFile> files;
    for (int i = 0; i < 4; ++i)
        files.push_back(
            {Source("d" + std::to_string(i), TextBytes(400000, 50 + i)), "d" + std::to_string(i)});
    fs::path first = out_ / "first.cab";
    fs::path second = out_ / "second.cab";
    ASSERT_TRUE(BuildCabinet(first, files).ok);
    ASSERT_TRUE(BuildCabinet(second, files).ok);
    EXPECT_EQ(ReadFile(first), ReadFile(second));
}


// Compressed data reaches the cabinet once at any size: within the writer's
// memory budget it waits in memory, past it it goes straight into the
// cabinet file behind room left for the tables. Two cabinets in a row reuse
// the scratch stores from the start. A file table too large for that room
// moves the data once; every such cabinet is read by the peers too.
TEST_F(RoundTrip, CompressedBytesReachTheCabinetOnce) {
    struct Case {
        const char* what;
        std::vector<SourceFile> files;
        bool movedOnce;
    };
    std::vector<SourceFile> manyNames;
    for (int i = 0; i < 1000; ++i) {
        const std::string name = "a-file-name-long-enough-to-fill-the-table-quickly-" +
                                 std::to_string(1000 + i) + ".bin";
        manyNames.push_back({Source(name, RandomBytes(17500, 300 + i)), name});
    }
    const Case cases[] = {
        {"text within the budget", {{Source("t6", TextBytes(6 << 20, 71)), "c"}}, false},
        {"random past the budget", {{Source("r20", RandomBytes(20 << 20, 72)), "c"}}, false},
        {"text after a spilled cabinet", {{Source("t3", TextBytes(3 << 20, 73)), "c"}}, false},
        {"a large file table past the budget", manyNames, true},
    };
    for (const Case& c : cases) {
        ResetLog();
        fs::path cab = out_ / "budget.cab";
        ASSERT_TRUE(BuildCabinet(cab, c.files).ok) << c.what;
        const uint64_t size = fs::file_size(cab);
        if (c.movedOnce) {
            EXPECT_GT(Log().bytesWritten, size) << c.what;
            EXPECT_LT(Log().bytesWritten, 2 * size) << c.what;
        } else {
            EXPECT_EQ(Log().bytesWritten, size) << c.what;
        }
        TempDir extracted;
        ASSERT_TRUE(ExtractCabinet(cab, extracted.path()).ok) << c.what;
        for (const SourceFile& f : c.files)
            ASSERT_TRUE(ReadFile(extracted / f.name) == ReadFile(f.path)) << c.what << " " << f.name;
        std::string output;
        if (HaveProgram("cabextract")) {
            EXPECT_EQ(RunCommand("cabextract -q -t '" + cab.string() + "'", &output), 0)
                << c.what << ": " << output;
        }
        if (HaveProgram("gcab")) {
            TempDir byGcab;
            ASSERT_EQ(RunCommand("gcab -x -C '" + byGcab.path().string() + "' '" + cab.string() +
                                     "'",
                                 &output),
                      0)
                << c.what << ": " << output;
            const SourceFile& last = c.files.back();
            EXPECT_TRUE(ReadFile(byGcab / last.name) == ReadFile(last.path)) << c.what;
        }
    }
    // A cabinet that fails past the budget leaves no half-written file.
    BuildOptions small;
    small.cb = 18 << 20;
    fs::path failed = out_ / "failed.cab";
    BuildResult result = BuildCabinet(failed, {{sources_ / "r20", "c"}}, small);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.erf.erfOper, FCIERR_CAB_FILE);
    EXPECT_FALSE(fs::exists(failed));
}

// Blocks that look random are stored without deflate; blocks that only look
// random at first, or whose bytes are evenly spread but repeat, still shrink.
TEST_F(RoundTrip, RandomLookingDataIsStoredAndEverythingElseShrinks) {
    std::string repeated;
    while (repeated.size() < 300000)
        repeated += RandomBytes(8192, 11);
    std::string randomThenText;
    while (randomThenText.size() < 300000)
        randomThenText += RandomBytes(8192, randomThenText.size()) + TextBytes(24576, 12);
    struct Case {
        const char* what;
        std::string bytes;
        double mostRatio;  // cabinet size against the data's at most
        double leastRatio;
    } cases[] = {{"random", RandomBytes(300000, 10), 1.01, 1.0},
                 {"repeated random", repeated, 0.3, 0},
                 {"random then text", randomThenText, 0.6, 0}};
    for (const Case& c : cases) {
        fs::path source = Source("s", c.bytes);
        fs::path cab = out_ / "stored.cab";
        ASSERT_TRUE(BuildCabinet(cab, {{source, "s"}}).ok) << c.what;
        const double ratio = double(fs::file_size(cab)) / double(c.bytes.size());
        EXPECT_LE(ratio, c.mostRatio) << c.what;
        EXPECT_GE(ratio, c.leastRatio) << c.what;
        TempDir extracted;
        ASSERT_TRUE(ExtractCabinet(cab, extracted.path()).ok) << c.what;
        EXPECT_TRUE(ReadFile(extracted / "s") == c.bytes) << c.what;
    }
}

TEST_F(RoundTrip, FailuresAreReportedInTheErrorRecord) {
    fs::path a = Source("a", RandomBytes(200000, 9));
    BuildResult missing = BuildCabinet(out_ / "x.cab", {{sources_ / "absent", "absent"}});
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.erf.erfOper, FCIERR_OPEN_SRC);
    EXPECT_TRUE(missing.erf.fError);

    BuildOptions lzx;
    lzx.type = tcompTYPE_LZX;
    EXPECT_EQ(BuildCabinet(out_ / "x.cab", {{a, "a"}}, lzx).erf.erfOper, FCIERR_BAD_COMPR_TYPE);

    BuildOptions small;
    small.cb = 50000;
    EXPECT_EQ(BuildCabinet(out_ / "x.cab", {{a, "a"}}, small).erf.erfOper, FCIERR_CAB_FILE);

    BuildOptions incompressible;
    incompressible.failOnIncompressible = 1;
    EXPECT_EQ(BuildCabinet(out_ / "x.cab", {{a, "a"}}, incompressible).erf.erfOper,
              FCIERR_MCI_FAIL);

    ResetLog();
    Log().abortStatusAfter = 2;
    EXPECT_EQ(BuildCabinet(out_ / "x.cab", {{a, "a"}}).erf.erfOper, FCIERR_USER_ABORT);
    EXPECT_EQ(Log().allocations, Log().frees);
    EXPECT_EQ(Log().opens, Log().closes);

    std::string longName(300, 'n');
    EXPECT_FALSE(BuildCabinet(out_ / "x.cab", {{a, longName}}).ok);
}

TEST_F(RoundTrip, AskingForTheNextCabinetLinksIt) {
    fs::path a = Source("a", "payload");
    fs::path cab = out_ / "first.cab";
    BuildOptions options;
    options.getNextCabinet = true;
    ASSERT_TRUE(BuildCabinet(cab, {{a, "a"}}, options).ok);
    EXPECT_EQ(Log().getNextCalls, 1);
    CabinetInfoResult info = InspectCabinet(cab);
    ASSERT_TRUE(info.ok);
    EXPECT_TRUE(info.info.hasnext);
    TempDir extracted;
    ExtractResult result = ExtractCabinet(cab, extracted.path());
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(ReadFile(extracted / "a"), "payload");
}

TEST_F(RoundTrip, NotificationsComeInTheDocumentedOrderAndSkippingWritesNothing) {
    fs::path a = Source("a", "one");
    fs::path b = Source("b", "two");
    fs::path cab = out_ / "order.cab";
    ASSERT_TRUE(BuildCabinet(cab, {{a, "a"}, {b, "b"}}).ok);
    TempDir extracted;
    ExtractResult result = ExtractCabinet(cab, extracted.path());
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.notifications,
              (std::vector<FDINOTIFICATIONTYPE>{fdintCABINET_INFO, fdintENUMERATE, fdintCOPY_FILE,
                                                fdintCLOSE_FILE_INFO, fdintCOPY_FILE,
                                                fdintCLOSE_FILE_INFO, fdintENUMERATE}));
    TempDir skipped;
    ExtractOptions skip;
    skip.skipAll = true;
    ExtractResult none = ExtractCabinet(cab, skipped.path(), skip);
    ASSERT_TRUE(none.ok);
    EXPECT_TRUE(fs::is_empty(skipped.path()));

    ExtractOptions abort;
    abort.abortOnCopy = 1;
    TempDir aborted;
    ExtractResult stopped = ExtractCabinet(cab, aborted.path(), abort);
    EXPECT_FALSE(stopped.ok);
    EXPECT_EQ(stopped.erf.erfOper, FDIERROR_USER_ABORT);
    EXPECT_EQ(stopped.opens, stopped.closes);
}

}  // namespace
}  // namespace cabtest
