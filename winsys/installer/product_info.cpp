// MsiGetProductInfo and MsiEnumProducts over the per-machine registration.
// Which key answers which property, and the order of the checks (argument,
// then property name, then product), follow Windows Installer: the
// install-time properties come from UserData\...\InstallProperties, the
// advertised ones from Classes\Installer\Products.
#include <msi.h>

#include <array>
#include <optional>
#include <string_view>

#include "installer/caller_buffers.h"
#include "installer/guid_text.h"
#include "installer/installer_keys.h"

namespace winsys::installer {

namespace {

enum class Source { InstallProperties, Advertised, SourceList };

struct PropertyRow {
    std::u16string_view property;  // the name callers pass
    Source source;
    std::u16string_view valueName;  // the registry value that holds it
};

constexpr std::array kProperties = {
    PropertyRow{u"HelpLink", Source::InstallProperties, u"HelpLink"},
    PropertyRow{u"HelpTelephone", Source::InstallProperties, u"HelpTelephone"},
    PropertyRow{u"InstallDate", Source::InstallProperties, u"InstallDate"},
    PropertyRow{u"InstalledProductName", Source::InstallProperties, u"DisplayName"},
    PropertyRow{u"InstallLocation", Source::InstallProperties, u"InstallLocation"},
    PropertyRow{u"InstallSource", Source::InstallProperties, u"InstallSource"},
    PropertyRow{u"LocalPackage", Source::InstallProperties, u"LocalPackage"},
    PropertyRow{u"Publisher", Source::InstallProperties, u"Publisher"},
    PropertyRow{u"URLInfoAbout", Source::InstallProperties, u"URLInfoAbout"},
    PropertyRow{u"URLUpdateInfo", Source::InstallProperties, u"URLUpdateInfo"},
    PropertyRow{u"VersionMinor", Source::InstallProperties, u"VersionMinor"},
    PropertyRow{u"VersionMajor", Source::InstallProperties, u"VersionMajor"},
    PropertyRow{u"VersionString", Source::InstallProperties, u"DisplayVersion"},
    PropertyRow{u"ProductID", Source::InstallProperties, u"ProductID"},
    PropertyRow{u"RegCompany", Source::InstallProperties, u"RegCompany"},
    PropertyRow{u"RegOwner", Source::InstallProperties, u"RegOwner"},
    PropertyRow{u"InstanceType", Source::Advertised, u"InstanceType"},
    PropertyRow{u"Transforms", Source::Advertised, u"Transforms"},
    PropertyRow{u"Language", Source::Advertised, u"Language"},
    PropertyRow{u"ProductName", Source::Advertised, u"ProductName"},
    PropertyRow{u"AssignmentType", Source::Advertised, u"Assignment"},
    PropertyRow{u"PackageCode", Source::Advertised, u"PackageCode"},
    PropertyRow{u"Version", Source::Advertised, u"Version"},
    PropertyRow{u"ProductIcon", Source::Advertised, u"ProductIcon"},
    PropertyRow{u"AuthorizedLUAApp", Source::Advertised, u"AuthorizedLUAApp"},
    PropertyRow{u"PackageName", Source::SourceList, u"PackageName"},
};

// Property names are matched exactly, as Windows Installer matches them.
const PropertyRow* findProperty(std::u16string_view name) {
    for (const auto& row : kProperties)
        if (row.property == name)
            return &row;
    return nullptr;
}

// The property's text, or the error the call returns.
UINT lookUp(const WCHAR* product, const WCHAR* attribute, std::u16string& value) {
    auto packed = squishGuid(product);
    if (!packed)
        return ERROR_INVALID_PARAMETER;
    const PropertyRow* row = findProperty(attribute);
    if (!row)
        return ERROR_UNKNOWN_PROPERTY;

    RegKey advertised;
    if (advertised.open(HKEY_LOCAL_MACHINE, classesProductKey(*packed)) != ERROR_SUCCESS)
        return ERROR_UNKNOWN_PRODUCT;

    RegKey key;
    switch (row->source) {
        case Source::InstallProperties:
            if (key.open(HKEY_LOCAL_MACHINE, installPropertiesKey(*packed)) != ERROR_SUCCESS)
                return ERROR_UNKNOWN_PROPERTY;
            break;
        case Source::Advertised:
            key = std::move(advertised);
            break;
        case Source::SourceList:
            if (key.open(advertised.get(), u"SourceList") != ERROR_SUCCESS)
                return ERROR_UNKNOWN_PRODUCT;
            break;
    }
    // A registered product answers an unset property with an empty text.
    value = readText(key.get(), row->valueName).value_or(u"");
    if (row->property == u"PackageCode" && !value.empty() &&
        !readDword(key.get(), row->valueName)) {
        auto braced = unsquishGuid(value);
        if (!braced)
            return ERROR_BAD_CONFIGURATION;
        value = *braced;
    }
    return ERROR_SUCCESS;
}

template <typename Char>
UINT getProductInfo(const WCHAR* product, const WCHAR* attribute, Char* buffer, DWORD* count) {
    if ((buffer && !count) || !product || !attribute)
        return ERROR_INVALID_PARAMETER;
    std::u16string value;
    UINT r = lookUp(product, attribute, value);
    if (r != ERROR_SUCCESS)
        return r;
    return copyWhole(value, buffer, count);
}

// The index-th registered product (in the registry's order of the packed
// codes), skipping keys that are not packed GUIDs.
UINT enumProduct(DWORD index, std::u16string& code) {
    RegKey products;
    if (products.open(HKEY_LOCAL_MACHINE, kClassesProducts) != ERROR_SUCCESS)
        return ERROR_NO_MORE_ITEMS;
    DWORD found = 0;
    for (DWORD i = 0;; ++i) {
        WCHAR name[256];
        DWORD length = 256;
        LONG r =
            RegEnumKeyExW(products.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (r == ERROR_NO_MORE_ITEMS)
            return ERROR_NO_MORE_ITEMS;
        if (r != ERROR_SUCCESS)
            continue;
        auto braced = unsquishGuid(std::u16string_view(name, length));
        if (!braced)
            continue;
        if (found++ == index) {
            code = *braced;
            return ERROR_SUCCESS;
        }
    }
}

}  // namespace

}  // namespace winsys::installer

using namespace winsys::installer;

extern "C" {

WINSYS_EXPORT UINT WINAPI MsiGetProductInfoW(LPCWSTR szProduct, LPCWSTR szAttribute,
                                             LPWSTR lpValueBuf, DWORD* pcchValueBuf) {
    return getProductInfo(szProduct, szAttribute, lpValueBuf, pcchValueBuf);
}

WINSYS_EXPORT UINT WINAPI MsiGetProductInfoA(LPCSTR szProduct, LPCSTR szAttribute, LPSTR lpValueBuf,
                                             DWORD* pcchValueBuf) {
    WideArgument product(szProduct), attribute(szAttribute);
    return getProductInfo(product.get(), attribute.get(), lpValueBuf, pcchValueBuf);
}

WINSYS_EXPORT UINT WINAPI MsiEnumProductsW(DWORD iProductIndex, LPWSTR lpProductBuf) {
    if (!lpProductBuf)
        return ERROR_INVALID_PARAMETER;
    std::u16string code;
    UINT r = enumProduct(iProductIndex, code);
    if (r == ERROR_SUCCESS)
        std::copy_n(code.c_str(), code.size() + 1, lpProductBuf);
    return r;
}

WINSYS_EXPORT UINT WINAPI MsiEnumProductsA(DWORD iProductIndex, LPSTR lpProductBuf) {
    if (!lpProductBuf)
        return ERROR_INVALID_PARAMETER;
    std::u16string code;
    UINT r = enumProduct(iProductIndex, code);
    if (r == ERROR_SUCCESS) {
        std::string narrow = winsys::text::toUtf8(code);
        std::copy_n(narrow.c_str(), narrow.size() + 1, lpProductBuf);
    }
    return r;
}

}  // extern "C"
