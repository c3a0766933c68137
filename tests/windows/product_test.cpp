// The DLL against the system's Windows Installer: a wixl-made product is
// installed through msi.dll in this process (as `msiexec /i ... /qn` would),
// and the exports open its cached package by product code.
#include <gtest/gtest.h>

#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <atomic>
#include <string>
#include <thread>

#include "loaded_library.h"
#include "test_files.h"

namespace qltmsi_windows_test {
namespace {

// The codes of products/sample.wxs.
constexpr wchar_t kProductCode[] = L"{6A1F0C3E-2B7D-4E58-9C41-3D8E5F0A7B21}";
constexpr wchar_t kReadmeComponent[] = L"{3C5D7E9F-1A2B-4C3D-8E4F-5A6B7C8D9E0F}";
constexpr wchar_t kNotInstalled[] = L"{11111111-2222-3333-4444-555555555555}";

constexpr UINT kBusyOrWrongHandle = 4096;
constexpr UINT kNoPatchContext = 4097;
constexpr UINT kNoBackupString = 4098;
// What an export answers while the work behind it is not built yet.
constexpr UINT kNotBuiltYet = ERROR_CALL_NOT_IMPLEMENTED;

#define SKIP_IF_NOT_BUILT(status)                                                          \
    do {                                                                                   \
        if ((status) == kNotBuiltYet) GTEST_SKIP() << "the library answers 120: not built yet"; \
    } while (0)

class InstalledProduct : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        installStatus = InstallFresh(L"sample_product.msi", kProductCode);
    }

    void SetUp() override {
        if (lib.open == nullptr || lib.openDatabase == nullptr) GTEST_SKIP() << "exports missing";
        if (installStatus == ERROR_FILE_NOT_FOUND) GTEST_SKIP() << "sample_product.msi was not built (no wixl)";
        ASSERT_EQ(installStatus, 0u) << "MsiInstallProductW";
        handle = lib.open();
        ASSERT_GE(handle, 0);
    }

    void TearDown() override {
        if (handle >= 0 && lib.close != nullptr) {
            EXPECT_EQ(lib.close(handle), 0u);
        }
    }

    static std::string LastError(const LoadedLibrary &lib, int handle) {
        const char *text = lib.getLastErrorStrA(handle);
        return text ? text : "(null)";
    }

    static inline UINT installStatus = 0;
    const LoadedLibrary &lib = Library();
    int handle = -1;
};

TEST_F(InstalledProduct, OpensTheCachedPackageByProductCode) {
    UINT status = lib.openDatabase(handle, kProductCode, nullptr, nullptr, nullptr, nullptr);
    SKIP_IF_NOT_BUILT(status);
    ASSERT_EQ(status, 0u);
    // The open itself records message 6 first, and nothing replaced it.
    EXPECT_EQ(LastError(lib, handle), "Error opening msi database. The file may be in use.");
    EXPECT_EQ(lib.closeDatabase(handle), 0u);
    EXPECT_EQ(lib.closeDatabase(handle), kNoPatchContext);
}

TEST_F(InstalledProduct, RequiredPackageCodeMatchesWithoutRegardToCase) {
    wchar_t packageCode[64] = {};
    DWORD length = 64;
    ASSERT_EQ(MsiGetProductInfoW(kProductCode, L"PackageCode", packageCode, &length), 0u);
    std::wstring lower(packageCode);
    for (wchar_t &c : lower) c = (c >= L'A' && c <= L'Z') ? c + 32 : c;

    UINT status = lib.openDatabase(handle, kProductCode, lower.c_str(), nullptr, nullptr, nullptr);
    SKIP_IF_NOT_BUILT(status);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(lib.closeDatabase(handle), 0u);

    EXPECT_EQ(lib.openDatabase(handle, kProductCode, nullptr, kNotInstalled, nullptr, nullptr), 16u);
    EXPECT_EQ(LastError(lib, handle), "The msi database installed does not match the \n\trequired package identifier");
    EXPECT_EQ(lib.closeDatabase(handle), 0u);
}

TEST_F(InstalledProduct, MissingProductCodeIsRefused) {
    EXPECT_EQ(lib.openDatabase(handle, nullptr, nullptr, nullptr, nullptr, nullptr), 87u);
    EXPECT_EQ(LastError(lib, handle), "An invalid parameter was supplied to an msi function.");
    EXPECT_EQ(lib.closeDatabase(handle), 6u);
}

