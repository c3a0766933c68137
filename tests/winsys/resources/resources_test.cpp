// String and version resources of our own modules: the test module built
// from test_messages.inc, the library's image linked into this program, and
// the library itself.
#include <dlfcn.h>
#include <link.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "expected_messages.h"

namespace {

HMODULE loadModule(const char* path, const char* symbol) {
    // Lazily: only the module's resources are wanted, not its calls.
    void* handle = dlopen(path, RTLD_LAZY | RTLD_LOCAL);
    if (!handle) return nullptr;
    Dl_info info{};
    void* address = symbol ? dlsym(handle, symbol) : nullptr;
    if (!address) {
        // Any address inside the module will do: its dynamic section is one.
        link_map* map = nullptr;
        if (dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || !map) return nullptr;
        address = map->l_ld;
    }
    if (!dladdr(address, &info)) return nullptr;
    return static_cast<HMODULE>(info.dli_fbase);
}

HMODULE testModule() {
    static HMODULE module = loadModule(TEST_MODULE_PATH, "winsysResourceTestModule");
    return module;
}

std::u16string windowsPath(const std::string& native) {
    std::u16string out = u"Z:";
    for (char c : native) out += c == '/' ? u'\\' : static_cast<char16_t>(c);
    return out;
}

std::string narrowWindowsPath(const std::string& native) {
    std::string out = "Z:";
    for (char c : native) out += c == '/' ? '\\' : c;
    return out;
}

void expectLibraryMessages(HMODULE module) {
    for (UINT id = 1; id <= 18; ++id) {
        char text[300];
        int length = LoadStringA(module, id, text, 300);
        EXPECT_STREQ(text, kExpectedMessages[id - 1]) << "message " << id;
        EXPECT_EQ(length, static_cast<int>(std::strlen(kExpectedMessages[id - 1])));
    }
    char text[300];
    EXPECT_EQ(LoadStringA(module, 19, text, 300), 0);
    EXPECT_EQ(LoadStringA(module, 0, text, 300), 0);
}

TEST(LoadString, ReadsTheLibraryTextsFromTheMainProgram) { expectLibraryMessages(nullptr); }

TEST(LoadString, ReadsTheLibraryTextsFromTheLibrary) {
    HMODULE library = loadModule(LIBRARY_PATH, nullptr);
    ASSERT_NE(library, nullptr) << dlerror();
    expectLibraryMessages(library);
}

TEST(LoadString, WideCopiesTruncatesAndTerminates) {
    ASSERT_NE(testModule(), nullptr);
    WCHAR text[64];
    EXPECT_EQ(LoadStringW(testModule(), 1, text, 64), 18);
    EXPECT_EQ(std::u16string(text), u"First test string.");
    EXPECT_EQ(LoadStringW(testModule(), 17, text, 64), 20);
    EXPECT_EQ(std::u16string(text), u"In the second block.");
    EXPECT_EQ(LoadStringW(testModule(), 2, text, 64), 8);
    EXPECT_EQ(std::u16string(text), u"Caf\u00e9 \u20ac 5");

    EXPECT_EQ(LoadStringW(testModule(), 1, text, 6), 5);
    EXPECT_EQ(std::u16string(text), u"First");
    EXPECT_EQ(LoadStringW(testModule(), 1, text, 1), 0);
    EXPECT_EQ(text[0], 0);

    // An empty entry of a present block gives an empty text; a missing block
    // leaves the buffer alone.
    text[0] = u'x';
    EXPECT_EQ(LoadStringW(testModule(), 18, text, 64), 0);
    EXPECT_EQ(text[0], 0);
    text[0] = u'x';
    EXPECT_EQ(LoadStringW(testModule(), 100, text, 64), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_RESOURCE_NAME_NOT_FOUND));
    EXPECT_EQ(text[0], u'x');
    EXPECT_EQ(LoadStringW(testModule(), 1, nullptr, 64), 0);
}

TEST(LoadString, WideWithSizeZeroGivesAReadOnlyPointer) {
    const WCHAR* text = nullptr;
    int length = LoadStringW(testModule(), 4, reinterpret_cast<LPWSTR>(&text), 0);
    ASSERT_EQ(length, 20);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::u16string(text, length), u"Line one\n\tline two\n\n");
}

TEST(LoadString, NarrowCountsBytesAndNeverSplitsACharacter) {
    char text[64];
    EXPECT_EQ(LoadStringA(testModule(), 2, text, 64), 11);  // é is 2 bytes, € is 3
    EXPECT_STREQ(text, "Caf\xc3\xa9 \xe2\x82\xac 5");
    EXPECT_EQ(LoadStringA(testModule(), 2, text, 5), 3);  // the cut falls inside é
    EXPECT_STREQ(text, "Caf");
    EXPECT_EQ(LoadStringA(testModule(), 2, text, 6), 5);
    EXPECT_STREQ(text, "Caf\xc3\xa9");
    EXPECT_EQ(LoadStringA(testModule(), 1, text, 6), 5);
    EXPECT_STREQ(text, "First");
    // A missing entry still terminates the buffer.
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(LoadStringA(testModule(), 3, text, 64), 0);
    EXPECT_EQ(text[0], 0);
    text[0] = 'x';
    EXPECT_EQ(LoadStringA(testModule(), 1, text, 0), 0);
    EXPECT_EQ(text[0], 'x');
}

