// The registry between processes: this program runs copies of itself as
// children (REGISTRY_TEST_CHILD names the role), sharing the prefix.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace {

constexpr int kValuesPerWriter = 150;

pid_t startChild(const std::string& role) {
    std::string roleVariable = "REGISTRY_TEST_CHILD=" + role;
    std::vector<char*> environment;
    for (char** e = environ; *e; ++e)
        if (std::string(*e).rfind("REGISTRY_TEST_CHILD=", 0) != 0) environment.push_back(*e);
    environment.push_back(roleVariable.data());
    environment.push_back(nullptr);
    char filter[] = "--gtest_filter=RegistryChild.Run";
    char program[] = "/proc/self/exe";
    char* argv[] = {program, filter, nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, argv, environment.data()) != 0) return -1;
    return pid;
}

int finish(pid_t pid) {
    int status = 0;
    if (pid <= 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

LONG setString(HKEY key, const char16_t* name, const std::u16string& value) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR)));
}

HKEY sharedKey() {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Shared", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    return key;
}

TEST(RegistryChild, Run) {
    const char* role = std::getenv("REGISTRY_TEST_CHILD");
    if (!role) GTEST_SKIP() << "runs only as the child of the cross-process tests";
    HKEY key = sharedKey();
    std::string r = role;
    if (r == "write") {
        ASSERT_EQ(setString(key, u"FromChild", u"written by the child"), ERROR_SUCCESS);
    } else if (r == "read") {
        char text[64];
        DWORD size = sizeof(text);
        ASSERT_EQ(RegQueryValueExA(key, "FromParent", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size),
                  ERROR_SUCCESS);
        EXPECT_STREQ(text, "written by the parent");
    } else if (r == "delete") {
        ASSERT_EQ(RegDeleteKeyW(key, u"Doomed"), ERROR_SUCCESS);
    } else if (r.rfind("writer", 0) == 0) {
        for (int i = 0; i < kValuesPerWriter; ++i) {
            std::u16string name;
            for (char c : r + "_" + std::to_string(i)) name += static_cast<char16_t>(c);
            ASSERT_EQ(setString(key, name.c_str(), u"x"), ERROR_SUCCESS);
            HKEY sub = nullptr;
            ASSERT_EQ(RegCreateKeyExW(key, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr),
                      ERROR_SUCCESS);
            RegCloseKey(sub);
        }
    }
    RegCloseKey(key);
}

TEST(RegistryProcesses, AValueWrittenInOneProcessIsReadInAnother) {
    ASSERT_EQ(finish(startChild("write")), 0);
    HKEY key = sharedKey();
    WCHAR text[64];
    DWORD size = sizeof(text);
    ASSERT_EQ(RegQueryValueExW(key, u"FromChild", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(text), u"written by the child");

    ASSERT_EQ(setString(key, u"FromParent", u"written by the parent"), ERROR_SUCCESS);
    EXPECT_EQ(finish(startChild("read")), 0);
    RegCloseKey(key);
}

TEST(RegistryProcesses, AKeyDeletedByAnotherProcessReportsItOnUse) {
    HKEY key = sharedKey();
    HKEY doomed = nullptr;
    ASSERT_EQ(RegCreateKeyExW(key, u"Doomed", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &doomed, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(setString(doomed, u"v", u"x"), ERROR_SUCCESS);
    ASSERT_EQ(finish(startChild("delete")), 0);
    EXPECT_EQ(setString(doomed, u"v", u"y"), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(doomed), ERROR_SUCCESS);
    RegCloseKey(key);
}

TEST(RegistryProcesses, ConcurrentWritersLoseNoUpdates) {
    pid_t first = startChild("writer1");
    pid_t second = startChild("writer2");
    // The parent writes at the same time through its own connection.
    HKEY key = sharedKey();
    for (int i = 0; i < kValuesPerWriter; ++i) {
        std::u16string name = u"parent_";
        for (char c : std::to_string(i)) name += static_cast<char16_t>(c);
        ASSERT_EQ(setString(key, name.c_str(), u"x"), ERROR_SUCCESS);
    }
    ASSERT_EQ(finish(first), 0);
    ASSERT_EQ(finish(second), 0);

    int values = 0, keys = 0;
    for (DWORD i = 0;; ++i) {
        WCHAR name[64];
        DWORD length = 64;
        LONG status = RegEnumValueW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) break;
        ASSERT_EQ(status, ERROR_SUCCESS);
        std::u16string n(name);
        if (n.rfind(u"writer", 0) == 0 || n.rfind(u"parent_", 0) == 0) ++values;
    }
    for (DWORD i = 0;; ++i) {
        WCHAR name[64];
        DWORD length = 64;
        LONG status = RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) break;
        ASSERT_EQ(status, ERROR_SUCCESS);
        if (std::u16string(name).rfind(u"writer", 0) == 0) ++keys;
    }
    EXPECT_EQ(values, 3 * kValuesPerWriter);
    EXPECT_EQ(keys, 2 * kValuesPerWriter);
    RegCloseKey(key);
}

}  // namespace
