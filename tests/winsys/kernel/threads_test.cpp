// Threads and unnamed events: a thread's handle is signalled only once the
// thread has ended and handed over the mutexes it still owned, its exit code
// reads STILL_ACTIVE until then, and an auto-reset event lets one waiter
// through per SetEvent while a manual-reset one stays set.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <thread>

namespace {

struct Shared {
    HANDLE mutex = nullptr;
    HANDLE go = nullptr;
};

DWORD WINAPI TakeMutexAndEnd(LPVOID parameter) {
    auto* shared = static_cast<Shared*>(parameter);
    WaitForSingleObject(shared->mutex, INFINITE);
    WaitForSingleObject(shared->go, INFINITE);
    return 42;  // without releasing the mutex
}

TEST(Threads, HandleIsSignalledAfterTheEndAndItsMutexesAreAbandoned) {
    Shared shared;
    shared.mutex = CreateMutexW(nullptr, FALSE, nullptr);
    shared.go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(shared.go, nullptr);
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, TakeMutexAndEnd, &shared, 0, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_NE(id, 0u);
    EXPECT_NE(id, GetCurrentThreadId());
    EXPECT_EQ(WaitForSingleObject(thread, 50), static_cast<DWORD>(WAIT_TIMEOUT));
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));
    ASSERT_TRUE(SetEvent(shared.go));
    EXPECT_EQ(WaitForSingleObject(thread, 5000), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(WaitForSingleObject(thread, 0), static_cast<DWORD>(WAIT_OBJECT_0)) << "stays signalled";
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 42u);
    EXPECT_EQ(WaitForSingleObject(shared.mutex, 0), static_cast<DWORD>(WAIT_ABANDONED));
    EXPECT_TRUE(ReleaseMutex(shared.mutex));
    for (HANDLE handle : {thread, shared.go, shared.mutex})
        EXPECT_TRUE(CloseHandle(handle));
}

TEST(Events, AutoResetLetsOneWaiterThroughAndManualResetStaysSet) {
    HANDLE automatic = CreateEventW(nullptr, FALSE, TRUE, nullptr);
    HANDLE manual = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(automatic, nullptr);
    ASSERT_NE(manual, nullptr);
    EXPECT_EQ(WaitForSingleObject(automatic, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(WaitForSingleObject(automatic, 0), static_cast<DWORD>(WAIT_TIMEOUT));

    std::atomic<int> through{0};
    std::thread first([&] { through += WaitForSingleObject(automatic, 2000) == WAIT_OBJECT_0; });
    std::thread second([&] { through += WaitForSingleObject(automatic, 300) == WAIT_OBJECT_0; });
    Sleep(50);
    EXPECT_TRUE(SetEvent(automatic));
    first.join();
    second.join();
    EXPECT_EQ(through.load(), 1);

    EXPECT_TRUE(SetEvent(manual));
    EXPECT_EQ(WaitForSingleObject(manual, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(WaitForSingleObject(manual, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_TRUE(ResetEvent(manual));
    EXPECT_EQ(WaitForSingleObject(manual, 0), static_cast<DWORD>(WAIT_TIMEOUT));

    EXPECT_EQ(CreateEventW(nullptr, FALSE, FALSE, u"named"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    EXPECT_FALSE(SetEvent(reinterpret_cast<HANDLE>(0x7FFFFFF0)));
    EXPECT_TRUE(CloseHandle(automatic));
    EXPECT_TRUE(CloseHandle(manual));
}

}  // namespace
