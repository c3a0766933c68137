// The package lock under the Windows loader, between processes: a package
// opened on one thread and closed on another lets a process that is waiting
// in at once, and a process killed while it has the package open hands the
// lock over as it dies. The other process is this program again, running
// only the PackageLockChild tests, told what to do by QLTMSI_LOCK_CHILD.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "loaded_library.h"
#include "test_files.h"

namespace qltmsi_windows_test {
namespace {

// The codes of products/sample.wxs.
constexpr wchar_t kProductCode[] = L"{6A1F0C3E-2B7D-4E58-9C41-3D8E5F0A7B21}";
constexpr wchar_t kChildVariable[] = L"QLTMSI_LOCK_CHILD";

using Clock = std::chrono::steady_clock;

std::wstring ChildTask() {
    wchar_t value[MAX_PATH + 16] = {};
    const DWORD length = GetEnvironmentVariableW(kChildVariable, value, MAX_PATH + 16);
    return length == 0 || length >= MAX_PATH + 16 ? std::wstring() : std::wstring(value);
}

// This program again, running the child test named, with `task` in its
// environment.
struct Child {
    PROCESS_INFORMATION process{};

    Child(const wchar_t *test, const std::wstring &task) {
        wchar_t program[MAX_PATH + 1] = {};
        GetModuleFileNameW(nullptr, program, MAX_PATH + 1);
        std::wstring commandLine = L"\"" + std::wstring(program) + L"\" --gtest_filter=PackageLockChild." + test;
        SetEnvironmentVariableW(kChildVariable, task.c_str());
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                            &process)) {
            process = {};
        }
        SetEnvironmentVariableW(kChildVariable, nullptr);
    }
    ~Child() {
        if (process.hProcess != nullptr) {
            if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(process.hProcess, 3);
            WaitForSingleObject(process.hProcess, INFINITE);
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
        }
    }
    bool started() const { return process.hProcess != nullptr; }
    // The exit code once it ended within `milliseconds`, else STILL_ACTIVE.
    DWORD Finish(DWORD milliseconds) const {
        DWORD code = STILL_ACTIVE;
        if (WaitForSingleObject(process.hProcess, milliseconds) == WAIT_OBJECT_0) {
            GetExitCodeProcess(process.hProcess, &code);
        }
        return code;
    }
};

class PackageLock : public ::testing::Test {
protected:
    static void SetUpTestSuite() { installStatus = InstallFresh(L"sample_product.msi", kProductCode); }

    void SetUp() override {
        if (!ChildTask().empty()) GTEST_SKIP() << "a child runs only its own test";
        if (lib.open == nullptr || lib.openDatabase == nullptr) GTEST_SKIP() << "exports missing";
        if (installStatus == ERROR_FILE_NOT_FOUND) GTEST_SKIP() << "sample_product.msi was not built (no wixl)";
        ASSERT_EQ(installStatus, 0u) << "MsiInstallProductW";
        handle = lib.open();
        ASSERT_GE(handle, 0);
    }
    void TearDown() override {
        if (handle >= 0) {
            EXPECT_EQ(lib.close(handle), 0u);
        }
    }

    static inline UINT installStatus = 0;
    const LoadedLibrary &lib = Library();
    int handle = -1;
};

TEST_F(PackageLock, OpenOnOneThreadAndCloseOnAnotherLetsAWaitingProcessIn) {
    std::promise<UINT> opened;
    std::promise<void> finish;
    // The opening thread stays alive until the end: the lock must not wait
    // for it.
    std::thread opener([&] {
        opened.set_value(lib.openDatabase(handle, kProductCode, nullptr, nullptr, nullptr, nullptr));
        finish.get_future().wait();
    });
    ASSERT_EQ(opened.get_future().get(), 0u);
    Child waiting(L"OpensAndClosesTheProduct", L"open");
    ASSERT_TRUE(waiting.started());
    // Long enough for the child to start and wait for the lock.
    EXPECT_EQ(waiting.Finish(3000), STILL_ACTIVE) << "the child waits while the package is open";
    const auto closed = Clock::now();
    EXPECT_EQ(lib.closeDatabase(handle), 0u);
    EXPECT_EQ(waiting.Finish(30000), 0u);
    EXPECT_LT(Clock::now() - closed, std::chrono::seconds(15)) << "the child got the lock once it was let go";
    // And this process's own next open, from this thread.
    EXPECT_EQ(lib.openDatabase(handle, kProductCode, nullptr, nullptr, nullptr, nullptr), 0u);
    EXPECT_EQ(lib.closeDatabase(handle), 0u);
    finish.set_value();
    opener.join();
}

TEST_F(PackageLock, AProcessKilledWithThePackageOpenHandsTheLockOver) {
    const std::wstring marker = BesideProgram(L"lock-holder-ready");
    DeleteFileW(marker.c_str());
    Child holder(L"OpensTheProductAndWaitsToBeKilled", L"hold:" + marker);
    ASSERT_TRUE(holder.started());
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (GetFileAttributesW(marker.c_str()) == INVALID_FILE_ATTRIBUTES && Clock::now() < deadline &&
           holder.Finish(0) == STILL_ACTIVE) {
        Sleep(20);
    }
    ASSERT_NE(GetFileAttributesW(marker.c_str()), INVALID_FILE_ATTRIBUTES) << "the child opened the product";
    ASSERT_TRUE(TerminateProcess(holder.process.hProcess, 9));
    EXPECT_EQ(holder.Finish(30000), 9u);
    DeleteFileW(marker.c_str());
    const auto start = Clock::now();
    EXPECT_EQ(lib.openDatabase(handle, kProductCode, nullptr, nullptr, nullptr, nullptr), 0u);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(15)) << "taken over, not waited out";
    EXPECT_EQ(lib.closeDatabase(handle), 0u);
}

// The children. They pass trivially in an ordinary run.
class PackageLockChild : public ::testing::Test {
protected:
    void SetUp() override {
        if (ChildTask().empty()) GTEST_SKIP() << "run by the PackageLock tests";
    }
    const LoadedLibrary &lib = Library();
};

TEST_F(PackageLockChild, OpensAndClosesTheProduct) {
    const int handle = lib.open();
    ASSERT_GE(handle, 0);
    EXPECT_EQ(lib.openDatabase(handle, kProductCode, nullptr, nullptr, nullptr, nullptr), 0u);
    EXPECT_EQ(lib.closeDatabase(handle), 0u);
    EXPECT_EQ(lib.close(handle), 0u);
}

TEST_F(PackageLockChild, OpensTheProductAndWaitsToBeKilled) {
    const std::wstring task = ChildTask();
    ASSERT_EQ(task.rfind(L"hold:", 0), 0u);
    const int handle = lib.open();
    ASSERT_GE(handle, 0);
    ASSERT_EQ(lib.openDatabase(handle, kProductCode, nullptr, nullptr, nullptr, nullptr), 0u);
    const HANDLE marker = CreateFileW(task.substr(5).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(marker, INVALID_HANDLE_VALUE);
    CloseHandle(marker);
    Sleep(120000);
}

}  // namespace
}  // namespace qltmsi_windows_test
