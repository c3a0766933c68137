// The one handle per process and the answers of the handle check, through the
// DLL's exports under the Windows loader.
#include <gtest/gtest.h>

#include <thread>

#include "loaded_library.h"

namespace qltmsi_windows_test {
namespace {

constexpr UINT kBusyOrWrongHandle = 4096;
constexpr UINT kNoPatchContext = 4097;

class Handle : public ::testing::Test {
protected:
    void SetUp() override {
        const LoadedLibrary &library = Library();
        if (library.open == nullptr || library.close == nullptr) GTEST_SKIP() << "exports missing";
    }
    const LoadedLibrary &lib = Library();
};

// Runs one call on a thread of its own and gives back its result: the locks
// belong to threads, so "free" means free for somebody else.
template <typename Call>
static auto OnOtherThread(Call call) {
    decltype(call()) result{};
    std::thread([&] { result = call(); }).join();
    return result;
}

TEST_F(Handle, OneHandlePerProcessUntilClosed) {
    int handle = lib.open();
    ASSERT_GE(handle, 0);
    ASSERT_LE(handle, 0x7FFF);
    EXPECT_EQ(lib.open(), -1);
    EXPECT_EQ(OnOtherThread([&] { return lib.open(); }), -1);
    EXPECT_EQ(lib.close(handle), 0u);

    int next = lib.open();
    EXPECT_GE(next, 0);
    EXPECT_EQ(lib.close(next), 0u);
}

TEST_F(Handle, WrongHandleIsRefusedAndLeavesBothLocksFree) {
    int handle = lib.open();
    ASSERT_GE(handle, 0);
    int wrong = (handle + 1) & 0x7FFF;

    DWORD size = 5;
    wchar_t wide[8] = {L'x', 0};
    char narrow[8] = {'x', 0};
    EXPECT_EQ(lib.closeDatabase(wrong), kBusyOrWrongHandle);
    EXPECT_EQ(lib.updateFile(wrong, L"C:\\a.txt", L"C:\\b.txt", L"a.txt"), kBusyOrWrongHandle);
    EXPECT_EQ(lib.commitChanges(wrong, nullptr), kBusyOrWrongHandle);
    EXPECT_EQ(lib.getBackupString(wrong, wide, &size), kBusyOrWrongHandle);
    EXPECT_EQ(lib.getBackupStringA(wrong, narrow, &size), kBusyOrWrongHandle);
    EXPECT_EQ(lib.getLastErrorStrA(wrong), nullptr);
    EXPECT_EQ(lib.openDatabase(wrong, L"{00000000-0000-0000-0000-000000000000}", nullptr, nullptr, nullptr, nullptr),
              kBusyOrWrongHandle);
    EXPECT_EQ(lib.close(wrong), kBusyOrWrongHandle);
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(wide[0], L'x');
    EXPECT_EQ(narrow[0], 'x');

    // Neither lock stayed taken: another thread passes the check with the right
    // number, and the handle is still the open one.
    EXPECT_EQ(OnOtherThread([&] { return lib.closeDatabase(handle); }), kNoPatchContext);
    EXPECT_EQ(lib.open(), -1);
    EXPECT_EQ(OnOtherThread([&] { return lib.close(handle); }), 0u);
}

TEST_F(Handle, ZeroPassesTheCheckWhileNoHandleIsOpen) {
    DWORD size = 0;
    EXPECT_EQ(lib.closeDatabase(0), kNoPatchContext);
    EXPECT_EQ(lib.updateFile(0, L"C:\\a.txt", nullptr, nullptr), kNoPatchContext);
    EXPECT_EQ(lib.commitChanges(0, nullptr), kNoPatchContext);
    EXPECT_EQ(lib.getBackupString(0, nullptr, &size), kNoPatchContext);
    EXPECT_EQ(lib.getLastErrorStrA(0), nullptr);
    EXPECT_EQ(lib.close(0), 0u);
}

TEST_F(Handle, AfterCloseTheOldNumberIsRefused) {
    int handle = lib.open();
    ASSERT_GE(handle, 0);
    ASSERT_EQ(lib.close(handle), 0u);
    if (handle == 0) GTEST_SKIP() << "handed out 0, which also means no handle";
    EXPECT_EQ(lib.closeDatabase(handle), kBusyOrWrongHandle);
    EXPECT_EQ(lib.getLastErrorStrA(handle), nullptr);
}

}  // namespace
}  // namespace qltmsi_windows_test
