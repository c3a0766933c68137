// Registering an installed product the way Windows Installer records a
// per-machine install, for the stand-in install command of POSIX hosts. The
// query calls (MsiGetProductInfoW, MsiGetComponentPathW, MsiEnumProductsW)
// read what this writes; so would Windows Installer's own.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#ifndef ERROR_PRODUCT_VERSION
#define ERROR_PRODUCT_VERSION 1638L
#endif

namespace winsys::installer {

struct ComponentRegistration {
    std::u16string componentId;  // braced GUID
    // What MsiGetComponentPathW answers: a file's path, a folder's path ending
    // in '\', or a registry key path "NN:\key\value" (or "NN:\key\" for a
    // key's default value), NN being 00..03 for HKCR, HKCU, HKLM, HKU (plus
    // 20 for a 64-bit component).
    std::u16string keyPath;
};

struct ProductRegistration {
    std::u16string productCode;  // braced GUIDs
    std::u16string packageCode;
    std::u16string productName;
    std::u16string productVersion;  // "major.minor.build"
    std::u16string manufacturer;
    DWORD language = 0;
    std::u16string localPackage;     // the cached package, a Windows path
    std::u16string installLocation;  // may be empty
    std::u16string installSource;    // folder of the original package, ending in '\'
    std::u16string packageName;      // file name of the original package
    std::u16string upgradeCode;      // braced GUID, or empty when the package has none
    DWORD estimatedSizeKb = 0;       // the files' total size
    std::vector<ComponentRegistration> components;
};

// True when the product has either of Windows Installer's per-machine product
// keys (advertised data or user data).
WINSYS_EXPORT bool isProductRegistered(std::u16string_view productCode);

// Writes the product's keys and one value per component. ERROR_SUCCESS;
// ERROR_INVALID_PARAMETER when a code (the upgrade code, when given) is not a
// braced GUID;
// ERROR_PRODUCT_VERSION when the product is already registered; otherwise the
// registry's error, after taking back what was written.
WINSYS_EXPORT LONG registerProduct(const ProductRegistration& product);

// Removes everything registerProduct wrote for the product (other products'
// values under shared component keys stay). ERROR_UNKNOWN_PRODUCT when it was
// not registered, ERROR_INVALID_PARAMETER for a malformed code.
WINSYS_EXPORT LONG unregisterProduct(std::u16string_view productCode);

// "major.minor.build[.x]" as the installer's packed DWORD: major in the top
// byte, minor in the next, build in the low word.
WINSYS_EXPORT DWORD packedProductVersion(std::u16string_view version);

}  // namespace winsys::installer
