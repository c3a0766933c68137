// DefragMsiFile against the system's Windows Installer: whatever it does to a
// package, the system must still read the package afterwards, and the file
// never grows.
#include <gtest/gtest.h>

#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <string>

#include "loaded_library.h"

namespace qltmsi_windows_test {
namespace {

constexpr UINT kDefragDone = 0;
constexpr UINT kDefragNothingChanged = 1;

std::wstring ScratchCopyOfSample() {
    std::wstring dll = LibraryPath();
    std::wstring directory = dll.substr(0, dll.rfind(L'\\') + 1);
    std::wstring copy = directory + L"defrag_scratch.msi";
    if (!CopyFileW((directory + L"sample_product.msi").c_str(), copy.c_str(), FALSE)) return {};
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

}  // namespace
}  // namespace qltmsi_windows_test
