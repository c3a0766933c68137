// What QLTMsiOpenDatabase makes of its arguments and of a context that is
// still open, and what closing leaves behind.
#include "library_test_support.h"

#include "api/messages.h"

namespace library_test {
namespace {

constexpr char16_t kProduct[] = u"{6F4A1D2C-1111-2222-3333-444455556666}";
const char kInvalidParameterText[] = "An invalid parameter was supplied to an msi function.";

class OpenDatabase : public LibraryTest {
  protected:
    void SetUp() override {
        LibraryTest::SetUp();
        handle_ = QLTMsiOpen();
    }
    int handle_ = 0;
};

TEST_F(OpenDatabase, MissingProductCodeIsAnInvalidParameter) {
    EXPECT_EQ(QLTMsiOpenDatabase(handle_, nullptr, nullptr, nullptr, nullptr, nullptr),
              QLTMSI_ERROR_INVALID_PARAMETER);
    const char* text = QLTMsiGetLastErrorStrA(handle_);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, kInvalidParameterText);
    EXPECT_EQ(QLTMsiCloseDatabase(handle_), QLTMSI_ERROR_NO_DATABASE);
    EXPECT_EQ(QLTMsiCloseDatabase(handle_), QLTMSI_ERROR_NO_PATCH_CONTEXT);
}

TEST_F(OpenDatabase, TransformPathLongerThanAPathIsRefusedNotCut) {
    const WideString directory = u"C:\\" + WideString(250, u'd');
    const WideString name = u"changes.mst";  // joined: 265 characters
    EXPECT_EQ(
        QLTMsiOpenDatabase(handle_, kProduct, name.c_str(), nullptr, directory.c_str(), nullptr),
        QLTMSI_ERROR_INVALID_PARAMETER);
    EXPECT_STREQ(QLTMsiGetLastErrorStrA(handle_), kInvalidParameterText);
    ASSERT_NE(libraryState.currentContext, nullptr);
    EXPECT_FALSE(libraryState.currentContext->transformPath.has_value());

    // A package code in braces is never taken for a transform name.
    const WideString fits = u"C:\\" + WideString(245, u'd');  // joined: exactly 260
    EXPECT_NE(QLTMsiOpenDatabase(handle_, kProduct, name.c_str(), kProduct, fits.c_str(), nullptr),
              QLTMSI_ERROR_INVALID_PARAMETER);
    EXPECT_EQ(QLTMsiOpenDatabase(handle_, kProduct, kProduct, WideString(300, u'n').c_str(),
                                 nullptr, nullptr),
              QLTMSI_ERROR_INVALID_PARAMETER);
    EXPECT_EQ(libraryState.currentContext->lastMessageId, kMessageInvalidParameter);
}

TEST_F(OpenDatabase, AContextLeftOpenIsEndedWithItsFilesByTheNextOpen) {
    QLTMsiOpenDatabase(handle_, kProduct, nullptr, nullptr, nullptr, nullptr);
    const WideString workingCopy = MakeFile("tmp/qlt1.tmp");
    std::copy(workingCopy.begin(), workingCopy.end(),
              libraryState.currentContext->workingCopyPath.begin());
    QLTMsiOpenDatabase(handle_, kProduct, nullptr, nullptr, nullptr, nullptr);
    EXPECT_FALSE(Exists("tmp/qlt1.tmp"));
    EXPECT_NE(libraryState.currentContext, nullptr);
}

TEST_F(OpenDatabase, CloseTearsDownTheContextAndForgetsTheHandle) {
    QLTMsiOpenDatabase(handle_, kProduct, nullptr, nullptr, nullptr, nullptr);
    PatchContext& context = *libraryState.currentContext;
    const WideString workingCopy = MakeFile("tmp/qlt2.tmp");
    std::copy(workingCopy.begin(), workingCopy.end(), context.workingCopyPath.begin());
    const WideString oldCabinet = MakeFile("tmp/qlt3.tmp");
    context.cabinet.oldCabinetFile = oldCabinet;

    EXPECT_EQ(QLTMsiClose(handle_), QLTMSI_SUCCESS);
    EXPECT_FALSE(Exists("tmp/qlt2.tmp"));
    EXPECT_FALSE(Exists("tmp/qlt3.tmp"));
    EXPECT_EQ(libraryState.currentContext, nullptr);
    EXPECT_EQ(QLTMsiGetLastErrorStrA(handle_), nullptr);
}

TEST_F(OpenDatabase, UnbuiltStepsFailHonestly) {
    EXPECT_NE(QLTMsiOpenDatabase(handle_, kProduct, nullptr, nullptr, nullptr, nullptr),
              QLTMSI_SUCCESS);
    EXPECT_NE(QLTMsiUpdateFile(handle_, u"C:\\app\\a.txt", u"C:\\new\\a.txt", u"a.txt"),
              QLTMSI_SUCCESS);
    EXPECT_EQ(QLTMsiUpdateFile(handle_, nullptr, nullptr, nullptr), QLTMSI_SUCCESS)
        << "no file: nothing to do";
    EXPECT_NE(DefragMsiFile(u"C:\\none.msi"), QLTMSI_DEFRAG_DONE);
    QltMsiBackupSvr(nullptr, nullptr, nullptr, SW_HIDE);
}

}  // namespace
}  // namespace library_test