TEST_F(InstalledProduct, UnknownProductIsRefused) {
    UINT status = lib.openDatabase(handle, kNotInstalled, nullptr, nullptr, nullptr, nullptr);
    SKIP_IF_NOT_BUILT(status);
    EXPECT_EQ(status, 1605u);
    EXPECT_EQ(LastError(lib, handle), "The specified msi product could not be opened");
    EXPECT_EQ(lib.closeDatabase(handle), 6u);
}

// What the progress callback saw of the call lock while the library held it.
struct LockProbe {
    int calls = 0;
    UINT otherThread = 0;
    UINT nestedCall = 0;
};
LockProbe lockProbe;
int probeHandle = -1;

void CALLBACK ProbeTheCallLock(int, void *) {
    if (lockProbe.calls++ > 0) return;
    const LoadedLibrary &lib = Library();
    DWORD size = 0;
    std::thread([&] { lockProbe.otherThread = lib.getBackupString(probeHandle, nullptr, &size); }).join();
    lockProbe.nestedCall = lib.getBackupString(probeHandle, nullptr, &size);
}

TEST_F(InstalledProduct, CallLockRefusesOtherThreadsButNotTheHolder) {
    wchar_t installed[MAX_PATH + 1] = {};
    DWORD length = MAX_PATH + 1;
    ASSERT_EQ(MsiGetComponentPathW(kProductCode, kReadmeComponent, installed, &length), INSTALLSTATE_LOCAL);
    std::wstring replacement = BesideProgram(L"readme_v2.txt");
    HANDLE file = CreateFileW(replacement.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, "version two\n", 12, &written, nullptr);
    CloseHandle(file);

    probeHandle = handle;
    lockProbe = {};
    UINT status = lib.openDatabase(handle, kProductCode, nullptr, nullptr, nullptr, ProbeTheCallLock);
    SKIP_IF_NOT_BUILT(status);
    ASSERT_EQ(status, 0u);
    // The library calls back while it holds the call lock: around taking an
    // old cabinet apart, and at the start of the commit.
    lib.updateFile(handle, installed, replacement.c_str(), L"readme.txt");
    lib.commitChanges(handle, nullptr);
    DeleteFileW(replacement.c_str());
    if (lockProbe.calls == 0) {
        lib.closeDatabase(handle);
        GTEST_SKIP() << "the library made no progress call, so the lock could not be seen held";
    }
    EXPECT_EQ(lockProbe.otherThread, kBusyOrWrongHandle);
    EXPECT_EQ(lockProbe.nestedCall, kNoBackupString);
    // Released after the call: another thread passes now.
    DWORD size = 0;
    UINT afterwards = 0;
    std::thread([&] { afterwards = lib.getBackupString(handle, nullptr, &size); }).join();
    EXPECT_NE(afterwards, kBusyOrWrongHandle);
    EXPECT_EQ(lib.closeDatabase(handle), 0u);
}


// The File row of the sample's one file, read through the system's installer.
struct ReadmeRow {
    int size = -1;
    int attributes = -1;
};
ReadmeRow ReadReadmeRow(const std::wstring &package) {
    ReadmeRow row;
    MSIHANDLE database = 0, view = 0, record = 0;
    if (MsiOpenDatabaseW(package.c_str(), MSIDBOPEN_READONLY, &database) != ERROR_SUCCESS) return row;
    if (MsiDatabaseOpenViewW(database, L"SELECT `FileSize`, `Attributes` FROM `File`", &view) == ERROR_SUCCESS &&
        MsiViewExecute(view, 0) == ERROR_SUCCESS && MsiViewFetch(view, &record) == ERROR_SUCCESS) {
        row.size = MsiRecordGetInteger(record, 1);
        row.attributes = MsiRecordGetInteger(record, 2);
    }
    if (record) MsiCloseHandle(record);
    if (view) MsiCloseHandle(view);
    MsiCloseHandle(database);
    return row;
}

