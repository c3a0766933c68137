// DefragMsiFile against the system's Windows Installer: whatever it does to a
// package, the system must still read the package afterwards, and the file
// never grows.
#include <gtest/gtest.h>

#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <string>

#include "loaded_library.h"
#include "test_files.h"

namespace qltmsi_windows_test {
namespace {

constexpr UINT kDefragDone = 0;
constexpr UINT kDefragNothingChanged = 1;

std::wstring ScratchCopyOfSample() {
    std::wstring copy = BesideProgram(L"defrag_scratch.msi");
    if (!CopyFileW(BesideProgram(L"sample_product.msi").c_str(), copy.c_str(), FALSE)) return {};
    return copy;
}

LONGLONG FileSize(const std::wstring &path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (static_cast<LONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// The file name of the sample's one File row, read through msi.dll.
std::wstring ReadmeFileName(const std::wstring &package) {
    MSIHANDLE database = 0, view = 0, record = 0;
    std::wstring name;
    if (MsiOpenDatabaseW(package.c_str(), MSIDBOPEN_READONLY, &database) != ERROR_SUCCESS) return L"(not opened)";
    if (MsiDatabaseOpenViewW(database, L"SELECT `FileName` FROM `File`", &view) == ERROR_SUCCESS &&
        MsiViewExecute(view, 0) == ERROR_SUCCESS && MsiViewFetch(view, &record) == ERROR_SUCCESS) {
        wchar_t buffer[64] = {};
        DWORD length = 64;
        if (MsiRecordGetStringW(record, 1, buffer, &length) == ERROR_SUCCESS) name = buffer;
    }
    if (record) MsiCloseHandle(record);
    if (view) MsiCloseHandle(view);
    MsiCloseHandle(database);
    return name;
}

TEST(Defrag, PackageStaysReadableAndNeverGrows) {
    const LoadedLibrary &lib = Library();
    if (lib.defrag == nullptr) GTEST_SKIP() << "export missing";
    std::wstring package = ScratchCopyOfSample();
    if (package.empty()) GTEST_SKIP() << "sample_product.msi was not built (no wixl)";
    LONGLONG before = FileSize(package);

    UINT result = lib.defrag(package.c_str());
    EXPECT_TRUE(result == kDefragDone || result == kDefragNothingChanged) << result;
    EXPECT_LE(FileSize(package), before);
    EXPECT_EQ(ReadmeFileName(package), L"readme.txt");
    DeleteFileW(package.c_str());
}

TEST(Defrag, MissingPackageIsLeftAlone) {
    const LoadedLibrary &lib = Library();
    if (lib.defrag == nullptr) GTEST_SKIP() << "export missing";
    EXPECT_EQ(lib.defrag(L"C:\\no such folder\\no such package.msi"), kDefragNothingChanged);
}


// A package that once held a large stream keeps the stream's sectors as free
// space after the row is deleted; the compaction (through the system's
// structured storage) gives them back, and the system's installer still
// reads the result.
TEST(Defrag, FreeSpaceFromADeletedStreamComesBack) {
    const LoadedLibrary &lib = Library();
    if (lib.defrag == nullptr) GTEST_SKIP() << "export missing";
    std::wstring package = ScratchCopyOfSample();
    if (package.empty()) GTEST_SKIP() << "sample_product.msi was not built (no wixl)";
    std::wstring filler = package + L".filler";
    HANDLE file = CreateFileW(filler.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    std::string block(1 << 20, 'q');
    DWORD written = 0;
    WriteFile(file, block.data(), static_cast<DWORD>(block.size()), &written, nullptr);
    CloseHandle(file);

    MSIHANDLE database = 0, view = 0, record = 0;
    ASSERT_EQ(MsiOpenDatabaseW(package.c_str(), MSIDBOPEN_DIRECT, &database), 0u);
    ASSERT_EQ(MsiDatabaseOpenViewW(database, L"SELECT * FROM `_Streams`", &view), 0u);
    ASSERT_EQ(MsiViewExecute(view, 0), 0u);
    record = MsiCreateRecord(2);
    MsiRecordSetStringW(record, 1, L"Filler");
    ASSERT_EQ(MsiRecordSetStreamW(record, 2, filler.c_str()), 0u);
    ASSERT_EQ(MsiViewModify(view, MSIMODIFY_INSERT, record), 0u);
    MsiCloseHandle(record);
    MsiCloseHandle(view);
    ASSERT_EQ(MsiDatabaseCommit(database), 0u);
    MsiCloseHandle(database);
    DeleteFileW(filler.c_str());
    LONGLONG withStream = FileSize(package);

    ASSERT_EQ(MsiOpenDatabaseW(package.c_str(), MSIDBOPEN_DIRECT, &database), 0u);
    ASSERT_EQ(MsiDatabaseOpenViewW(database, L"DELETE FROM `_Streams` WHERE `Name`='Filler'", &view), 0u);
    EXPECT_EQ(MsiViewExecute(view, 0), 0u);
    MsiCloseHandle(view);
    ASSERT_EQ(MsiDatabaseCommit(database), 0u);
    MsiCloseHandle(database);
    LONGLONG afterDelete = FileSize(package);

    EXPECT_EQ(lib.defrag(package.c_str()), kDefragDone);
    LONGLONG compacted = FileSize(package);
    EXPECT_LT(compacted, afterDelete) << "with the stream " << withStream << ", after deleting it " << afterDelete;
    EXPECT_LT(compacted, withStream - (1 << 19));
    EXPECT_EQ(ReadmeFileName(package), L"readme.txt");
    // Compacting again finds nothing to give back: the copy is no smaller, so
    // the file stays as it is, and that is still a success.
    EXPECT_EQ(lib.defrag(package.c_str()), kDefragDone);
    EXPECT_EQ(FileSize(package), compacted);
    // Kept for the check from Linux, which reads it with msitools.
    MoveFileExW(package.c_str(), (package.substr(0, package.rfind(L'\\') + 1) + L"defrag_compacted.msi").c_str(),
                MOVEFILE_REPLACE_EXISTING);
}

TEST(Defrag, FileThatIsNotAPackageIsLeftAlone) {
    const LoadedLibrary &lib = Library();
    if (lib.defrag == nullptr) GTEST_SKIP() << "export missing";
    std::wstring dll = LibraryPath();
    std::wstring path = dll.substr(0, dll.rfind(L'\\') + 1) + L"not_a_package.msi";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, "plain text, not a compound file\n", 32, &written, nullptr);
    CloseHandle(file);
    EXPECT_EQ(lib.defrag(path.c_str()), kDefragNothingChanged);
    EXPECT_EQ(FileSize(path), 32);
    DeleteFileW(path.c_str());
}

}  // namespace
}  // namespace qltmsi_windows_test
