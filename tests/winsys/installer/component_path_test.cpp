// Component key paths and their install states: files and folders that come
// and go, registry key paths, source paths, unknown and malformed codes, and
// the buffer rules.
#include <windows.h>

#include "installer_test_support.h"

using namespace installer_test;
using winsys::installer::registerProduct;
using winsys::installer::unregisterProduct;

namespace {

constexpr char16_t kProduct[] = u"{6C3B2A19-0E4D-4F5A-8B7C-9D0E1F2A3B4C}";
constexpr char16_t kFile[] = u"{11111111-2222-3333-4444-000000000001}";
constexpr char16_t kFolder[] = u"{11111111-2222-3333-4444-000000000002}";
constexpr char16_t kRegValue[] = u"{11111111-2222-3333-4444-000000000003}";
constexpr char16_t kRegKey[] = u"{11111111-2222-3333-4444-000000000004}";
constexpr char16_t kSource[] = u"{11111111-2222-3333-4444-000000000005}";
constexpr char16_t kDisabled[] = u"{11111111-2222-3333-4444-000000000006}";

struct Answer {
    INSTALLSTATE state;
    std::u16string path;
};

Answer pathOf(const char16_t* component) {
    WCHAR buffer[MAX_PATH] = u"";
    DWORD count = MAX_PATH;
    INSTALLSTATE state = MsiGetComponentPathW(kProduct, component, buffer, &count);
    return {state, std::u16string(buffer)};
}

class ComponentPath : public ::testing::Test {
  protected:
    void SetUp() override {
        prefix();
        makeFile("Sample/bin/app.exe");
        makeFile("media/sub/readme.txt");
        auto product = sampleProduct(kProduct);
        product.components = {
            {kFile, u"C:\\Sample\\bin\\app.exe"},
            {kFolder, u"C:\\Sample\\data\\"},
            {kRegValue, u"02:\\Software\\Sample Maker\\Sample\\InstallDir"},
            {kRegKey, u"02:\\Software\\Sample Maker\\Sample\\"},
            {kSource, u"01\\sub\\readme.txt"},
            {kDisabled, u""},
        };
        ASSERT_EQ(registerProduct(product), ERROR_SUCCESS);
    }
    void TearDown() override {
        unregisterProduct(kProduct);
        std::filesystem::remove_all(onDriveC("Sample"));
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Software\\Sample Maker\\Sample");
    }
};

}  // namespace

TEST_F(ComponentPath, FileStateFollowsTheFile) {
    Answer a = pathOf(kFile);
    EXPECT_EQ(a.state, INSTALLSTATE_LOCAL);
    EXPECT_EQ(a.path, u"C:\\Sample\\bin\\app.exe");
    std::filesystem::remove(onDriveC("Sample/bin/app.exe"));
    a = pathOf(kFile);
    EXPECT_EQ(a.state, INSTALLSTATE_ABSENT);
    EXPECT_EQ(a.path, u"C:\\Sample\\bin\\app.exe");
}

TEST_F(ComponentPath, FolderStateFollowsTheFolder) {
    EXPECT_EQ(pathOf(kFolder).state, INSTALLSTATE_ABSENT);
    std::filesystem::create_directories(onDriveC("Sample/data"));
    Answer a = pathOf(kFolder);
    EXPECT_EQ(a.state, INSTALLSTATE_LOCAL);
    EXPECT_EQ(a.path, u"C:\\Sample\\data\\");
}

