// The binding's rules, shown with stand-in cabinet modules: which entry points
// each side needs, and the module references that contexts hold.
#include "cabinet/cabinet_work_area.h"
#include "cabinet_test_support.h"

namespace cabinet_test {
namespace {

class BindingTest : public CabinetTest {
  protected:
    static bool Loaded(const char* path) {
        const std::string file = std::filesystem::path(path).filename().string();
        return GetModuleHandleA(file.c_str()) != nullptr;
    }
    static HFCI Create(CCAB* parameters, ERF* error) {
        return CreateCompressor(error, CabAnswerZero, CabAlloc, CabFree, FciOpenFile, FciReadFile,
                                FciWriteFile, FciCloseFile, FciSeekFile, FciDeleteFile,
                                FciGetTempFile, parameters, nullptr);
    }
    CCAB ParametersFor(const std::string& cabinet) {
        CCAB parameters{};
        parameters.cb = 0x0FFFFFFF;
        parameters.cbFolderThresh = 900000;
        parameters.setID = 1;
        std::strcpy(parameters.szCabPath, cabinet.c_str());
        return parameters;
    }
};

TEST_F(BindingTest, ModuleWithoutFlushFolderStillCompresses) {
    cabinetModuleName = STAND_IN_WITHOUT_FLUSH_FOLDER;
    const std::string source = MakeFile("in/a.txt", std::string(70000, 'q') + "tail");
    MakeDirectory("cab");
    CabinetWorkArea area;
    InitCabinetWorkArea(area);
    ASSERT_EQ(OpenCompressor(area, Wide(Windows("cab/a.cab")).c_str()), 0u);
    EXPECT_TRUE(Loaded(STAND_IN_WITHOUT_FLUSH_FOLDER));
    ASSERT_EQ(AddFileToCabinet(area, Wide(source).c_str(), Wide("A").c_str()), 0u);
    CloseCompressor(area);
    EXPECT_FALSE(Loaded(STAND_IN_WITHOUT_FLUSH_FOLDER)) << "the destroy gave the module back";

    cabinetModuleName = "CABINET";
    ASSERT_TRUE(Extract(Windows("cab/a.cab"), MakeDirectory("out")));
    EXPECT_EQ(Read("out/A"), std::string(70000, 'q') + "tail");
    DiscardCabinetFile(area);
}

TEST_F(BindingTest, ModuleWithoutIsCabinetCannotDecompress) {
    cabinetModuleName = STAND_IN_WITHOUT_IS_CABINET;
    ERF error{};
    EXPECT_EQ(CreateDecompressor(CabAlloc, CabFree, FdiOpenFile, FdiReadFile, FdiWriteFile,
                                 FdiCloseFile, FdiSeekFile, cpu80386, &error),
              nullptr);
    EXPECT_FALSE(Loaded(STAND_IN_WITHOUT_IS_CABINET)) << "a failed create holds no reference";
    char empty[] = "";
    EXPECT_FALSE(DecompressorCopy(nullptr, empty, empty, 0, FdiNotify, nullptr, nullptr))
        << "nothing is bound after the failed create";
    EXPECT_FALSE(DestroyDecompressor(nullptr));

    // The same module still serves compression, which needs no FDIIsCabinet.
    CCAB parameters = ParametersFor(Windows("c.cab"));
    const HFCI context = Create(&parameters, &error);
    ASSERT_NE(context, nullptr);
    EXPECT_TRUE(DestroyCompressor(context));
    EXPECT_FALSE(Loaded(STAND_IN_WITHOUT_IS_CABINET));
}

TEST_F(BindingTest, EachContextHoldsOneReferenceUntilItsDestroySucceeds) {
    cabinetModuleName = STAND_IN_WITHOUT_FLUSH_FOLDER;
    ERF error{};
    CCAB first = ParametersFor(Windows("one.cab"));
    CCAB second = ParametersFor(Windows("two.cab"));
    const HFCI one = Create(&first, &error);
    const HFCI two = Create(&second, &error);
    ASSERT_NE(one, nullptr);
    ASSERT_NE(two, nullptr);

    EXPECT_EQ(Create(nullptr, &error), nullptr) << "a create the module refuses";
    EXPECT_TRUE(Loaded(STAND_IN_WITHOUT_FLUSH_FOLDER));

    EXPECT_TRUE(DestroyCompressor(one));
    EXPECT_TRUE(Loaded(STAND_IN_WITHOUT_FLUSH_FOLDER)) << "the second context still holds it";
    EXPECT_FALSE(DestroyCompressor(nullptr)) << "a failed destroy";
    EXPECT_TRUE(Loaded(STAND_IN_WITHOUT_FLUSH_FOLDER)) << "a failed destroy releases nothing";
    EXPECT_TRUE(DestroyCompressor(two));
    EXPECT_FALSE(Loaded(STAND_IN_WITHOUT_FLUSH_FOLDER));

    EXPECT_EQ(Create(nullptr, &error), nullptr);
    EXPECT_FALSE(Loaded(STAND_IN_WITHOUT_FLUSH_FOLDER)) << "a failed create holds none";
    char empty[] = "";
    EXPECT_FALSE(CompressorAddFile(nullptr, empty, empty, FALSE, CabAnswerTrue, nullptr, nullptr,
                                   tcompTYPE_MSZIP))
        << "nothing is bound once no context holds the module";
    EXPECT_FALSE(CompressorFlushCabinet(nullptr, FALSE, CabAnswerTrue, nullptr));
    EXPECT_FALSE(DestroyCompressor(nullptr));
}

TEST_F(BindingTest, MissingModuleMakesNoContext) {
    cabinetModuleName = "NOSUCHCABINET";
    CabinetWorkArea area;
    InitCabinetWorkArea(area);
    EXPECT_EQ(OpenCompressor(area, Wide(Windows("x.cab")).c_str()), 1u);
    const std::string source = MakeFile("in/a.txt", "a");
    EXPECT_EQ(AddFileToCabinet(area, Wide(source).c_str(), Wide("A").c_str()), 1u);
    ERF error{};
    EXPECT_EQ(CreateDecompressor(CabAlloc, CabFree, FdiOpenFile, FdiReadFile, FdiWriteFile,
                                 FdiCloseFile, FdiSeekFile, cpu80386, &error),
              nullptr);
    DiscardCabinetFile(area);
}

}  // namespace
}  // namespace cabinet_test
