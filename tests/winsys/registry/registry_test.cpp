// The registry calls in one process: keys, values, sizes, errors.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "winsys/kernel/test_prefix.h"

namespace {

// One fresh prefix for the whole program: the registry keeps its database
// connection for the life of the process. Child processes of the
// cross-process tests inherit their parent's.
class PrefixEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (!std::getenv("REGISTRY_TEST_CHILD")) prefix_ = std::make_unique<winsys_test::TestPrefix>();
    }
    void TearDown() override { prefix_.reset(); }

private:
    std::unique_ptr<winsys_test::TestPrefix> prefix_;
};

[[maybe_unused]] auto* const environment = ::testing::AddGlobalTestEnvironment(new PrefixEnvironment);

class Key {
public:
    explicit Key(HKEY key = nullptr) : key_(key) {}
    ~Key() {
        if (key_) RegCloseKey(key_);
    }
    HKEY* out() { return &key_; }
    operator HKEY() const { return key_; }

private:
    HKEY key_;
};

LONG createKey(HKEY parent, const char16_t* path, Key& key, DWORD* disposition = nullptr) {
    return RegCreateKeyExW(parent, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.out(), disposition);
}

LONG setString(HKEY key, const char16_t* name, const std::u16string& value, DWORD type = REG_SZ) {
    return RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR)));
}

