// Product registration and the product queries: the registry layout written,
// the properties answered, error codes and the buffer rules.
#include <windows.h>

#include <algorithm>
#include <cstring>

#include "installer_test_support.h"

using namespace installer_test;
using winsys::installer::registerProduct;
using winsys::installer::unregisterProduct;

namespace {

constexpr char16_t kProduct[] = u"{5A1D0C3E-7B2F-4E61-9D8A-0C4B2E6F1A37}";
constexpr char16_t kPacked[] = u"E3C0D1A5F2B716E4D9A8C0B4E2F6A173";

std::u16string info(const char16_t* product, const char16_t* property, UINT* result = nullptr) {
    WCHAR buffer[300] = u"";
    DWORD count = 300;
    UINT r = MsiGetProductInfoW(product, property, buffer, &count);
    if (result)
        *result = r;
    return r == ERROR_SUCCESS ? std::u16string(buffer, count) : std::u16string();
}

std::u16string regText(const std::u16string& key, const char16_t* name) {
    HKEY k = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS)
        return u"<no key>";
    WCHAR data[300];
    DWORD size = sizeof data, type = 0;
    LONG r = RegQueryValueExW(k, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(k);
    if (r != ERROR_SUCCESS)
        return u"<no value>";
    return std::u16string(data, size / 2 - 1);
}

class ProductInfo : public ::testing::Test {
  protected:
    void SetUp() override {
        prefix();
        auto product = sampleProduct(kProduct);
        product.components = {
            {u"{0F1E2D3C-4B5A-4968-8776-655443322110}", u"C:\\Program Files\\Sample\\app.exe"}};
        ASSERT_EQ(registerProduct(product), ERROR_SUCCESS);
    }
    void TearDown() override { unregisterProduct(kProduct); }
};

}  // namespace

