// Finding and removing files in a product installed on a file system that
// keeps short names: Wine makes up an 8.3 name for "Read Me First.txt" and
// none of its own for "ReadMe.txt". The package's File rows are rewritten
// through the system's installer before each open, so a row can carry the
// short name this very file system reports.
#include <gtest/gtest.h>

#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <cstring>
#include <string>
#include <vector>

#include "loaded_library.h"
#include "test_files.h"

namespace qltmsi_windows_test {
namespace {

// The codes of products/shortnames.wxs.
constexpr wchar_t kProductCode[] = L"{8D2E4B61-7C39-4A05-B1F8-6E2C9A7D3F40}";
constexpr wchar_t kTextsComponent[] = L"{A4C6E8F0-2B1D-4F3E-9A5C-7D8B6E4F2A10}";

std::wstring AfterLastSeparator(const std::wstring &path) { return path.substr(path.rfind(L'\\') + 1); }

// Runs one statement that changes the package and commits it.
bool ChangePackage(const std::wstring &package, const std::wstring &statement) {
    MSIHANDLE database = 0, view = 0;
    if (MsiOpenDatabaseW(package.c_str(), MSIDBOPEN_TRANSACT, &database) != ERROR_SUCCESS) return false;
    bool done = MsiDatabaseOpenViewW(database, statement.c_str(), &view) == ERROR_SUCCESS && MsiViewExecute(view, 0) == ERROR_SUCCESS;
    if (view) MsiCloseHandle(view);
    done = done && MsiDatabaseCommit(database) == ERROR_SUCCESS;
    MsiCloseHandle(database);
    return done;
}

// The FileName and FileSize of one File row; size -1 when the row is gone.
struct FileRow {
    std::wstring name;
    int size = -1;
};
FileRow ReadFileRow(const std::wstring &package, const wchar_t *key) {
    FileRow row;
    MSIHANDLE database = 0, view = 0, record = 0;
    if (MsiOpenDatabaseW(package.c_str(), MSIDBOPEN_READONLY, &database) != ERROR_SUCCESS) return row;
    std::wstring query = L"SELECT `FileName`, `FileSize` FROM `File` WHERE `File`='" + std::wstring(key) + L"'";
    if (MsiDatabaseOpenViewW(database, query.c_str(), &view) == ERROR_SUCCESS && MsiViewExecute(view, 0) == ERROR_SUCCESS &&
        MsiViewFetch(view, &record) == ERROR_SUCCESS) {
        wchar_t buffer[300] = {};
        DWORD length = 300;
        MsiRecordGetStringW(record, 1, buffer, &length);
        row.name = buffer;
        row.size = MsiRecordGetInteger(record, 2);
    }
    if (record) MsiCloseHandle(record);
    if (view) MsiCloseHandle(view);
    MsiCloseHandle(database);
    return row;
}

std::wstring WriteReplacement(const wchar_t *name, const char *text) {
    std::wstring path = BesideProgram(name);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, text, static_cast<DWORD>(strlen(text)), &written, nullptr);
    CloseHandle(file);
    return path;
}

class ShortNameProduct : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        installStatus = InstallFresh(L"shortnames_product.msi", kProductCode);
        if (installStatus != 0) return;
        wchar_t buffer[MAX_PATH + 1] = {};
        DWORD length = MAX_PATH + 1;
        MsiGetProductInfoW(kProductCode, L"LocalPackage", buffer, &length);
        cached = buffer;
        length = MAX_PATH + 1;
        MsiGetComponentPathW(kProductCode, kTextsComponent, buffer, &length);
        longInstalled = buffer;
        shortInstalled = longInstalled.substr(0, longInstalled.rfind(L'\\') + 1) + L"ReadMe.txt";
        CopyFileW(cached.c_str(), BesideProgram(L"shortnames_pristine.msi").c_str(), FALSE);
    }

    void SetUp() override {
        if (installStatus == ERROR_FILE_NOT_FOUND) GTEST_SKIP() << "shortnames_product.msi was not built (no wixl)";
        ASSERT_EQ(installStatus, 0u) << "MsiInstallProductW";
        ASSERT_FALSE(cached.empty());
        // Every test starts from the package as installed.
        SetFileAttributesW(cached.c_str(), FILE_ATTRIBUTE_NORMAL);
        ASSERT_TRUE(CopyFileW(BesideProgram(L"shortnames_pristine.msi").c_str(), cached.c_str(), FALSE));
        handle = lib.open();
        ASSERT_GE(handle, 0);
    }

    void TearDown() override {
        if (handle >= 0) {
            lib.closeDatabase(handle);
            EXPECT_EQ(lib.close(handle), 0u);
        }
    }

    std::string LastError() const {
        const char *text = lib.getLastErrorStrA(handle);
        return text ? text : "(null)";
    }

    // Gives a File row a new FileName, opens the package, replaces the
    // installed file named by `installed` and commits; returns the row after.
    FileRow UpdateThrough(const wchar_t *key, const std::wstring &fileName, const std::wstring &installed) {
        EXPECT_TRUE(ChangePackage(cached, L"UPDATE `File` SET `FileName`='" + fileName + L"' WHERE `File`='" + key + L"'"));
        EXPECT_EQ(ReadFileRow(cached, key).name, fileName);
        std::wstring replacement = WriteReplacement(L"shortnames_new.txt", "a longer replacement text\n");
        EXPECT_EQ(lib.openDatabase(handle, kProductCode, nullptr, nullptr, nullptr, nullptr), 0u) << LastError();
        EXPECT_EQ(lib.updateFile(handle, installed.c_str(), replacement.c_str(), fileName.c_str()), 0u) << LastError();
        EXPECT_EQ(lib.commitChanges(handle, nullptr), 0u) << LastError();
        EXPECT_EQ(lib.closeDatabase(handle), 0u);
        DeleteFileW(replacement.c_str());
        return ReadFileRow(cached, key);
    }

    static inline UINT installStatus = 0;
    static inline std::wstring cached, longInstalled, shortInstalled;
    const LoadedLibrary &lib = Library();
    int handle = -1;
};