TEST(Registry, CreateReportsNewThenExistingAndMatchesNamesWithoutCase) {
    Key first, second, third;
    DWORD disposition = 0;
    ASSERT_EQ(createKey(HKEY_LOCAL_MACHINE, u"Software\\Case\\Mixed", first, &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, DWORD(REG_CREATED_NEW_KEY));
    ASSERT_EQ(createKey(HKEY_LOCAL_MACHINE, u"SOFTWARE\\case\\MIXED\\", second, &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, DWORD(REG_OPENED_EXISTING_KEY));
    ASSERT_EQ(setString(first, u"Value", u"one"), ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(second, u"VALUE", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 8u);
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\CASE\\mixed", 0, KEY_READ, third.out()), ERROR_SUCCESS);

    // The key keeps the spelling it was created with.
    Key parent;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Case", 0, KEY_READ, parent.out()), ERROR_SUCCESS);
    WCHAR name[16];
    DWORD length = 16;
    ASSERT_EQ(RegEnumKeyExW(parent, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(name), u"Mixed");
    EXPECT_EQ(length, 5u);
}

TEST(Registry, OpenFailsCleanlyOnMissingKeysAndBadPaths) {
    HKEY key = reinterpret_cast<HKEY>(0x1234);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Nowhere", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"\\Software", 0, KEY_READ, &key), ERROR_BAD_PATHNAME);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software", 0, KEY_READ, nullptr), ERROR_INVALID_PARAMETER);
    // The root answers for itself.
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, nullptr, 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(key, HKEY_LOCAL_MACHINE);
    // Other roots are trees of their own.
    Key user;
    ASSERT_EQ(createKey(HKEY_CURRENT_USER, u"Software\\OnlyForUser", user), ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\OnlyForUser", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
}

TEST(Registry, ValuesKeepTheirTypeAndBytes) {
    Key key;
    ASSERT_EQ(createKey(HKEY_LOCAL_MACHINE, u"Software\\Types", key), ERROR_SUCCESS);
    const DWORD dword = 0xA1B2C3D4;
    const ULONGLONG qword = 0x0102030405060708ULL;
    const BYTE binary[] = {0, 1, 2, 0xFF};
    const char16_t multi[] = u"a\0bc\0";  // two strings and the final terminator
    ASSERT_EQ(RegSetValueExW(key, u"d", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dword), 4), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, u"q", 0, REG_QWORD, reinterpret_cast<const BYTE*>(&qword), 8), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, u"b", 0, REG_BINARY, binary, 4), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, u"m", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(multi), sizeof(multi)),
              ERROR_SUCCESS);
    ASSERT_EQ(setString(key, u"e", u"%TEMP%\\x", REG_EXPAND_SZ), ERROR_SUCCESS);
    ASSERT_EQ(setString(key, nullptr, u"default"), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, u"empty", 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);

    BYTE buffer[64];
    DWORD type = 0, size = sizeof(buffer);
    ASSERT_EQ(RegQueryValueExW(key, u"D", nullptr, &type, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD(REG_DWORD));
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(std::memcmp(buffer, &dword, 4), 0);
    size = sizeof(buffer);
    ASSERT_EQ(RegQueryValueExW(key, u"q", nullptr, &type, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD(REG_QWORD));
    EXPECT_EQ(std::memcmp(buffer, &qword, 8), 0);
    size = sizeof(buffer);
    ASSERT_EQ(RegQueryValueExW(key, u"b", nullptr, &type, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(std::memcmp(buffer, binary, 4), 0);
    size = sizeof(buffer);
    ASSERT_EQ(RegQueryValueExW(key, u"m", nullptr, &type, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD(REG_MULTI_SZ));
    EXPECT_EQ(size, sizeof(multi));
    EXPECT_EQ(std::memcmp(buffer, multi, sizeof(multi)), 0);
    size = sizeof(buffer);
    ASSERT_EQ(RegQueryValueExW(key, u"e", nullptr, &type, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD(REG_EXPAND_SZ));
    size = sizeof(buffer);
    ASSERT_EQ(RegQueryValueExW(key, u"", nullptr, &type, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(buffer)), u"default");
    size = sizeof(buffer);
    ASSERT_EQ(RegQueryValueExW(key, u"empty", nullptr, &type, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 0u);

    // The narrow form passes non-string data through and converts strings.
    size = sizeof(buffer);
    ASSERT_EQ(RegQueryValueExA(key, "m", nullptr, &type, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(std::memcmp(buffer, "a\0bc\0", 6), 0);
    size = sizeof(buffer);
    ASSERT_EQ(RegQueryValueExA(key, "d", nullptr, &type, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 4u);

    EXPECT_EQ(RegDeleteValueW(key, u"D"), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExW(key, u"d", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValueA(key, "d"), ERROR_FILE_NOT_FOUND);
}

TEST(Registry, ShortBuffersGetMoreDataAndTheSizeNeeded) {
    Key key;
    ASSERT_EQ(createKey(HKEY_LOCAL_MACHINE, u"Software\\Sizes", key), ERROR_SUCCESS);
    // Nine characters and the terminator: 10 narrow bytes, 20 wide ones.
    ASSERT_EQ(RegSetValueExA(key, "s", 0, REG_SZ, reinterpret_cast<const BYTE*>("abcdefghi"), 10), ERROR_SUCCESS);

    char narrow[32];
    DWORD type = 0, size = 9;
    EXPECT_EQ(RegQueryValueExA(key, "s", nullptr, &type, reinterpret_cast<BYTE*>(narrow), &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(type, DWORD(REG_SZ));
    size = 10;
    ASSERT_EQ(RegQueryValueExA(key, "s", nullptr, &type, reinterpret_cast<BYTE*>(narrow), &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 10u);
    EXPECT_STREQ(narrow, "abcdefghi");
    size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "s", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 10u);

    WCHAR wide[32];
    size = 19;
    EXPECT_EQ(RegQueryValueExW(key, u"s", nullptr, nullptr, reinterpret_cast<BYTE*>(wide), &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 20u);
    size = 20;
    ASSERT_EQ(RegQueryValueExW(key, u"s", nullptr, nullptr, reinterpret_cast<BYTE*>(wide), &size), ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(wide), u"abcdefghi");

    // A character outside ASCII counts its UTF-8 bytes in the narrow form.
    ASSERT_EQ(setString(key, u"accent", u"\u00e9t\u00e9"), ERROR_SUCCESS);
    size = 0;
    ASSERT_EQ(RegQueryValueExA(key, "accent", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 6u);
    size = sizeof(narrow);
    ASSERT_EQ(RegQueryValueExA(key, "accent", nullptr, nullptr, reinterpret_cast<BYTE*>(narrow), &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(narrow, "\xc3\xa9t\xc3\xa9");

    // A narrow write whose count left the terminator out still stores one.
    ASSERT_EQ(RegSetValueExA(key, "t", 0, REG_SZ, reinterpret_cast<const BYTE*>("abc"), 3), ERROR_SUCCESS);
    size = 0;
    ASSERT_EQ(RegQueryValueExW(key, u"t", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 8u);
}

TEST(Registry, DeletesOnlyKeysWithoutSubkeys) {
    Key parent, child;
    ASSERT_EQ(createKey(HKEY_LOCAL_MACHINE, u"Software\\Tree", parent), ERROR_SUCCESS);
    ASSERT_EQ(createKey(parent, u"Leaf", child), ERROR_SUCCESS);
    ASSERT_EQ(setString(child, u"v", u"x"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Software\\Tree"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Tree\\Nope"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u""), ERROR_ACCESS_DENIED);

    ASSERT_EQ(RegDeleteKeyA(parent, "LEAF"), ERROR_SUCCESS);
    // The open handle of a deleted key reports it on use but still closes.
    EXPECT_EQ(setString(child, u"v", u"y"), ERROR_KEY_DELETED);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(child, u"v", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
    // Recreating the name makes a new key; the old handle stays dead.
    Key again;
    DWORD disposition = 0;
    ASSERT_EQ(createKey(parent, u"Leaf", again, &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, DWORD(REG_CREATED_NEW_KEY));
    EXPECT_EQ(RegQueryValueExW(again, u"v", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegQueryValueExW(child, u"v", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
    ASSERT_EQ(RegDeleteKeyW(again, u""), ERROR_SUCCESS);  // a key can delete itself
    ASSERT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Software\\Tree"), ERROR_SUCCESS);
}

TEST(Registry, BadHandlesAndArgumentsGetWindowsCodes) {
    HKEY closed = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Handles", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &closed, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegCloseKey(closed), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(closed), ERROR_INVALID_HANDLE);
    EXPECT_EQ(setString(closed, u"v", u"x"), ERROR_INVALID_HANDLE);
    EXPECT_EQ(setString(nullptr, u"v", u"x"), ERROR_INVALID_HANDLE);
    EXPECT_EQ(setString(reinterpret_cast<HKEY>(0x7777), u"v", u"x"), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(nullptr), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
    Key sink;
    EXPECT_EQ(createKey(reinterpret_cast<HKEY>(0x7777), u"x", sink), ERROR_INVALID_HANDLE);

    Key key;
    ASSERT_EQ(createKey(HKEY_LOCAL_MACHINE, u"Software\\Handles", key), ERROR_SUCCESS);
    EXPECT_EQ(RegCreateKeyExW(key, u"x", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, nullptr, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCreateKeyExW(key, u"\\x", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, sink.out(), nullptr),
              ERROR_BAD_PATHNAME);
    EXPECT_EQ(RegSetValueExW(key, u"v", 0, REG_SZ, nullptr, 4), ERROR_NOACCESS);
    BYTE data[8];
    DWORD reserved = 0, size = 8;
    EXPECT_EQ(RegQueryValueExW(key, u"v", &reserved, nullptr, data, &size), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegQueryValueExW(key, u"v", nullptr, nullptr, data, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegQueryValueExA(key, "v", nullptr, nullptr, data, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegQueryValueExW(key, nullptr, nullptr, nullptr, data, &size), ERROR_FILE_NOT_FOUND);

    // A handle opened for reading cannot write, nor one opened for writing read.
    Key reader, writer;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Handles", 0, KEY_READ, reader.out()), ERROR_SUCCESS);
    EXPECT_EQ(setString(reader, u"v", u"x"), ERROR_ACCESS_DENIED);
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Handles", 0, KEY_WRITE, writer.out()), ERROR_SUCCESS);
    EXPECT_EQ(setString(writer, u"v", u"x"), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExW(writer, u"v", nullptr, nullptr, nullptr, &size), ERROR_ACCESS_DENIED);
}

TEST(Registry, EnumeratesKeysAndValuesInNameOrder) {
    Key key, a, b;
    ASSERT_EQ(createKey(HKEY_LOCAL_MACHINE, u"Software\\Enum", key), ERROR_SUCCESS);
    ASSERT_EQ(createKey(key, u"beta", b), ERROR_SUCCESS);
    ASSERT_EQ(createKey(key, u"Alpha", a), ERROR_SUCCESS);
    ASSERT_EQ(setString(key, u"Zed", u"last"), ERROR_SUCCESS);
    ASSERT_EQ(setString(key, u"ant", u"first"), ERROR_SUCCESS);

    WCHAR name[8];
    DWORD length = 5;
    EXPECT_EQ(RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    EXPECT_EQ(length, 5u);
    length = 6;
    ASSERT_EQ(RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(name), u"Alpha");
    length = 8;
    ASSERT_EQ(RegEnumKeyExW(key, 1, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(name), u"beta");
    length = 8;
    EXPECT_EQ(RegEnumKeyExW(key, 2, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);

    BYTE data[32];
    DWORD type = 0, size = 4;
    length = 8;
    EXPECT_EQ(RegEnumValueW(key, 0, name, &length, nullptr, &type, data, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 12u);
    EXPECT_EQ(std::u16string(name), u"ant");
    length = 8;
    size = sizeof(data);
    ASSERT_EQ(RegEnumValueW(key, 1, name, &length, nullptr, &type, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(name), u"Zed");
    EXPECT_EQ(type, DWORD(REG_SZ));
    length = 8;
    EXPECT_EQ(RegEnumValueW(key, 2, name, &length, nullptr, &type, data, &size), ERROR_NO_MORE_ITEMS);
}

}  // namespace