TEST(LoadString, ReadsAModuleThatLoadLibraryLoaded) {
    std::u16string path = windowsPath(TEST_MODULE_PATH);
    HMODULE module = LoadLibraryW(path.c_str());
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(module, testModule());
    char text[64];
    EXPECT_EQ(LoadStringA(module, 17, text, 64), 20);
    EXPECT_STREQ(text, "In the second block.");
    FreeLibrary(module);
}

TEST(LoadString, AnUnknownModuleFindsNothing) {
    int local = 0;
    char text[8] = "x";
    EXPECT_EQ(LoadStringA(reinterpret_cast<HMODULE>(&local), 1, text, 8), 0);
    EXPECT_EQ(text[0], 0);
}

TEST(VersionInfo, ReadsTheVersionOfAnElfModule) {
    std::u16string path = windowsPath(TEST_MODULE_PATH);
    DWORD handle = 99;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    EXPECT_EQ(handle, 0u);
    ASSERT_GT(size, 0u);
    std::string block(size, '\0');
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));
    uint16_t rootLength = static_cast<uint8_t>(block[0]) | static_cast<uint8_t>(block[1]) << 8;
    EXPECT_EQ(size, rootLength * 2u + 4);

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), u"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(length, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(fixed->dwSignature, DWORD(VS_FFI_SIGNATURE));
    EXPECT_EQ(fixed->dwFileVersionMS, DWORD(0x00010002));
    EXPECT_EQ(fixed->dwFileVersionLS, DWORD(0x00030004));

    DWORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(block.data(), u"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                               &length));
    EXPECT_EQ(length, 4u);
    EXPECT_EQ(*translation, DWORD(0x04B00409));

    WCHAR* wide = nullptr;
    ASSERT_TRUE(VerQueryValueW(block.data(), u"\\StringFileInfo\\040904b0\\ProductName",
                               reinterpret_cast<void**>(&wide), &length));
    EXPECT_EQ(std::u16string(wide), u"winsys test module");
    EXPECT_EQ(length, 19u);  // characters, the terminator included

    char* narrow = nullptr;
    ASSERT_TRUE(VerQueryValueA(block.data(), "StringFileInfo\\040904B0\\fileversion", reinterpret_cast<void**>(&narrow),
                               &length));
    EXPECT_STREQ(narrow, "1.2.3.4");
    EXPECT_EQ(length, 8u);
    // The narrow texts live after the resource, and each keeps its place.
    char* other = nullptr;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\StringFileInfo\\040904b0\\OriginalFilename",
                               reinterpret_cast<void**>(&other), &length));
    EXPECT_STREQ(other, "testmodule.dll");
    EXPECT_STREQ(narrow, "1.2.3.4");
    EXPECT_GE(narrow, block.data() + rootLength);
    EXPECT_LT(other + length, block.data() + size + 1);

    EXPECT_FALSE(VerQueryValueW(block.data(), u"\\StringFileInfo\\040904b0\\Missing", reinterpret_cast<void**>(&wide),
                                &length));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_RESOURCE_TYPE_NOT_FOUND));

    // The narrow forms agree.
    std::string narrowPath = narrowWindowsPath(TEST_MODULE_PATH);
    EXPECT_EQ(GetFileVersionInfoSizeA(narrowPath.c_str(), nullptr), size);
    std::string again(size, '\0');
    ASSERT_TRUE(GetFileVersionInfoA(narrowPath.c_str(), 0, size, again.data()));
    EXPECT_EQ(std::memcmp(again.data(), block.data(), rootLength), 0);
}

// A buffer smaller than GetFileVersionInfoSize asked for holds a shorter
// block, and no query on it reads or writes past the buffer: bait that looks
// like the narrow area's mark lies right after it, and guard bytes must stay.
TEST(VersionInfo, QueriesStayInsideABufferCutShort) {
    std::u16string path = windowsPath(TEST_MODULE_PATH);
    DWORD full = GetFileVersionInfoSizeW(path.c_str(), nullptr);
    ASSERT_GT(full, 8u);
    const std::string bait = "FE2XFE2XFE2XFE2X";
    for (DWORD size = 2; size <= full; ++size) {
        std::string buffer(size, '\0');
        buffer += bait + std::string(full * 2, '\xCC');
        ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, buffer.data())) << size;
        void* value = nullptr;
        UINT length = 0;
        for (const char* sub : {"\\StringFileInfo\\040904b0\\FileVersion",
                                "\\StringFileInfo\\040904b0\\ProductName", "\\"}) {
            if (VerQueryValueA(buffer.data(), sub, &value, &length)) {
                EXPECT_LE(static_cast<char*>(value) + length, buffer.data() + size) << size;
            }
        }
        VerQueryValueW(buffer.data(), u"\\VarFileInfo\\Translation", &value, &length);
        ASSERT_TRUE(buffer.substr(size) == bait + std::string(full * 2, '\xCC'))
            << "written past a buffer of " << size << " bytes";
    }
}

