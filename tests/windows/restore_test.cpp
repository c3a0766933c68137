// The restore entry point as Windows runs it: the backup string's command
// line started through the system's rundll32.exe, in a process of its own,
// against a product the system's Windows Installer installed. Every entry
// here is one the restore must refuse; whatever it refuses, the installed
// package keeps every byte and the entry stays for a later try.
#include <gtest/gtest.h>

#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <string>
#include <vector>

#include "loaded_library.h"
#include "test_files.h"

namespace qltmsi_windows_test {
namespace {

constexpr wchar_t kProductCode[] = L"{6A1F0C3E-2B7D-4E58-9C41-3D8E5F0A7B21}";
constexpr wchar_t kUndoKey[] = L"Software\\Brambleway\\Quillet\\MsiRegUndo";
constexpr wchar_t kEntryName[] = L"wine1";

// Runs "rundll32 <library>,QltMsiBackupSvr <entry>" and waits for it, as a
// caller runs the backup string it was handed.
DWORD RunBackupString(const std::wstring &entry) {
    std::wstring commandLine = L"rundll32.exe " + std::wstring(LibraryPath()) + L",QltMsiBackupSvr " + entry;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        return GetLastError() | 0x80000000u;
    }
    WaitForSingleObject(process.hProcess, 60000);
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return exitCode;
}

bool EntryExists(const std::wstring &entry) {
    HKEY key = nullptr;
    std::wstring path = std::wstring(kUndoKey) + L"\\" + entry;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

void WriteEntry(const std::wstring &entry, const std::wstring &packageCode, const std::wstring &transform) {
    HKEY key = nullptr;
    std::wstring path = std::wstring(kUndoKey) + L"\\" + entry;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), 0);
    auto setString = [&](const wchar_t *name, const std::wstring &value) {
        RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    };
    setString(L"ProductGuid", kProductCode);
    setString(L"PackageGuid", packageCode);
    if (!transform.empty()) setString(L"RevTransform", transform);
    RegCloseKey(key);
}

class RestoreThroughRundll32 : public ::testing::Test {
protected:
    void SetUp() override {
        std::wstring package = BesideProgram(L"sample_product.msi");
        if (GetFileAttributesW(package.c_str()) == INVALID_FILE_ATTRIBUTES) GTEST_SKIP() << "sample_product.msi was not built (no wixl)";
        MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
        if (MsiQueryProductStateW(kProductCode) != INSTALLSTATE_DEFAULT) {
            ASSERT_EQ(MsiInstallProductW(package.c_str(), L"ALLUSERS=1"), 0u);
        }
        wchar_t buffer[MAX_PATH + 1] = {};
        DWORD length = MAX_PATH + 1;
        ASSERT_EQ(MsiGetProductInfoW(kProductCode, L"LocalPackage", buffer, &length), 0u);
        installedPackage = buffer;
        length = MAX_PATH + 1;
        ASSERT_EQ(MsiGetProductInfoW(kProductCode, L"PackageCode", buffer, &length), 0u);
        packageCode = buffer;
        before = ReadAll(installedPackage);
        ASSERT_FALSE(before.empty());
    }

    void TearDown() override {
        std::wstring path = std::wstring(kUndoKey) + L"\\" + kEntryName;
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
    }

    void ExpectRefused() {
        EXPECT_EQ(RunBackupString(kEntryName), 0u) << "rundll32 did not run the entry point";
        EXPECT_TRUE(ReadAll(installedPackage) == before) << "the installed package changed";
        EXPECT_TRUE(EntryExists(kEntryName)) << "a refused restore removed its entry";
    }

    std::wstring installedPackage;
    std::wstring packageCode;
    std::vector<char> before;
};

TEST_F(RestoreThroughRundll32, PackageCodeThatNoLongerMatchesStopsBeforeAnythingChanges) {
    WriteEntry(kEntryName, L"{00000000-1111-2222-3333-444444444444}", BesideProgram(L"reverse.mst"));
    ExpectRefused();
}

TEST_F(RestoreThroughRundll32, EntryWithoutItsTransformStops) {
    WriteEntry(kEntryName, packageCode, L"");
    ExpectRefused();
}

TEST_F(RestoreThroughRundll32, TransformThatIsMissingStops) {
    WriteEntry(kEntryName, packageCode, BesideProgram(L"no such reverse.mst"));
    ExpectRefused();
}

TEST_F(RestoreThroughRundll32, EntryThatDoesNotExistChangesNothing) {
    EXPECT_EQ(RunBackupString(L"nosuchentry"), 0u);
    EXPECT_TRUE(ReadAll(installedPackage) == before);
    EXPECT_FALSE(EntryExists(L"nosuchentry"));
}

// Why the undo record cannot be made here: the system's installer has no
// transform generation. When that changes, the undo record and a full
// restore round trip become testable on this platform.
TEST(SystemInstaller, GeneratesNoTransforms) {
    std::wstring directory = BesideProgram(L"");
    std::wstring first = directory + L"transform_a.msi";
    std::wstring second = directory + L"transform_b.msi";
    std::wstring sample = directory + L"sample_product.msi";
    if (GetFileAttributesW(sample.c_str()) == INVALID_FILE_ATTRIBUTES) GTEST_SKIP() << "no sample_product.msi";
    ASSERT_TRUE(CopyFileW(sample.c_str(), first.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(sample.c_str(), second.c_str(), FALSE));
    MSIHANDLE a = 0, b = 0;
    ASSERT_EQ(MsiOpenDatabaseW(first.c_str(), MSIDBOPEN_DIRECT, &a), 0u);
    ASSERT_EQ(MsiOpenDatabaseW(second.c_str(), MSIDBOPEN_READONLY, &b), 0u);
    MSIHANDLE view = 0;
    ASSERT_EQ(MsiDatabaseOpenViewW(a, L"UPDATE `Property` SET `Value`='2.0.0' WHERE `Property`='ProductVersion'", &view), 0u);
    EXPECT_EQ(MsiViewExecute(view, 0), 0u);
    MsiCloseHandle(view);
    UINT generated = MsiDatabaseGenerateTransformW(a, b, (directory + L"wine.mst").c_str(), 0, 0);
    MsiCloseHandle(a);
    MsiCloseHandle(b);
    DeleteFileW(first.c_str());
    DeleteFileW(second.c_str());
    DeleteFileW((directory + L"wine.mst").c_str());
    if (generated == 0) GTEST_SKIP() << "this installer generates transforms: the undo record can be tested here";
    EXPECT_EQ(generated, static_cast<UINT>(ERROR_CALL_NOT_IMPLEMENTED));
}

}  // namespace
}  // namespace qltmsi_windows_test
