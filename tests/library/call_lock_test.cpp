// The handle and the two locks, seen through the exports: one call at a time,
// turned away at once on another thread, passed on the thread that holds it.
#include "library_test_support.h"

#include <chrono>

namespace library_test {
namespace {

constexpr char16_t kProduct[] = u"{6F4A1D2C-1111-2222-3333-444455556666}";

class CallLock : public LibraryTest {};

// Both locks are free when another thread can take each at once.
bool LocksFreeForOtherThreads() {
    return OnOtherThread([] {
        const DWORD handleWait = WaitForSingleObject(libraryState.handleLock, 0);
        if (handleWait == WAIT_OBJECT_0)
            ReleaseMutex(libraryState.handleLock);
        const DWORD callWait = WaitForSingleObject(libraryState.callLock, 0);
        if (callWait == WAIT_OBJECT_0)
            ReleaseMutex(libraryState.callLock);
        return handleWait == WAIT_OBJECT_0 && callWait == WAIT_OBJECT_0;
    });
}

TEST_F(CallLock, OneHandlePerProcessUntilClosed) {
    const int handle = QLTMsiOpen();
    ASSERT_GE(handle, 0);
    ASSERT_LE(handle, 0x7FFF);
    EXPECT_EQ(QLTMsiOpen(), QLTMSI_HANDLE_ALREADY_OPEN);
    EXPECT_EQ(OnOtherThread([] { return QLTMsiOpen(); }), QLTMSI_HANDLE_ALREADY_OPEN);
    EXPECT_EQ(QLTMsiClose(handle), QLTMSI_SUCCESS);
    const int next = QLTMsiOpen();
    EXPECT_GE(next, 0);
    EXPECT_EQ(QLTMsiClose(next), QLTMSI_SUCCESS);
}

TEST_F(CallLock, AnotherThreadIsTurnedAwayAtOnceAndPassesAfterwards) {
    const int handle = QLTMsiOpen();
    QLTMsiOpenDatabase(handle, kProduct, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(libraryState.currentContext, nullptr);
    CallLockHolder running(handle);
    ASSERT_TRUE(running.held());

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(QLTMsiCommitChanges(handle, nullptr), QLTMSI_ERROR_BUSY_OR_BAD_HANDLE);
    EXPECT_EQ(QLTMsiUpdateFile(handle, u"C:\\a.txt", nullptr, nullptr),
              QLTMSI_ERROR_BUSY_OR_BAD_HANDLE);
    EXPECT_EQ(QLTMsiCloseDatabase(handle), QLTMSI_ERROR_BUSY_OR_BAD_HANDLE);
    EXPECT_EQ(QLTMsiGetLastErrorStrA(handle), nullptr);
    EXPECT_EQ(QLTMsiClose(handle), QLTMSI_ERROR_BUSY_OR_BAD_HANDLE);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2))
        << "no waiting for the lock";
    // Turned away without touching anything: the handle and context remain.
    EXPECT_EQ(QLTMsiOpen(), QLTMSI_HANDLE_ALREADY_OPEN);
    EXPECT_NE(libraryState.currentContext, nullptr);