// The row carries the short name this file system gave the installed file,
// paired with the long name: the name query asks for exactly that pair.
TEST_F(ShortNameProduct, FindsTheRowByTheShortNameTheFileSystemReports) {
    wchar_t shortPath[MAX_PATH + 1] = {};
    ASSERT_NE(GetShortPathNameW(longInstalled.c_str(), shortPath, MAX_PATH + 1), 0u);
    std::wstring shortName = AfterLastSeparator(shortPath);
    ASSERT_EQ(AfterLastSeparator(longInstalled), L"Read Me First.txt");
    if (CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, shortName.c_str(), -1, L"Read Me First.txt", -1) == CSTR_EQUAL) {
        GTEST_SKIP() << "this file system keeps no short names";
    }
    FileRow row = UpdateThrough(L"LongName", shortName + L"|Read Me First.txt", longInstalled);
    EXPECT_EQ(row.size, 26);
    EXPECT_EQ(row.name, shortName + L"|Read Me First.txt");
    EXPECT_EQ(ReadFileRow(cached, L"ShortName").size, 14);
}

// A short name equal to the long one but for case adds no pair to the name
// query; the row is found by walking the component's files instead.
TEST_F(ShortNameProduct, FindsAPairThatDiffersOnlyInCaseByTheComponentDirectory) {
    FileRow row = UpdateThrough(L"ShortName", L"README.TXT|ReadMe.txt", shortInstalled);
    EXPECT_EQ(row.size, 26);
    EXPECT_EQ(row.name, L"README.TXT|ReadMe.txt");
    EXPECT_EQ(ReadFileRow(cached, L"LongName").size, 13);
}

TEST_F(ShortNameProduct, FindsAMixedCaseNameByTheComponentDirectory) {
    FileRow row = UpdateThrough(L"ShortName", L"readme.TXT", shortInstalled);
    EXPECT_EQ(row.size, 26);
}

// A new path of fewer than three characters, or none, removes the row. A
// removal alone is committed without a cabinet; beside a replacement it is
// committed with the replacement's.
TEST_F(ShortNameProduct, ShortOrMissingNewPathRemovesTheRow) {
    ASSERT_EQ(lib.openDatabase(handle, kProductCode, nullptr, nullptr, nullptr, nullptr), 0u) << LastError();
    EXPECT_EQ(lib.updateFile(handle, shortInstalled.c_str(), nullptr, nullptr), 0u) << LastError();
    // The row is gone from the working copy: a second removal finds nothing.
    EXPECT_EQ(lib.updateFile(handle, shortInstalled.c_str(), nullptr, nullptr), 259u);
    EXPECT_EQ(LastError(), "File not found in the specified msi database");
    EXPECT_EQ(lib.commitChanges(handle, nullptr), 0u) << LastError();
    EXPECT_EQ(lib.closeDatabase(handle), 0u);
    EXPECT_EQ(ReadFileRow(cached, L"ShortName").size, -1);
    EXPECT_EQ(ReadFileRow(cached, L"LongName").size, 13);
    SetFileAttributesW(cached.c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_TRUE(CopyFileW(BesideProgram(L"shortnames_pristine.msi").c_str(), cached.c_str(), FALSE));

    std::wstring replacement = WriteReplacement(L"shortnames_new.txt", "a longer replacement text\n");
    ASSERT_EQ(lib.openDatabase(handle, kProductCode, nullptr, nullptr, nullptr, nullptr), 0u) << LastError();
    EXPECT_EQ(lib.updateFile(handle, shortInstalled.c_str(), L"ab", nullptr), 0u) << LastError();
    EXPECT_EQ(lib.updateFile(handle, longInstalled.c_str(), replacement.c_str(), L"Read Me First.txt"), 0u) << LastError();
    EXPECT_EQ(lib.commitChanges(handle, nullptr), 0u) << LastError();
    EXPECT_EQ(lib.closeDatabase(handle), 0u);
    DeleteFileW(replacement.c_str());
    EXPECT_EQ(ReadFileRow(cached, L"ShortName").size, -1);
    EXPECT_EQ(ReadFileRow(cached, L"LongName").size, 26);
}

}  // namespace
}  // namespace qltmsi_windows_test
