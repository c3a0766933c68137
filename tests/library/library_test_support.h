// Shared set-up of the library's internal tests: the library's objects are
// attached to the test process once (locks, call table, and the built
// libqltmsi32.so as the module whose string table is read), each test gets a
// fresh prefix and temporary directory, and no handle outlives a test.
#pragma once

#include <gtest/gtest.h>

#include "api/call_lock.h"
#include "api/dll_main.h"
#include "platform/platform_calls.h"
#include "winsys/kernel/test_prefix.h"

#include <filesystem>
#include <future>
#include <string>
#include <thread>

namespace library_test {

// "Z:\..." for a native path.
inline std::string WindowsPathOf(const std::string& native) {
    std::string path = "Z:" + native;
    for (char& c : path) {
        if (c == '/')
            c = '\\';
    }
    return path;
}

inline WideString Wide(const std::string& utf8) {
    WideString wide(utf8.size() + 1, 0);
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(),
                                static_cast<int>(wide.size()));
    wide.resize(n > 0 ? n - 1 : 0);
    return wide;
}

inline std::string Narrow(const WideString& wide) {
    std::string narrow(wide.size() * 3 + 1, 0);
    int n = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, narrow.data(),
                                static_cast<int>(narrow.size()), nullptr, nullptr);
    narrow.resize(n > 0 ? n - 1 : 0);
    return narrow;
}

// Attaches once per process, as the loader would.
inline void AttachLibraryOnce() {
    static const bool attached = [] {
        HMODULE module = LoadLibraryA(WindowsPathOf(QLTMSI_LIBRARY_FILE).c_str());
        EXPECT_NE(module, nullptr) << "the built library holds the string table";
        DllMain(module, DLL_PROCESS_ATTACH, nullptr);
        return true;
    }();
    (void)attached;
}

class LibraryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        AttachLibraryOnce();
        SelectPlatformCallsForTest();
    }
    void TearDown() override {
        if (libraryState.currentContext) {
            DestroyContext(*libraryState.currentContext);
            libraryState.currentContext.reset();
        }
        libraryState.currentHandle = 0;
        libraryState.contextUsers = 0;
    }
    virtual void SelectPlatformCallsForTest() { SelectPlatformCalls(0); }

    // A native file under C:\, made with the given content; its Windows path.
    WideString MakeFile(const std::string& relative, const std::string& content = "x") {
        std::filesystem::create_directories(
            std::filesystem::path(prefix_.driveC() + "/" + relative).parent_path());
        winsys_test::writeFile(prefix_.driveC() + "/" + relative, content);
        return CPath(relative);
    }
    static WideString CPath(std::string relative) {
        for (char& c : relative) {
            if (c == '/')
                c = '\\';
        }
        return Wide("C:\\" + relative);
    }
    bool Exists(const std::string& relative) const {
        return std::filesystem::exists(prefix_.driveC() + "/" + relative);
    }

    winsys_test::TestPrefix prefix_;
};

// Holds the call lock on a thread of its own, as a running export does,
// until released.
class CallLockHolder {
  public:
    explicit CallLockHolder(int handle) {
        std::promise<bool> taken;
        std::future<bool> passed = taken.get_future();
        thread_ = std::thread([this, handle, taken = std::move(taken)]() mutable {
            const bool held = CheckHandle(handle);
            taken.set_value(held);
            release_.get_future().wait();
            if (held)
                ReleaseMutex(libraryState.callLock);
        });
        held_ = passed.get();
    }
    ~CallLockHolder() { Release(); }
    bool held() const { return held_; }
    void Release() {
        if (thread_.joinable()) {
            release_.set_value();
            thread_.join();
        }
    }

  private:
    std::promise<void> release_;
    std::thread thread_;
    bool held_ = false;
};

// Runs a call on another thread and returns its result.
template <typename Call>
auto OnOtherThread(Call call) {
    decltype(call()) result{};
    std::thread([&] { result = call(); }).join();
    return result;
}

}  // namespace library_test
