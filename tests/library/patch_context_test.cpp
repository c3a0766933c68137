// Releasing and tearing down a patch context: which files go, which fields
// stay, and the status of closing.
#include "library_test_support.h"

#include "api/messages.h"

namespace library_test {
namespace {

void SetPath(WidePath& field, const WideString& path) {
    std::fill(field.begin(), field.end(), 0);
    std::copy(path.begin(), path.end(), field.begin());
}

void NoProgress(int, void*) {}

class Context : public LibraryTest {
  protected:
    void SetUp() override {
        LibraryTest::SetUp();
        InitContext(context_);
    }
    PatchContext context_;
};

TEST_F(Context, ReleaseWithoutDatabaseRecordsMessage6AndDeletesTheTemporaryFiles) {
    SetPath(context_.packagePath, u"C:\\Windows\\Installer\\1.msi");
    SetPath(context_.workingCopyPath, MakeFile("tmp/work.tmp"));
    SetPath(context_.newCabCachePath, MakeFile("app/new.msi"));
    SetPath(context_.reverseTransformPath, MakeFile("tmp/rev.tmp"));
    SetPath(context_.cabCachePath, MakeFile("app/old.msi"));
    context_.productCode = WideString(u"{P}");
    context_.transformPath = WideString(u"C:\\t.mst");
    context_.backupString = WideString(u"rundll32");
    context_.changesPending = 1;
    context_.progressCallback = NoProgress;

    EXPECT_EQ(ReleaseContext(context_), static_cast<UINT>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(context_.lastMessageId, kMessageOpenDatabase);
    EXPECT_FALSE(Exists("tmp/work.tmp"));
    EXPECT_FALSE(Exists("app/new.msi"));
    EXPECT_FALSE(Exists("tmp/rev.tmp"));
    EXPECT_TRUE(Exists("app/old.msi")) << "the package's cab cache is not the context's to delete";
    EXPECT_TRUE(IsEmpty(context_.packagePath));
    EXPECT_TRUE(IsEmpty(context_.workingCopyPath));
    EXPECT_FALSE(IsEmpty(context_.cabCachePath));
    EXPECT_FALSE(context_.productCode || context_.transformPath || context_.backupString);
    EXPECT_EQ(context_.changesPending, 1u);
    EXPECT_EQ(context_.progressCallback, &NoProgress);

    context_.lastMessageId = kMessageFileNotFound;
    EXPECT_EQ(ReleaseContext(context_), static_cast<UINT>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(context_.lastMessageId, kMessageOpenDatabase);
}

TEST_F(Context, ReleaseClosesAnOpenDatabaseAndKeepsTheRecordedMessage) {
    MakeFile("tmp/other.txt");
    const WideString package = CPath("tmp/empty.msi");
    ASSERT_EQ(MsiOpenDatabaseW(package.c_str(), MSIDBOPEN_CREATE, &context_.database),
              ERROR_SUCCESS);
    const MSIHANDLE database = context_.database;
    context_.lastMessageId = kMessageFileNotFound;
    EXPECT_EQ(ReleaseContext(context_), static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_EQ(context_.database, 0u);
    EXPECT_EQ(context_.lastMessageId, kMessageFileNotFound);
    EXPECT_EQ(MsiCloseHandle(database), static_cast<UINT>(ERROR_INVALID_HANDLE))
        << "already closed";
}

TEST_F(Context, DestroyAlsoClearsTheExtractionDirectoryAndOldCabinet) {
    MakeFile("tmp/qltx/one.dll");
    MakeFile("tmp/qltx/two.txt");
    SetPath(context_.cabinet.extractDirectory, CPath("tmp/qltx"));
    context_.cabinet.oldCabinetFile = MakeFile("tmp/old.cab");
    MakeFile("tmp/build.cab");
    const std::string cabinet = "C:\\tmp\\build.cab";
    std::copy(cabinet.begin(), cabinet.end(), context_.cabinet.cabinetParameters.szCabPath);

    DestroyContext(context_);
    EXPECT_FALSE(Exists("tmp/qltx"));
    EXPECT_FALSE(Exists("tmp/old.cab"));
    EXPECT_FALSE(Exists("tmp/build.cab"));
    EXPECT_FALSE(context_.cabinet.oldCabinetFile.has_value());
    EXPECT_EQ(context_.cabinet.cabinetParameters.szCabPath[0], 0);
}

TEST_F(Context, AFileThatCannotBeDeletedIsForgottenAllTheSame) {
    EXPECT_TRUE(DiscardWorkingFiles(context_)) << "nothing to delete";
    SetPath(context_.workingCopyPath, MakeFile("tmp/locked.tmp"));
    // Held by someone who lets no one delete it.
    const HANDLE held = CreateFileW(context_.workingCopyPath.data(), GENERIC_READ, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(DiscardWorkingFiles(context_));
    EXPECT_TRUE(IsEmpty(context_.workingCopyPath));
    EXPECT_TRUE(Exists("tmp/locked.tmp"));
    CloseHandle(held);
}

}  // namespace
}  // namespace library_test