TEST_F(ProductInfo, WritesWindowsInstallersLayout) {
    const std::u16string userData =
        u"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\";
    const std::u16string props = userData + u"Products\\" + kPacked + u"\\InstallProperties";
    EXPECT_EQ(regText(props, u"LocalPackage"), u"C:\\windows\\Installer\\1a2b3c4d.msi");
    EXPECT_EQ(regText(props, u"DisplayName"), u"Sample Product");
    EXPECT_EQ(regText(props, u"DisplayVersion"), u"1.2.3");
    EXPECT_EQ(regText(props, u"InstallLocation"), u"C:\\Program Files\\Sample\\");
    const std::u16string classes =
        std::u16string(u"Software\\Classes\\Installer\\Products\\") + kPacked;
    EXPECT_EQ(regText(classes, u"ProductName"), u"Sample Product");
    EXPECT_EQ(regText(classes, u"PackageCode"), u"E4D3C2B100000004080000000000BADC");
    EXPECT_EQ(regText(userData + u"Components\\C3D2E1F0A5B486947867564534231201", kPacked),
              u"C:\\Program Files\\Sample\\app.exe");
    EXPECT_EQ(
        regText(u"Software\\Classes\\Installer\\UpgradeCodes\\D0C0B0A0111122223333444455556666",
                kPacked),
        u"");
    EXPECT_EQ(regText(std::u16string(u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") +
                          kProduct,
                      u"DisplayName"),
              u"Sample Product");
}

TEST_F(ProductInfo, AnswersTheCommonProperties) {
    EXPECT_EQ(info(kProduct, INSTALLPROPERTY_LOCALPACKAGE),
              u"C:\\windows\\Installer\\1a2b3c4d.msi");
    EXPECT_EQ(info(kProduct, INSTALLPROPERTY_PRODUCTNAME), u"Sample Product");
    EXPECT_EQ(info(kProduct, INSTALLPROPERTY_INSTALLEDPRODUCTNAME), u"Sample Product");
    EXPECT_EQ(info(kProduct, INSTALLPROPERTY_VERSIONSTRING), u"1.2.3");
    EXPECT_EQ(info(kProduct, INSTALLPROPERTY_INSTALLLOCATION), u"C:\\Program Files\\Sample\\");
    EXPECT_EQ(info(kProduct, INSTALLPROPERTY_PACKAGECODE),
              u"{1B2C3D4E-0000-4000-8000-00000000ABCD}");
    EXPECT_EQ(info(kProduct, INSTALLPROPERTY_PUBLISHER), u"Sample Maker");
    EXPECT_EQ(info(kProduct, INSTALLPROPERTY_LANGUAGE), u"1033");
    EXPECT_EQ(info(kProduct, INSTALLPROPERTY_VERSION), u"16908291");  // 1.2.3 packed: 0x01020003
    EXPECT_EQ(info(kProduct, INSTALLPROPERTY_VERSIONMAJOR), u"1");
    EXPECT_EQ(info(kProduct, INSTALLPROPERTY_PACKAGENAME), u"sample.msi");
    EXPECT_EQ(info(kProduct, INSTALLPROPERTY_INSTALLSOURCE), u"C:\\media\\");
    // Registered but never set: an empty answer, not an error.
    UINT r = 0;
    EXPECT_EQ(info(kProduct, INSTALLPROPERTY_TRANSFORMS, &r), u"");
    EXPECT_EQ(r, ERROR_SUCCESS);
    // Lower-case product codes find the same product.
    EXPECT_EQ(info(u"{5a1d0c3e-7b2f-4e61-9d8a-0c4b2e6f1a37}", INSTALLPROPERTY_PRODUCTNAME),
              u"Sample Product");
}

TEST_F(ProductInfo, ErrorCodes) {
    WCHAR buffer[64];
    DWORD count = 64;
    EXPECT_EQ(MsiGetProductInfoW(u"{00000000-1111-2222-3333-444444444444}",
                                 INSTALLPROPERTY_LOCALPACKAGE, buffer, &count),
              ERROR_UNKNOWN_PRODUCT);
    EXPECT_EQ(MsiGetProductInfoW(kProduct, u"NoSuchProperty", buffer, &count),
              ERROR_UNKNOWN_PROPERTY);
    // Names are matched exactly.
    EXPECT_EQ(MsiGetProductInfoW(kProduct, u"localpackage", buffer, &count),
              ERROR_UNKNOWN_PROPERTY);
    // The property name is judged before the product.
    EXPECT_EQ(MsiGetProductInfoW(u"{00000000-1111-2222-3333-444444444444}", u"", nullptr, nullptr),
              ERROR_UNKNOWN_PROPERTY);
    EXPECT_EQ(MsiGetProductInfoW(u"5A1D0C3E-7B2F-4E61-9D8A-0C4B2E6F1A37",
                                 INSTALLPROPERTY_LOCALPACKAGE, buffer, &count),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(MsiGetProductInfoW(u"", INSTALLPROPERTY_LOCALPACKAGE, buffer, &count),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(MsiGetProductInfoW(nullptr, INSTALLPROPERTY_LOCALPACKAGE, buffer, &count),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(MsiGetProductInfoW(kProduct, nullptr, buffer, &count), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(MsiGetProductInfoW(kProduct, INSTALLPROPERTY_LOCALPACKAGE, buffer, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(MsiGetProductInfoW(kProduct, INSTALLPROPERTY_LOCALPACKAGE, nullptr, nullptr),
              ERROR_SUCCESS);
}

TEST_F(ProductInfo, BufferRules) {
    const std::u16string expected = u"C:\\windows\\Installer\\1a2b3c4d.msi";
    const DWORD length = static_cast<DWORD>(expected.size());
    // Only the length.
    DWORD count = 0;
    EXPECT_EQ(MsiGetProductInfoW(kProduct, INSTALLPROPERTY_LOCALPACKAGE, nullptr, &count),
              ERROR_SUCCESS);
    EXPECT_EQ(count, length);
    // No room for the terminator: more data, buffer untouched, length given.
    WCHAR buffer[64] = u"apple";
    count = length;
    EXPECT_EQ(MsiGetProductInfoW(kProduct, INSTALLPROPERTY_LOCALPACKAGE, buffer, &count),
              ERROR_MORE_DATA);
    EXPECT_EQ(count, length);
    EXPECT_EQ(std::u16string(buffer), u"apple");
    count = length + 1;
    EXPECT_EQ(MsiGetProductInfoW(kProduct, INSTALLPROPERTY_LOCALPACKAGE, buffer, &count),
              ERROR_SUCCESS);
    EXPECT_EQ(count, length);
    EXPECT_EQ(std::u16string(buffer), expected);
}

TEST_F(ProductInfo, NarrowFormCountsNarrowCharacters) {
    unregisterProduct(kProduct);
    auto product = sampleProduct(kProduct);
    product.productName = u"Caf\u00e9";  // two bytes in UTF-8
    ASSERT_EQ(registerProduct(product), ERROR_SUCCESS);
    char buffer[16];
    DWORD count = 5;
    EXPECT_EQ(
        MsiGetProductInfoA("{5A1D0C3E-7B2F-4E61-9D8A-0C4B2E6F1A37}", "ProductName", buffer, &count),
        ERROR_MORE_DATA);
    EXPECT_EQ(count, 5u);
    count = 6;
    EXPECT_EQ(
        MsiGetProductInfoA("{5A1D0C3E-7B2F-4E61-9D8A-0C4B2E6F1A37}", "ProductName", buffer, &count),
        ERROR_SUCCESS);
    EXPECT_STREQ(buffer, "Caf\xc3\xa9");
}

TEST_F(ProductInfo, SecondRegistrationIsRefusedAndUnregisterRemovesAll) {
    EXPECT_EQ(registerProduct(sampleProduct(kProduct)), ERROR_PRODUCT_VERSION);
    EXPECT_EQ(unregisterProduct(kProduct), ERROR_SUCCESS);
    UINT r = 0;
    info(kProduct, INSTALLPROPERTY_LOCALPACKAGE, &r);
    EXPECT_EQ(r, ERROR_UNKNOWN_PRODUCT);
    EXPECT_EQ(regText(u"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-"
                      u"18\\Components\\"
                      u"C3D2E1F0A5B486947867564534231201",
                      kPacked),
              u"<no key>");
    EXPECT_EQ(
        regText(u"Software\\Classes\\Installer\\UpgradeCodes\\D0C0B0A0111122223333444455556666",
                kPacked),
        u"<no key>");
    EXPECT_EQ(unregisterProduct(kProduct), ERROR_UNKNOWN_PRODUCT);
    EXPECT_EQ(unregisterProduct(u"not a guid"), ERROR_INVALID_PARAMETER);
    auto bad = sampleProduct(u"{bad}");
    EXPECT_EQ(registerProduct(bad), ERROR_INVALID_PARAMETER);
}

TEST_F(ProductInfo, EnumeratesRegisteredProducts) {
    const char16_t* second = u"{00000001-0000-0000-0000-000000000002}";
    ASSERT_EQ(registerProduct(sampleProduct(second)), ERROR_SUCCESS);
    std::vector<std::u16string> seen;
    WCHAR code[39];
    DWORD index = 0;
    UINT r;
    while ((r = MsiEnumProductsW(index++, code)) == ERROR_SUCCESS)
        seen.emplace_back(code);
    EXPECT_EQ(r, ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(seen.size(), 2u);
    EXPECT_NE(std::find(seen.begin(), seen.end(), std::u16string(kProduct)), seen.end());
    EXPECT_NE(std::find(seen.begin(), seen.end(), std::u16string(second)), seen.end());
    EXPECT_EQ(MsiEnumProductsW(0, nullptr), ERROR_INVALID_PARAMETER);
    char narrow[39];
    EXPECT_EQ(MsiEnumProductsA(0, narrow), ERROR_SUCCESS);
    EXPECT_EQ(std::strlen(narrow), 38u);
    unregisterProduct(second);
}