TEST(VersionInfo, TheLibraryCarriesVersion650) {
    std::u16string path = windowsPath(LIBRARY_PATH);
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
    ASSERT_GT(size, 0u);
    std::string block(size, '\0');
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), u"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, DWORD(6 << 16 | 50));
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    char* text = nullptr;
    ASSERT_TRUE(
        VerQueryValueA(block.data(), "\\StringFileInfo\\040904b0\\FileVersion", reinterpret_cast<void**>(&text), &length));
    EXPECT_STREQ(text, "6.50.0.0");
}

class TempDirectory {
public:
    TempDirectory() {
        char pattern[] = "/tmp/winsys-resources-XXXXXX";
        path_ = mkdtemp(pattern);
    }
    ~TempDirectory() { std::filesystem::remove_all(path_); }
    std::string file(const std::string& name, const std::string& content) const {
        std::string p = path_ + "/" + name;
        std::ofstream(p, std::ios::binary | std::ios::trunc) << content;
        return p;
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

TEST(VersionInfo, FilesWithoutVersionsGetWindowsCodes) {
    TempDirectory dir;
    DWORD handle = 5;
    EXPECT_EQ(GetFileVersionInfoSizeW(windowsPath(dir.path() + "/missing.dll").c_str(), &handle), 0u);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(handle, 0u);
    EXPECT_EQ(GetFileVersionInfoSizeW(windowsPath(dir.file("plain.txt", "no module here")).c_str(), nullptr), 0u);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_RESOURCE_DATA_NOT_FOUND));
    EXPECT_EQ(GetFileVersionInfoSizeW(nullptr, nullptr), 0u);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(GetFileVersionInfoSizeA(nullptr, nullptr), 0u);
    // An ELF file without the resource section has no resources at all.
    Dl_info info{};
    ASSERT_TRUE(dladdr(reinterpret_cast<void*>(&GetFileVersionInfoSizeW), &info));
    EXPECT_EQ(GetFileVersionInfoSizeW(windowsPath(info.dli_fname).c_str(), nullptr), 0u);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_RESOURCE_DATA_NOT_FOUND));
    void* out = nullptr;
    EXPECT_FALSE(VerQueryValueW(nullptr, u"\\", &out, nullptr));
}

TEST(VersionInfo, AFileReplacedInPlaceIsReadAnew) {
    TempDirectory dir;
    std::string module;
    {
        std::ifstream in(TEST_MODULE_PATH, std::ios::binary);
        module.assign(std::istreambuf_iterator<char>(in), {});
    }
    std::string path = dir.file("module.so", module);
    std::u16string windows = windowsPath(path);
    ASSERT_GT(GetFileVersionInfoSizeW(windows.c_str(), nullptr), 0u);
    std::filesystem::remove(path);
    dir.file("module.so", "replaced by something without resources");
    EXPECT_EQ(GetFileVersionInfoSizeW(windows.c_str(), nullptr), 0u);
}

// Damaged module files are refused or read partly, never read out of bounds:
// the section table, the section names and the resource image all carry
// offsets.
TEST(VersionInfo, DamagedElfModulesDoNotCrash) {
    std::string original;
    {
        std::ifstream in(TEST_MODULE_PATH, std::ios::binary);
        original.assign(std::istreambuf_iterator<char>(in), {});
    }
    size_t image = original.find(std::string("\xff\xff\x06\x00", 4));  // the first string-table entry
    ASSERT_NE(image, std::string::npos);
    uint64_t sectionTable = 0;
    std::memcpy(&sectionTable, original.data() + 0x28, 8);
    TempDirectory dir;
    uint32_t seed = 777;
    auto next = [&] { return seed = seed * 1103515245u + 12345u; };
    const size_t targets[] = {image - 8, static_cast<size_t>(sectionTable), 0};
    for (int round = 0; round < 300; ++round) {
        std::string damaged = original;
        size_t base = targets[round % 3];
        size_t span = round % 3 == 2 ? 64 : 1024;
        for (int flips = 0; flips < 6; ++flips) {
            size_t at = base + next() % span;
            if (at < damaged.size()) damaged[at] = static_cast<char>(next());
        }
        if (round % 5 == 0) damaged.resize(next() % damaged.size());
        std::string path = dir.file("damaged" + std::to_string(round) + ".so", damaged);
        std::u16string windows = windowsPath(path);
        DWORD size = GetFileVersionInfoSizeW(windows.c_str(), nullptr);
        if (size == 0) continue;
        std::string block(size, '\0');
        if (!GetFileVersionInfoW(windows.c_str(), 0, size, block.data())) continue;
        void* value = nullptr;
        UINT length = 0;
        VerQueryValueA(block.data(), "\\StringFileInfo\\040904b0\\FileVersion", &value, &length);
    }
}

}  // namespace
