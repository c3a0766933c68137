// The registry layout qltmsi install writes, next to the one Wine's own
// installer writes for the same package (wine msiexec /i, in a Wine prefix of
// the test's own): the same component key paths under the same packed codes,
// and no InstallProperties or advertised value of Wine's missing from ours.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "winsys/kernel/test_prefix.h"

namespace fs = std::filesystem;

namespace {

// One key of a Wine registry file: value name -> value as written there.
using RegFileKey = std::map<std::string, std::string>;

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

// Un-escapes a quoted Wine registry text ("a\\b" -> a\b).
std::string unquote(const std::string& text) {
    std::string out;
    for (size_t i = 1; i + 1 < text.size(); ++i) {
        if (text[i] == '\\' && i + 2 < text.size())
            ++i;
        out += text[i];
    }
    return out;
}

// Keys of system.reg by lower-case name with single backslashes.
std::map<std::string, RegFileKey> readWineRegistry(const std::string& path) {
    std::map<std::string, RegFileKey> keys;
    std::ifstream in(path);
    std::string line;
    RegFileKey* current = nullptr;
    while (std::getline(in, line)) {
        if (line.size() > 1 && line[0] == '[') {
            std::string name = line.substr(1, line.find(']') - 1), plain;
            for (size_t i = 0; i < name.size(); ++i) {
                if (name[i] == '\\' && i + 1 < name.size() && name[i + 1] == '\\')
                    ++i;
                plain += name[i];
            }
            current = &keys[lower(plain)];
        } else if (current && line.size() > 1 && line[0] == '"') {
            size_t end = line.find("\"=");
            if (end == std::string::npos)
                continue;
            std::string value = line.substr(end + 2);
            if (value.rfind("str(", 0) == 0)
                value = value.substr(value.find(':') + 1);
            if (!value.empty() && value[0] == '"')
                value = unquote(value);
            (*current)[lower(line.substr(1, end - 1))] = value;
        }
    }
    return keys;
}

// A key of our registry: value names (lower case) -> text of string values.
RegFileKey readOurKey(const std::u16string& name) {
    RegFileKey values;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, name.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return values;
    for (DWORD index = 0;; ++index) {
        WCHAR valueName[256];
        DWORD nameLength = 256, type = 0;
        BYTE data[1024];
        DWORD size = sizeof data;
        if (RegEnumValueW(key, index, valueName, &nameLength, nullptr, &type, data, &size) !=
            ERROR_SUCCESS)
            break;
        std::string text;
        if (type == REG_SZ || type == REG_EXPAND_SZ)
            for (DWORD i = 0; i + 3 < size; i += 2)
                text += char(data[i]);
        else if (type == REG_DWORD) {
            char hex[16];
            std::snprintf(hex, sizeof hex, "dword:%08x", *reinterpret_cast<DWORD*>(data));
            text = hex;
        }
        values[lower(std::string(valueName, valueName + nameLength))] = text;
    }
    RegCloseKey(key);
    return values;
}

int shell(const std::string& command) {
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

const std::string kPackedProduct = "42B9E1C7A5D386F4A9B0C2D4E6F8A0B1";
const std::u16string kPackedProductW = u"42B9E1C7A5D386F4A9B0C2D4E6F8A0B1";
const char* const kPackedComponents[] = {"2B2B2B2B000000040800000000000010",
                                         "2B2B2B2B000000040800000000000020"};

}  // namespace

TEST(WineLayout, SameKeysAsWinesInstaller) {
    winsys_test::TestPrefix prefix;
    const fs::path work = fs::path(prefix.root()) / "work";
    const fs::path wine = fs::path(prefix.root()) / "wine";
    fs::create_directories(work);
    winsys_test::writeFile((work / "tool.exe").string(), "tool bytes\n");
    winsys_test::writeFile((work / "guide.txt").string(), "guide\n");
    winsys_test::writeFile((work / "notes.txt").string(), "notes\n");
    const std::string cd = "cd '" + work.string() + "' && ";
    ASSERT_EQ(shell(cd + "wixl -o external.msi " QLTMSI_TEST_DATA "/external.wxs 2>/dev/null"), 0);
    ASSERT_EQ(shell(cd + "gcab -c -z external.cab tool.exe guide.txt notes.txt >/dev/null"), 0);

    const std::string wineEnv = "WINEPREFIX='" + wine.string() + "' WINEDEBUG=-all ";
    ASSERT_EQ(shell(cd + wineEnv + "wine msiexec /i external.msi /qn >/dev/null 2>&1"), 0);
    shell(wineEnv + "wineserver -w");
    ASSERT_EQ(shell(cd + "'" QLTMSI_PROGRAM "' install external.msi"), 0);

    auto wineKeys = readWineRegistry((wine / "system.reg").string());
    const std::string userData =
        lower("Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\");
    const std::u16string ourUserData =
        u"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\";

    for (const char* component : kPackedComponents) {
        const auto& theirs = wineKeys[userData + lower("Components\\" + std::string(component))];
        auto ours =
            readOurKey(ourUserData + u"Components\\" + std::u16string(component, component + 32));
        ASSERT_TRUE(theirs.count(lower(kPackedProduct))) << component;
        EXPECT_EQ(ours[lower(kPackedProduct)], theirs.at(lower(kPackedProduct))) << component;
    }

    // Every InstallProperties and advertised value Wine writes, we write too,
    // and the values that do not depend on the run agree.
    const auto& theirProps =
        wineKeys[userData + lower("Products\\" + kPackedProduct + "\\InstallProperties")];
    auto ourProps =
        readOurKey(ourUserData + u"Products\\" + kPackedProductW + u"\\InstallProperties");
    ASSERT_FALSE(theirProps.empty());
    for (const auto& [name, value] : theirProps)
        EXPECT_TRUE(ourProps.count(name)) << name;
    for (const char* name : {"displayname", "displayversion", "publisher", "version",
                             "versionmajor", "versionminor", "language", "windowsinstaller"})
        EXPECT_EQ(ourProps[name], theirProps.at(name)) << name;

    const auto& theirClasses =
        wineKeys[lower("Software\\Classes\\Installer\\Products\\" + kPackedProduct)];
    auto ourClasses = readOurKey(u"Software\\Classes\\Installer\\Products\\" + kPackedProductW);
    ASSERT_FALSE(theirClasses.empty());
    for (const auto& [name, value] : theirClasses)
        EXPECT_TRUE(ourClasses.count(name)) << name;
    for (const char* name : {"productname", "packagecode", "language", "version", "advertiseflags"})
        EXPECT_EQ(ourClasses[name], theirClasses.at(name)) << name;
}