    running.Release();
    EXPECT_EQ(QLTMsiCommitChanges(handle, nullptr), QLTMSI_SUCCESS)
        << "nothing pending: passes, writes nothing";
    EXPECT_EQ(QLTMsiCloseDatabase(handle), QLTMSI_ERROR_NO_DATABASE);
    EXPECT_EQ(QLTMsiClose(handle), QLTMSI_SUCCESS);
}

TEST_F(CallLock, NestedCallsFromTheHoldingThreadPassAndReleaseOnce) {
    const int handle = QLTMsiOpen();
    ASSERT_TRUE(CheckHandle(handle));  // this thread is inside an export now
    EXPECT_EQ(QLTMsiCloseDatabase(handle), QLTMSI_ERROR_NO_PATCH_CONTEXT);
    EXPECT_EQ(QLTMsiGetLastErrorStrA(handle), nullptr);
    DWORD size = 0;
    EXPECT_EQ(QLTMsiGetBackupStringA(handle, nullptr, &size), QLTMSI_ERROR_NO_PATCH_CONTEXT);
    // Still held by the outer call: another thread is turned away.
    EXPECT_EQ(OnOtherThread([&] { return QLTMsiCommitChanges(handle, nullptr); }),
              QLTMSI_ERROR_BUSY_OR_BAD_HANDLE);
    ReleaseMutex(libraryState.callLock);  // the outer call returns
    EXPECT_TRUE(LocksFreeForOtherThreads());
    EXPECT_EQ(QLTMsiClose(handle), QLTMSI_SUCCESS);
}

TEST_F(CallLock, NestedCallsThatChangeTheContextAreRefusedWhileACallWorksOnIt) {
    const int handle = QLTMsiOpen();
    QLTMsiOpenDatabase(handle, kProduct, nullptr, nullptr, nullptr, nullptr);
    PatchContext* context = libraryState.currentContext.get();
    ASSERT_NE(context, nullptr);
    {
        // As inside the progress callback of an update or a commit.
        ASSERT_TRUE(CheckHandle(handle));
        ContextUse update;
        EXPECT_EQ(QLTMsiCloseDatabase(handle), QLTMSI_ERROR_BUSY_OR_BAD_HANDLE);
        EXPECT_EQ(QLTMsiClose(handle), QLTMSI_ERROR_BUSY_OR_BAD_HANDLE);
        EXPECT_EQ(QLTMsiOpenDatabase(handle, kProduct, nullptr, nullptr, nullptr, nullptr),
                  QLTMSI_ERROR_BUSY_OR_BAD_HANDLE);
        EXPECT_EQ(libraryState.currentContext.get(), context)
            << "the running call keeps its context";
        // An update would rewrite a row the running commit has already
        // archived or numbered; a commit would write the package under it.
        context->changesPending = 1;
        EXPECT_EQ(QLTMsiUpdateFile(handle, u"C:\\a.txt", u"C:\\b.txt", u"b.txt"),
                  QLTMSI_ERROR_BUSY_OR_BAD_HANDLE);
        EXPECT_EQ(QLTMsiCommitChanges(handle, nullptr), QLTMSI_ERROR_BUSY_OR_BAD_HANDLE);
        context->changesPending = 0;
        EXPECT_NE(QLTMsiGetLastErrorStrA(handle), nullptr)
            << "calls that only read the context pass";
        ReleaseMutex(libraryState.callLock);
    }
    EXPECT_TRUE(LocksFreeForOtherThreads());
    EXPECT_EQ(QLTMsiCloseDatabase(handle), QLTMSI_ERROR_NO_DATABASE);
    EXPECT_EQ(QLTMsiClose(handle), QLTMSI_SUCCESS);
}

TEST_F(CallLock, WrongHandleChangesNothingAndLeavesBothLocksFree) {
    const int handle = QLTMsiOpen();
    QLTMsiOpenDatabase(handle, kProduct, nullptr, nullptr, nullptr, nullptr);
    libraryState.currentContext->backupString =
        WideString(u"rundll32 C:\\x.dll,QltMsiBackupSvr 1\n");
    const LONG message = libraryState.currentContext->lastMessageId;
    const int wrong = (handle + 1) & 0x7FFF;

    DWORD size = 100;
    WCHAR wide[100] = {u'w', 0};
    char narrow[100] = {'n', 0};
    EXPECT_EQ(QLTMsiOpenDatabase(wrong, kProduct, nullptr, nullptr, nullptr, nullptr),
              QLTMSI_ERROR_BUSY_OR_BAD_HANDLE);
    EXPECT_EQ(QLTMsiUpdateFile(wrong, u"C:\\a.txt", u"C:\\b.txt", u"a.txt"),
              QLTMSI_ERROR_BUSY_OR_BAD_HANDLE);
    EXPECT_EQ(QLTMsiCommitChanges(wrong, nullptr), QLTMSI_ERROR_BUSY_OR_BAD_HANDLE);
    EXPECT_EQ(QLTMsiGetBackupString(wrong, wide, &size), QLTMSI_ERROR_BUSY_OR_BAD_HANDLE);
    EXPECT_EQ(QLTMsiGetBackupStringA(wrong, narrow, &size), QLTMSI_ERROR_BUSY_OR_BAD_HANDLE);
    EXPECT_EQ(QLTMsiGetLastErrorStrA(wrong), nullptr);
    EXPECT_EQ(QLTMsiCloseDatabase(wrong), QLTMSI_ERROR_BUSY_OR_BAD_HANDLE);
    EXPECT_EQ(QLTMsiClose(wrong), QLTMSI_ERROR_BUSY_OR_BAD_HANDLE);

    EXPECT_EQ(size, 100u);
    EXPECT_EQ(wide[0], u'w');
    EXPECT_EQ(narrow[0], 'n');
    EXPECT_EQ(libraryState.currentHandle, handle);
    ASSERT_NE(libraryState.currentContext, nullptr);
    EXPECT_EQ(libraryState.currentContext->lastMessageId, message);
    EXPECT_TRUE(LocksFreeForOtherThreads());
    EXPECT_EQ(QLTMsiClose(handle), QLTMSI_SUCCESS);
}

TEST_F(CallLock, HandleZeroPassesWhileNoHandleIsOpen) {
    DWORD size = 0;
    EXPECT_EQ(QLTMsiCloseDatabase(0), QLTMSI_ERROR_NO_PATCH_CONTEXT);
    EXPECT_EQ(QLTMsiUpdateFile(0, u"C:\\a.txt", nullptr, nullptr), QLTMSI_ERROR_NO_PATCH_CONTEXT);
    EXPECT_EQ(QLTMsiGetBackupString(0, nullptr, &size), QLTMSI_ERROR_NO_PATCH_CONTEXT);
    EXPECT_EQ(QLTMsiClose(0), QLTMSI_SUCCESS);
    EXPECT_TRUE(LocksFreeForOtherThreads());
}

TEST_F(CallLock, ALockLeftByAnEndedThreadPassesToTheNextCaller) {
    const int handle = QLTMsiOpen();
    std::thread([&] {
        ASSERT_TRUE(CheckHandle(handle));
        ++libraryState.contextUsers;  // ended inside a call on the context
    }).join();
    EXPECT_EQ(QLTMsiCloseDatabase(handle), QLTMSI_ERROR_NO_PATCH_CONTEXT);
    EXPECT_EQ(libraryState.contextUsers, 0);
    EXPECT_EQ(QLTMsiClose(handle), QLTMSI_SUCCESS);
}

}  // namespace
}  // namespace library_test
