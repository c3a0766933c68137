// Module loading: the search order for bare names, reference counts,
// module handles and file names.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>

#include "winsys/kernel/test_prefix.h"

namespace {

using AnswerFunction = int (*)(void);

TEST(Modules, BareNamesGainDllAndAreFoundBesideWinsysIgnoringCase) {
    winsys_test::TestPrefix prefix;
    HMODULE module = LoadLibraryA("TESTMOD");  // TestMod.dll.so beside libwinsys
    ASSERT_NE(module, nullptr) << GetLastError();
    auto answer = reinterpret_cast<AnswerFunction>(GetProcAddress(module, "testModuleAnswer"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    SetLastError(0);
    EXPECT_EQ(GetProcAddress(module, "noSuchExport"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);

    // The same module again: the same handle, counted twice.
    EXPECT_EQ(LoadLibraryW(u"testmod.dll"), module);
    WCHAR path[MAX_PATH];
    DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(std::u16string(path).substr(0, 3), u"Z:\\");
    EXPECT_EQ(std::u16string(path).substr(length - 14), u"TestMod.dll.so");
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_NE(GetProcAddress(module, "testModuleAnswer"), nullptr);  // still loaded once
    EXPECT_TRUE(FreeLibrary(module));
    SetLastError(0);
    EXPECT_EQ(LoadLibraryA("NoSuchModule"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
}

TEST(Modules, SystemDirectoryAndWindowsPaths) {
    winsys_test::TestPrefix prefix;
    std::filesystem::create_directories(prefix.driveC() + "/windows/system32");
    std::filesystem::copy_file(TEST_MODULE_PATH, prefix.driveC() + "/windows/system32/SysCopy.DLL");
    HMODULE bySearch = LoadLibraryA("syscopy");
    ASSERT_NE(bySearch, nullptr);
    HMODULE byPath = LoadLibraryA("C:\\Windows\\System32\\syscopy.dll");
    EXPECT_EQ(byPath, bySearch);
    char path[MAX_PATH];
    EXPECT_GT(GetModuleFileNameA(byPath, path, MAX_PATH), 0u);
    EXPECT_STREQ(path, "C:\\windows\\system32\\SysCopy.DLL");
    // A small buffer: truncated, terminated, the size returned.
    char small[8];
    EXPECT_EQ(GetModuleFileNameA(byPath, small, 8), 8u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_STREQ(small, "C:\\wind");
    FreeLibrary(byPath);
    FreeLibrary(bySearch);
    SetLastError(0);
    EXPECT_EQ(LoadLibraryA("C:\\windows\\system32\\missing.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(LoadLibraryA(nullptr), nullptr);
}

TEST(Modules, HandleFromAnAddressIsItsModule) {
    winsys_test::TestPrefix prefix;
    HMODULE winsys = nullptr;
    ASSERT_TRUE(GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&GetTickCount), &winsys));
    EXPECT_EQ(GetModuleHandleW(u"libwinsys"), nullptr);  // "libwinsys.dll" is no file here
    WCHAR path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(winsys, path, MAX_PATH), 0u);
    EXPECT_NE(std::u16string(path).find(u"libwinsys.so"), std::u16string::npos);
    EXPECT_EQ(GetProcAddress(winsys, "GetTickCount"), reinterpret_cast<FARPROC>(&GetTickCount));
    EXPECT_EQ(GetModuleHandleW(u"libwinsys.so"), winsys);

    HMODULE program = GetModuleHandleW(nullptr);
    ASSERT_NE(program, nullptr);
    ASSERT_GT(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
    EXPECT_NE(std::u16string(path).find(u"winsys_kernel_test"), std::u16string::npos);
}

}  // namespace
