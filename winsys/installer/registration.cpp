// Writes and removes a per-machine product registration in Windows
// Installer's registry layout (checked against the layout the peer
// installers write and read):
//   Software\Classes\Installer\Products\<packed product>
//       ProductName, PackageCode (packed), Language, Version, Assignment,
//       AdvertiseFlags, InstanceType, Clients; SourceList\ PackageName,
//       LastUsedSource, Net\1, Media\ 1, DiskPrompt, MediaPackage
//   Software\Classes\Installer\UpgradeCodes\<packed upgrade code> and
//   ...\CurrentVersion\Installer\UpgradeCodes\<packed upgrade code>
//       <packed product> = ""
//   ...\Installer\UserData\S-1-5-18\Products\<packed product>\InstallProperties
//       LocalPackage, DisplayName, DisplayVersion, Publisher, InstallLocation,
//       InstallSource, InstallDate, Version, VersionMajor, VersionMinor,
//       Language, WindowsInstaller, UninstallString, ModifyPath, NoModify, ...
//   ...\Installer\UserData\S-1-5-18\Components\<packed component>
//       <packed product> = key path
//   Software\Microsoft\Windows\CurrentVersion\Uninstall\{product}
//       the same display values as InstallProperties
#include "installer/registration.h"

#include <ctime>

#include "installer/guid_text.h"
#include "installer/installer_keys.h"