TEST_F(ComponentPath, RegistryKeyPaths) {
    EXPECT_EQ(pathOf(kRegValue).state, INSTALLSTATE_ABSENT);
    EXPECT_EQ(pathOf(kRegKey).state, INSTALLSTATE_ABSENT);
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Sample Maker\\Sample", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(pathOf(kRegKey).state, INSTALLSTATE_LOCAL);
    EXPECT_EQ(pathOf(kRegValue).state, INSTALLSTATE_ABSENT);  // the key alone is not the value
    const char16_t dir[] = u"C:\\Sample\\";
    RegSetValueExW(key, u"InstallDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(dir), sizeof dir);
    RegCloseKey(key);
    Answer a = pathOf(kRegValue);
    EXPECT_EQ(a.state, INSTALLSTATE_LOCAL);
    EXPECT_EQ(a.path, u"02:\\Software\\Sample Maker\\Sample\\InstallDir");
}

TEST_F(ComponentPath, SourceAndDisabledComponents) {
    Answer a = pathOf(kSource);
    EXPECT_EQ(a.state, INSTALLSTATE_SOURCE);
    EXPECT_EQ(a.path, u"C:\\media\\sub\\readme.txt");
    std::filesystem::remove(onDriveC("media/sub/readme.txt"));
    EXPECT_EQ(pathOf(kSource).state, INSTALLSTATE_SOURCEABSENT);
    EXPECT_EQ(pathOf(kDisabled).state, INSTALLSTATE_NOTUSED);
}

TEST_F(ComponentPath, UnknownAndMalformed) {
    WCHAR buffer[MAX_PATH];
    DWORD count = MAX_PATH;
    EXPECT_EQ(
        MsiGetComponentPathW(kProduct, u"{11111111-2222-3333-4444-0000000000FF}", buffer, &count),
        INSTALLSTATE_UNKNOWN);
    EXPECT_EQ(count, DWORD(MAX_PATH));  // untouched
    EXPECT_EQ(
        MsiGetComponentPathW(u"{00000000-0000-0000-0000-000000000000}", kFile, buffer, &count),
        INSTALLSTATE_UNKNOWN);
    EXPECT_EQ(MsiGetComponentPathW(nullptr, kFile, buffer, &count), INSTALLSTATE_INVALIDARG);
    EXPECT_EQ(MsiGetComponentPathW(kProduct, nullptr, buffer, &count), INSTALLSTATE_INVALIDARG);
    EXPECT_EQ(MsiGetComponentPathW(u"bogus", kFile, buffer, &count), INSTALLSTATE_INVALIDARG);
    EXPECT_EQ(MsiGetComponentPathW(kProduct, u"{00000000-0000-0000-000000000000}", buffer, &count),
              INSTALLSTATE_INVALIDARG);
    EXPECT_EQ(MsiGetComponentPathW(kProduct, kFile, buffer, nullptr), INSTALLSTATE_INVALIDARG);
    EXPECT_EQ(count, DWORD(MAX_PATH));
}

TEST_F(ComponentPath, BufferRules) {
    const std::u16string path = u"C:\\Sample\\bin\\app.exe";
    DWORD count = 0;
    EXPECT_EQ(MsiGetComponentPathW(kProduct, kFile, nullptr, &count), INSTALLSTATE_LOCAL);
    EXPECT_EQ(count, path.size());
    EXPECT_EQ(MsiGetComponentPathW(kProduct, kFile, nullptr, nullptr), INSTALLSTATE_LOCAL);
    // Too small: as much as fits, terminated, and the full length.
    WCHAR buffer[8];
    count = 8;
    EXPECT_EQ(MsiGetComponentPathW(kProduct, kFile, buffer, &count), INSTALLSTATE_MOREDATA);
    EXPECT_EQ(count, path.size());
    EXPECT_EQ(std::u16string(buffer), path.substr(0, 7));
    char narrow[MAX_PATH];
    count = MAX_PATH;
    EXPECT_EQ(MsiGetComponentPathA("{6C3B2A19-0E4D-4F5A-8B7C-9D0E1F2A3B4C}",
                                   "{11111111-2222-3333-4444-000000000001}", narrow, &count),
              INSTALLSTATE_LOCAL);
    EXPECT_STREQ(narrow, "C:\\Sample\\bin\\app.exe");
    EXPECT_EQ(count, path.size());
}

TEST_F(ComponentPath, NothingIsLocalOnceTheProductIsGone) {
    // A component value left behind by a product whose keys are gone.
    HKEY key = nullptr;
    std::u16string componentKey =
        u"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components\\"
        u"11111111222233334444000000000009";
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, componentKey.c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const char16_t orphanPath[] = u"C:\\Sample\\bin\\app.exe";
    const char16_t packedOrphan[] = u"00000000000000000000009900000000";
    RegSetValueExW(key, packedOrphan, 0, REG_SZ, reinterpret_cast<const BYTE*>(orphanPath),
                   sizeof orphanPath);
    RegCloseKey(key);
    WCHAR buffer[MAX_PATH];
    DWORD count = MAX_PATH;
    EXPECT_EQ(MsiGetComponentPathW(u"{00000000-0000-0000-0000-009900000000}",
                                   u"{11111111-2222-3333-4444-000000000090}", buffer, &count),
              INSTALLSTATE_ABSENT);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, componentKey.c_str());
}
