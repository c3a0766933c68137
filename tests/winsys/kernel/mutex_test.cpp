// Mutexes: recursion, thread ownership, timeouts, abandonment, and a named
// mutex shared with another process of the same prefix.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <windows.h>

#include <chrono>
#include <thread>

#include "winsys/kernel/test_prefix.h"

namespace {

// Runs f on another thread and returns its result.
template <class F>
auto onOtherThread(F f) {
    decltype(f()) result{};
    std::thread([&] { result = f(); }).join();
    return result;
}

TEST(Mutex, RecursiveAndOwnedByOneThread) {
    HANDLE mutex = CreateMutexW(nullptr, TRUE, nullptr);
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);  // second level
    EXPECT_EQ(onOtherThread([&] { return WaitForSingleObject(mutex, 0); }),
              static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(onOtherThread([&] {
                  BOOL released = ReleaseMutex(mutex);
                  return released ? 0 : GetLastError();
              }),
              static_cast<DWORD>(ERROR_NOT_OWNER));
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_EQ(onOtherThread([&] { return WaitForSingleObject(mutex, 0); }),
              static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(ReleaseMutex(mutex));
    SetLastError(0);
    EXPECT_FALSE(ReleaseMutex(mutex));
    EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
    // Free now: the other thread takes it (and, ending, abandons it).
    EXPECT_EQ(onOtherThread([&] { return WaitForSingleObject(mutex, 0); }),
              static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_TRUE(CloseHandle(mutex));
    EXPECT_FALSE(CloseHandle(mutex));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(Mutex, TimeoutAndHandOverOnRelease) {
    HANDLE mutex = CreateMutexW(nullptr, TRUE, nullptr);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(onOtherThread([&] { return WaitForSingleObject(mutex, 60); }),
              static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(55));

    DWORD waited = WAIT_FAILED;
    std::thread waiter([&] {
        waited = WaitForSingleObject(mutex, INFINITE);
        ReleaseMutex(mutex);
    });
    Sleep(50);
    EXPECT_EQ(waited, WAIT_FAILED);  // still blocked
    EXPECT_TRUE(ReleaseMutex(mutex));
    waiter.join();
    EXPECT_EQ(waited, static_cast<DWORD>(WAIT_OBJECT_0));
    CloseHandle(mutex);
}

TEST(Mutex, EndedOwnerHandsOverAsAbandoned) {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, nullptr);
    std::thread([&] {
        EXPECT_EQ(WaitForSingleObject(mutex, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    }).join();
    EXPECT_EQ(WaitForSingleObject(mutex, 0), static_cast<DWORD>(WAIT_ABANDONED));
    EXPECT_EQ(WaitForSingleObject(mutex, 0),
              static_cast<DWORD>(WAIT_OBJECT_0));  // recursion, not abandoned again
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_EQ(WaitForSingleObject(mutex, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_TRUE(ReleaseMutex(mutex));

    // A thread blocked on the mutex wakes when the owner ends.
    std::atomic<bool> owned{false};
    std::thread owner([&] {
        WaitForSingleObject(mutex, INFINITE);
        owned = true;
        Sleep(50);
    });
    while (!owned)
        Sleep(1);
    EXPECT_EQ(WaitForSingleObject(mutex, 5000), static_cast<DWORD>(WAIT_ABANDONED));
    owner.join();
    ReleaseMutex(mutex);
    CloseHandle(mutex);
}

TEST(Mutex, BadHandles) {
    SetLastError(0);
    EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(ReleaseMutex(INVALID_HANDLE_VALUE));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(CloseHandle(nullptr));
}

TEST(NamedMutex, OneObjectPerNameWithinAProcess) {
    winsys_test::TestPrefix prefix;
    HANDLE first = CreateMutexW(nullptr, TRUE, u"Global\\qltmsi-test");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    HANDLE second =
        CreateMutexA(nullptr, TRUE, "qltmsi-test");  // initial ownership ignored: it exists
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(onOtherThread([&] { return WaitForSingleObject(second, 0); }),
              static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(ReleaseMutex(second));
    EXPECT_FALSE(ReleaseMutex(second));
    CloseHandle(first);
    CloseHandle(second);
    EXPECT_EQ(CreateMutexW(nullptr, FALSE, u"bad\\name"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST(NamedMutex, EndedOwnerThreadAbandonsItToTheProcess) {
    winsys_test::TestPrefix prefix;
    HANDLE mutex = CreateMutexW(nullptr, FALSE, u"qltmsi-thread");
    ASSERT_NE(mutex, nullptr);
    std::thread([&] {
        EXPECT_EQ(WaitForSingleObject(mutex, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    }).join();
    EXPECT_EQ(WaitForSingleObject(mutex, 1000), static_cast<DWORD>(WAIT_ABANDONED));
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_EQ(WaitForSingleObject(mutex, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_TRUE(ReleaseMutex(mutex));
    CloseHandle(mutex);
}

TEST(NamedMutex, SharedWithAnotherProcessOfThePrefix) {
    winsys_test::TestPrefix prefix;
    int toChild[2], toParent[2];
    ASSERT_EQ(pipe(toChild), 0);
    ASSERT_EQ(pipe(toParent), 0);
    auto signal = [](int fd, char c) { return write(fd, &c, 1) == 1; };
    auto await = [](int fd) {
        char c = 0;
        return read(fd, &c, 1) == 1 ? c : '\0';
    };

    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(toChild[1]);
        close(toParent[0]);
        // The child reports the first failed step as its exit code.
        int step = 1;
        if (await(toChild[0]) != 'a')
            _exit(step);
        ++step;
        HANDLE mutex = CreateMutexW(nullptr, FALSE, u"qltmsi-shared");
        if (!mutex || GetLastError() != ERROR_ALREADY_EXISTS)
            _exit(step);
        ++step;
        if (WaitForSingleObject(mutex, 0) != WAIT_TIMEOUT)
            _exit(step);
        ++step;
        if (WaitForSingleObject(mutex, 30) != WAIT_TIMEOUT)
            _exit(step);
        ++step;
        signal(toParent[1], 'b');
        if (WaitForSingleObject(mutex, 10000) != WAIT_OBJECT_0)
            _exit(step);  // released by the parent
        ++step;
        signal(toParent[1], 'c');
        await(toChild[0]);
        _exit(0);  // ends holding the mutex: abandoned
    }
    close(toChild[0]);
    close(toParent[1]);
    HANDLE mutex = CreateMutexW(nullptr, TRUE, u"qltmsi-shared");
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    signal(toChild[1], 'a');
    EXPECT_EQ(await(toParent[0]), 'b');
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_EQ(await(toParent[0]), 'c');
    EXPECT_EQ(WaitForSingleObject(mutex, 0),
              static_cast<DWORD>(WAIT_TIMEOUT));  // the child holds it
    signal(toChild[1], 'd');
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(WaitForSingleObject(mutex, 5000), static_cast<DWORD>(WAIT_ABANDONED));
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_EQ(WaitForSingleObject(mutex, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    close(toChild[1]);
    close(toParent[0]);
}

// Closing its last handle does not release a mutex: a process whose thread
// owns one and closes the handle keeps it from every other process until the
// thread ends, which abandons it.
TEST(NamedMutex, StaysOwnedAfterTheOwnerClosesItsLastHandle) {
    winsys_test::TestPrefix prefix;
    int toChild[2], toParent[2];
    ASSERT_EQ(pipe(toChild), 0);
    ASSERT_EQ(pipe(toParent), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(toChild[1]);
        close(toParent[0]);
        HANDLE mutex = CreateMutexW(nullptr, TRUE, u"qltmsi-closed-while-owned");
        const char ready = mutex && CloseHandle(mutex) ? 'a' : 'x';
        (void)!write(toParent[1], &ready, 1);
        char c = 0;
        (void)!read(toChild[0], &c, 1);
        _exit(0);
    }
    close(toChild[0]);
    close(toParent[1]);
    char ready = 0;
    ASSERT_EQ(read(toParent[0], &ready, 1), 1);
    ASSERT_EQ(ready, 'a');
    HANDLE mutex = CreateMutexW(nullptr, FALSE, u"qltmsi-closed-while-owned");
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(WaitForSingleObject(mutex, 100), static_cast<DWORD>(WAIT_TIMEOUT));
    (void)!write(toChild[1], "d", 1);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(WaitForSingleObject(mutex, 5000), static_cast<DWORD>(WAIT_ABANDONED));
    EXPECT_TRUE(ReleaseMutex(mutex));
    CloseHandle(mutex);
    close(toChild[1]);
    close(toParent[0]);
}

}  // namespace
