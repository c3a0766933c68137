// Process and system facts: version switch, ids, tick count, environment,
// the Windows directories.
#include <gtest/gtest.h>
#include <unistd.h>
#include <windows.h>

#include <string>
#include <thread>

namespace {

TEST(System, VersionReportsNtUnlessTheWin9xSettingIsOn) {
    unsetenv("QLTMSI_WIN9X");
    DWORD nt = GetVersion();
    EXPECT_GE(static_cast<LONG>(nt), 0);
    EXPECT_EQ(LOBYTE(LOWORD(nt)), 6);
    EXPECT_EQ(HIBYTE(LOWORD(nt)), 1);
    setenv("QLTMSI_WIN9X", "1", 1);
    EXPECT_LT(static_cast<LONG>(GetVersion()), 0);
    unsetenv("QLTMSI_WIN9X");
}

TEST(System, IdsAndTicks) {
    EXPECT_EQ(GetCurrentProcessId(), static_cast<DWORD>(getpid()));
    DWORD main = GetCurrentThreadId();
    DWORD other = 0;
    std::thread([&] { other = GetCurrentThreadId(); }).join();
    EXPECT_NE(main, other);
    DWORD before = GetTickCount();
    Sleep(30);
    DWORD elapsed = GetTickCount() - before;
    EXPECT_GE(elapsed, 25u);
    EXPECT_LT(elapsed, 2000u);
}

TEST(System, EnvironmentVariablesWithWindowsSizes) {
    setenv("WINSYS_TEST_VAR", "value", 1);
    WCHAR buffer[16];
    EXPECT_EQ(GetEnvironmentVariableW(u"winsys_test_var", buffer, 16), 5u);
    EXPECT_EQ(std::u16string(buffer), u"value");
    EXPECT_EQ(GetEnvironmentVariableW(u"WINSYS_TEST_VAR", buffer, 5),
              6u);  // needed, terminator included
    unsetenv("WINSYS_TEST_VAR");
    SetLastError(0);
    EXPECT_EQ(GetEnvironmentVariableW(u"WINSYS_TEST_VAR", buffer, 16), 0u);
    EXPECT_EQ(GetLastError(), ERROR_ENVVAR_NOT_FOUND);
}

TEST(System, WindowsDirectories) {
    WCHAR buffer[MAX_PATH];
    EXPECT_EQ(GetWindowsDirectoryW(buffer, MAX_PATH), 10u);
    EXPECT_EQ(std::u16string(buffer), u"C:\\windows");
    EXPECT_EQ(GetWindowsDirectoryW(buffer, 10), 11u);
    char narrow[MAX_PATH];
    EXPECT_EQ(GetSystemDirectoryA(narrow, MAX_PATH), 19u);
    EXPECT_STREQ(narrow, "C:\\windows\\system32");
}

}  // namespace