std::wstring PropertyOf(const std::wstring &package, const wchar_t *name) {
    MSIHANDLE database = 0, view = 0, record = 0;
    std::wstring value;
    if (MsiOpenDatabaseW(package.c_str(), MSIDBOPEN_READONLY, &database) != ERROR_SUCCESS) return value;
    std::wstring query = L"SELECT `Value` FROM `Property` WHERE `Property`='" + std::wstring(name) + L"'";
    if (MsiDatabaseOpenViewW(database, query.c_str(), &view) == ERROR_SUCCESS && MsiViewExecute(view, 0) == ERROR_SUCCESS &&
        MsiViewFetch(view, &record) == ERROR_SUCCESS) {
        wchar_t buffer[MAX_PATH + 1] = {};
        DWORD length = MAX_PATH + 1;
        if (MsiRecordGetStringW(record, 1, buffer, &length) == ERROR_SUCCESS) value = buffer;
    }
    if (record) MsiCloseHandle(record);
    if (view) MsiCloseHandle(view);
    MsiCloseHandle(database);
    return value;
}

// A commit with a backup directory: the package changes through the system's
// installer and cabinet library, but the undo record needs a generated
// transform, which this installer cannot make. The commit still succeeds,
// with message 12 recorded and no backup string.
TEST_F(InstalledProduct, CommitWithBackupSucceedsWithoutTheUndoRecordWhereTransformsCannotBeMade) {
    wchar_t installed[MAX_PATH + 1] = {};
    DWORD length = MAX_PATH + 1;
    ASSERT_EQ(MsiGetComponentPathW(kProductCode, kReadmeComponent, installed, &length), INSTALLSTATE_LOCAL);
    wchar_t cached[MAX_PATH + 1] = {};
    length = MAX_PATH + 1;
    ASSERT_EQ(MsiGetProductInfoW(kProductCode, L"LocalPackage", cached, &length), 0u);
    std::wstring replacement = BesideProgram(L"readme_v3.txt");
    HANDLE file = CreateFileW(replacement.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, "version three, longer\n", 22, &written, nullptr);
    CloseHandle(file);
    std::wstring backup = BesideProgram(L"backup");
    CreateDirectoryW(backup.c_str(), nullptr);
    // Kept for the restore round trip, whose reverse transform the Linux
    // build makes from this package and the committed one.
    CopyFileW(cached, BesideProgram(L"before_commit_package.msi").c_str(), FALSE);
    std::wstring cabCacheBefore = PropertyOf(cached, L"QuilletCabCache");
    if (!cabCacheBefore.empty()) {
        CopyFileW(cabCacheBefore.c_str(), BesideProgram(L"before_commit_cabcache.msi").c_str(), FALSE);
    }

    UINT status = lib.openDatabase(handle, kProductCode, nullptr, nullptr, nullptr, nullptr);
    SKIP_IF_NOT_BUILT(status);
    ASSERT_EQ(status, 0u);
    status = lib.updateFile(handle, installed, replacement.c_str(), L"readme.txt");
    SKIP_IF_NOT_BUILT(status);
    ASSERT_EQ(status, 0u) << LastError(lib, handle);
    EXPECT_EQ(lib.commitChanges(handle, backup.c_str()), 0u);
    EXPECT_EQ(LastError(lib, handle), "Error creating unpatch transform.");
    DWORD size = 0;
    EXPECT_EQ(lib.getBackupString(handle, nullptr, &size), kNoBackupString);
    EXPECT_EQ(lib.closeDatabase(handle), 0u);
    DeleteFileW(replacement.c_str());

    ReadmeRow row = ReadReadmeRow(cached);
    EXPECT_EQ(row.size, 22);
    EXPECT_EQ(row.attributes & 0x4000, 0x4000);
    std::wstring cabCache = PropertyOf(cached, L"QuilletCabCache");
    ASSERT_FALSE(cabCache.empty());
    EXPECT_NE(GetFileAttributesW(cabCache.c_str()), INVALID_FILE_ATTRIBUTES);
    // Kept for the check from Linux: the package and its cab cache as committed.
    CopyFileW(cached, BesideProgram(L"committed_package.msi").c_str(), FALSE);
    CopyFileW(cabCache.c_str(), BesideProgram(L"committed_cabcache.msi").c_str(), FALSE);
    // Where the installed package, its cab cache and the cab cache before the
    // commit (empty when there was none) live, for the round trip that
    // restores them from Linux-made undo files.
    HANDLE paths = CreateFileW(BesideProgram(L"committed_paths.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    std::string text;
    for (const std::wstring &path : {std::wstring(cached), cabCache, cabCacheBefore}) {
        for (wchar_t c : path) text += static_cast<char>(c);
        text += '\n';
    }
    WriteFile(paths, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(paths);
}

}  // namespace
}  // namespace qltmsi_windows_test