namespace winsys::installer {

namespace {

std::u16string installDateToday() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[16];
    std::strftime(text, sizeof text, "%Y%m%d", &local);
    return std::u16string(text, text + std::char_traits<char>::length(text));
}

unsigned versionField(std::u16string_view version, int index) {
    unsigned value = 0;
    int field = 0;
    for (char16_t c : version) {
        if (c == u'.') {
            if (++field > index)
                break;
            continue;
        }
        if (field == index && c >= u'0' && c <= u'9')
            value = value * 10 + (c - u'0');
    }
    return value;
}

// The display values Windows puts both in InstallProperties and in the
// Uninstall entry.
LONG writeDisplayValues(HKEY key, const ProductRegistration& p, std::u16string_view date) {
    DWORD packed = packedProductVersion(p.productVersion);
    std::u16string uninstall = u"MsiExec.exe /X" + p.productCode;
    std::u16string modify = u"MsiExec.exe /I" + p.productCode;
    LONG r = ERROR_SUCCESS;
    auto text = [&](std::u16string_view name, std::u16string_view value, DWORD type = REG_SZ) {
        if (r == ERROR_SUCCESS)
            r = writeText(key, name, value, type);
    };
    auto number = [&](std::u16string_view name, DWORD value) {
        if (r == ERROR_SUCCESS)
            r = writeDword(key, name, value);
    };
    text(u"AuthorizedCDFPrefix", u"");
    text(u"Comments", u"");
    text(u"Contact", u"");
    text(u"DisplayName", p.productName);
    text(u"DisplayVersion", p.productVersion);
    text(u"HelpLink", u"");
    text(u"HelpTelephone", u"");
    text(u"InstallDate", date);
    text(u"InstallLocation", p.installLocation);
    text(u"InstallSource", p.installSource);
    number(u"EstimatedSize", p.estimatedSizeKb);
    text(u"ModifyPath", modify, REG_EXPAND_SZ);
    number(u"NoModify", 1);
    text(u"Publisher", p.manufacturer);
    text(u"Readme", u"");
    text(u"Size", u"");
    text(u"UninstallString", uninstall, REG_EXPAND_SZ);
    text(u"URLInfoAbout", u"");
    text(u"URLUpdateInfo", u"");
    number(u"Language", p.language);
    number(u"Version", packed);
    number(u"VersionMajor", packed >> 24);
    number(u"VersionMinor", (packed >> 16) & 0xFF);
    number(u"WindowsInstaller", 1);
    return r;
}

LONG writeAdvertisedData(const ProductRegistration& p, std::u16string_view packedProduct,
                         std::u16string_view packedPackage) {
    RegKey key;
    LONG r = key.create(HKEY_LOCAL_MACHINE, classesProductKey(packedProduct));
    auto text = [&](std::u16string_view name, std::u16string_view value) {
        if (r == ERROR_SUCCESS)
            r = writeText(key.get(), name, value);
    };
    auto number = [&](std::u16string_view name, DWORD value) {
        if (r == ERROR_SUCCESS)
            r = writeDword(key.get(), name, value);
    };
    text(u"ProductName", p.productName);
    text(u"PackageCode", packedPackage);
    number(u"Language", p.language);
    number(u"Version", packedProductVersion(p.productVersion));
    number(u"Assignment", 1);  // per-machine
    number(u"AdvertiseFlags", 0x184);
    number(u"InstanceType", 0);
    number(u"AuthorizedLUAApp", 0);
    if (r == ERROR_SUCCESS)
        r = writeMultiText(key.get(), u"Clients", {u":"});
    if (r != ERROR_SUCCESS)
        return r;

    RegKey sources;
    r = sources.create(key.get(), u"SourceList");
    if (r == ERROR_SUCCESS)
        r = writeText(sources.get(), u"PackageName", p.packageName);
    if (r == ERROR_SUCCESS)
        r = writeText(sources.get(), u"LastUsedSource", u"n;1;" + p.installSource);
    RegKey net;
    if (r == ERROR_SUCCESS)
        r = net.create(sources.get(), u"Net");
    if (r == ERROR_SUCCESS)
        r = writeText(net.get(), u"1", p.installSource, REG_EXPAND_SZ);
    RegKey media;
    if (r == ERROR_SUCCESS)
        r = media.create(sources.get(), u"Media");
    if (r == ERROR_SUCCESS)
        r = writeText(media.get(), u"1", u";");
    if (r == ERROR_SUCCESS)
        r = writeText(media.get(), u"DiskPrompt", u"");
    if (r == ERROR_SUCCESS)
        r = writeText(media.get(), u"MediaPackage", u"");
    return r;
}

std::u16string upgradeKey(std::u16string_view root, std::u16string_view packedUpgrade) {
    std::u16string name(root);
    name += u'\\';
    name += packedUpgrade;
    return name;
}

LONG writeUpgradeCode(std::u16string_view packedUpgrade, std::u16string_view packedProduct) {
    for (auto root : {kClassesUpgradeCodes, kInstallerUpgradeCodes}) {
        RegKey key;
        LONG r = key.create(HKEY_LOCAL_MACHINE, upgradeKey(root, packedUpgrade));
        if (r == ERROR_SUCCESS)
            r = writeText(key.get(), packedProduct, u"");
        if (r != ERROR_SUCCESS)
            return r;
    }
    return ERROR_SUCCESS;
}

LONG writeUserData(const ProductRegistration& p, std::u16string_view packedProduct,
                   std::u16string_view date) {
    RegKey props;
    LONG r = props.create(HKEY_LOCAL_MACHINE, installPropertiesKey(packedProduct));
    if (r == ERROR_SUCCESS)
        r = writeText(props.get(), u"LocalPackage", p.localPackage);
    if (r == ERROR_SUCCESS)
        r = writeDisplayValues(props.get(), p, date);
    return r;
}

LONG writeUninstallEntry(const ProductRegistration& p, std::u16string_view date) {
    RegKey entry;
    std::u16string name(kUninstallRoot);
    name += u'\\';
    name += p.productCode;
    LONG r = entry.create(HKEY_LOCAL_MACHINE, name);
    if (r == ERROR_SUCCESS)
        r = writeDisplayValues(entry.get(), p, date);
    return r;
}

LONG writeComponents(const ProductRegistration& p, std::u16string_view packedProduct) {
    for (const auto& component : p.components) {
        auto packed = squishGuid(component.componentId);
        RegKey key;
        LONG r = key.create(HKEY_LOCAL_MACHINE, userDataComponentKey(*packed));
        if (r == ERROR_SUCCESS)
            r = writeText(key.get(), packedProduct, component.keyPath);
        if (r != ERROR_SUCCESS)
            return r;
    }
    return ERROR_SUCCESS;
}

// Takes the value named out of every child of parent (components, upgrade
// codes), and drops the children no other product refers to any more.
void removeValueFromChildren(std::u16string_view parent, std::u16string_view name) {
    RegKey children;
    if (children.open(HKEY_LOCAL_MACHINE, parent, KEY_ALL_ACCESS) != ERROR_SUCCESS)
        return;
    std::u16string valueName(name);
    for (DWORD index = 0;;) {
        WCHAR child[256];
        DWORD length = 256;
        if (RegEnumKeyExW(children.get(), index, child, &length, nullptr, nullptr, nullptr,
                          nullptr) != ERROR_SUCCESS)
            break;
        std::u16string childName(child, length);
        RegKey key;
        bool removedKey = false;
        if (key.open(children.get(), childName, KEY_ALL_ACCESS) == ERROR_SUCCESS &&
            RegDeleteValueW(key.get(), valueName.c_str()) == ERROR_SUCCESS) {
            WCHAR any[64];
            DWORD anyLength = 64;
            bool empty = RegEnumValueW(key.get(), 0, any, &anyLength, nullptr, nullptr, nullptr,
                                       nullptr) == ERROR_NO_MORE_ITEMS;
            key.reset();
            if (empty)
                removedKey = RegDeleteKeyW(children.get(), childName.c_str()) == ERROR_SUCCESS;
        }
        if (!removedKey)
            ++index;
    }
}

void removeProductKeys(std::u16string_view productCode, std::u16string_view packedProduct) {
    deleteTree(HKEY_LOCAL_MACHINE, classesProductKey(packedProduct));
    deleteTree(HKEY_LOCAL_MACHINE, userDataProductKey(packedProduct));
    std::u16string uninstall(kUninstallRoot);
    uninstall += u'\\';
    uninstall += productCode;
    deleteTree(HKEY_LOCAL_MACHINE, uninstall);
    removeValueFromChildren(std::u16string(kUserDataRoot) + u"\\Components", packedProduct);
    removeValueFromChildren(kClassesUpgradeCodes, packedProduct);
    removeValueFromChildren(kInstallerUpgradeCodes, packedProduct);
}

}  // namespace

