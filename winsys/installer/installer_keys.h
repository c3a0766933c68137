// Where Windows Installer keeps a per-machine product under HKEY_LOCAL_MACHINE,
// and small registry readers shared by the query calls.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace winsys::installer {

// The local system's user-data root, where per-machine installs live.
inline constexpr std::u16string_view kUserDataRoot =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18";
// Advertised product data (name, package code, language, source list).
inline constexpr std::u16string_view kClassesProducts = u"Software\\Classes\\Installer\\Products";
// Add/remove programs' entries, keyed by the braced product code.
inline constexpr std::u16string_view kUninstallRoot =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
// Products by upgrade code, advertised and installed.
inline constexpr std::u16string_view kClassesUpgradeCodes =
    u"Software\\Classes\\Installer\\UpgradeCodes";
inline constexpr std::u16string_view kInstallerUpgradeCodes =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UpgradeCodes";

// Key names below HKEY_LOCAL_MACHINE; arguments are packed GUIDs.
std::u16string userDataProductKey(std::u16string_view packedProduct);
std::u16string installPropertiesKey(std::u16string_view packedProduct);
std::u16string userDataComponentKey(std::u16string_view packedComponent);
std::u16string classesProductKey(std::u16string_view packedProduct);

// An open key that closes itself.
class RegKey {
  public:
    RegKey() = default;
    ~RegKey() { reset(); }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    RegKey(RegKey&& other) noexcept : key_(other.key_) { other.key_ = nullptr; }
    RegKey& operator=(RegKey&& other) noexcept;

    // ERROR_SUCCESS or the registry's error.
    LONG open(HKEY root, std::u16string_view subKey, REGSAM access = KEY_READ);
    LONG create(HKEY root, std::u16string_view subKey);
    void reset();
    explicit operator bool() const { return key_ != nullptr; }
    HKEY get() const { return key_; }

  private:
    HKEY key_ = nullptr;
};

bool keyExists(HKEY root, std::u16string_view subKey);

// A value as text: REG_SZ/REG_EXPAND_SZ as stored (without the terminator),
// REG_DWORD as its signed decimal, as the installer reports it. Nullopt when
// the value is absent or of another type.
std::optional<std::u16string> readText(HKEY key, std::u16string_view name);
std::optional<DWORD> readDword(HKEY key, std::u16string_view name);

LONG writeText(HKEY key, std::u16string_view name, std::u16string_view value, DWORD type = REG_SZ);
LONG writeDword(HKEY key, std::u16string_view name, DWORD value);
// REG_MULTI_SZ from its items.
LONG writeMultiText(HKEY key, std::u16string_view name,
                    std::initializer_list<std::u16string_view> items);

// Deletes a key with everything under it; absent keys are not an error.
void deleteTree(HKEY root, std::u16string_view subKey);

}  // namespace winsys::installer