DWORD packedProductVersion(std::u16string_view version) {
    return ((versionField(version, 0) & 0xFF) << 24) | ((versionField(version, 1) & 0xFF) << 16) |
           (versionField(version, 2) & 0xFFFF);
}

bool isProductRegistered(std::u16string_view productCode) {
    auto packed = squishGuid(productCode);
    if (!packed)
        return false;
    return keyExists(HKEY_LOCAL_MACHINE, classesProductKey(*packed)) ||
           keyExists(HKEY_LOCAL_MACHINE, userDataProductKey(*packed));
}

LONG registerProduct(const ProductRegistration& product) {
    auto packedProduct = squishGuid(product.productCode);
    auto packedPackage = squishGuid(product.packageCode);
    if (!packedProduct || !packedPackage)
        return ERROR_INVALID_PARAMETER;
    std::optional<std::u16string> packedUpgrade;
    if (!product.upgradeCode.empty() && !(packedUpgrade = squishGuid(product.upgradeCode)))
        return ERROR_INVALID_PARAMETER;
    for (const auto& component : product.components)
        if (!isGuidText(component.componentId))
            return ERROR_INVALID_PARAMETER;
    if (isProductRegistered(product.productCode))
        return ERROR_PRODUCT_VERSION;

    std::u16string date = installDateToday();
    LONG r = writeComponents(product, *packedProduct);
    if (r == ERROR_SUCCESS)
        r = writeUserData(product, *packedProduct, date);
    if (r == ERROR_SUCCESS)
        r = writeUninstallEntry(product, date);
    if (r == ERROR_SUCCESS && packedUpgrade)
        r = writeUpgradeCode(*packedUpgrade, *packedProduct);
    // The advertised key, which the queries look for first, goes last.
    if (r == ERROR_SUCCESS)
        r = writeAdvertisedData(product, *packedProduct, *packedPackage);
    if (r != ERROR_SUCCESS)
        removeProductKeys(product.productCode, *packedProduct);
    return r;
}

LONG unregisterProduct(std::u16string_view productCode) {
    auto packed = squishGuid(productCode);
    if (!packed)
        return ERROR_INVALID_PARAMETER;
    if (!isProductRegistered(productCode))
        return ERROR_UNKNOWN_PRODUCT;
    // The upper-case braced form names the Uninstall entry.
    removeProductKeys(*unsquishGuid(*packed), *packed);
    return ERROR_SUCCESS;
}

}  // namespace winsys::installer
