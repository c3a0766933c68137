// Installer key names and registry helpers.
#include "installer/installer_keys.h"

#include <cstring>
#include <vector>

namespace winsys::installer {

namespace {

std::u16string joined(std::u16string_view a, std::u16string_view b) {
    std::u16string s(a);
    s += u'\\';
    s += b;
    return s;
}

}  // namespace

std::u16string userDataProductKey(std::u16string_view packedProduct) {
    return joined(joined(kUserDataRoot, u"Products"), packedProduct);
}

std::u16string installPropertiesKey(std::u16string_view packedProduct) {
    return joined(userDataProductKey(packedProduct), u"InstallProperties");
}

std::u16string userDataComponentKey(std::u16string_view packedComponent) {
    return joined(joined(kUserDataRoot, u"Components"), packedComponent);
}

std::u16string classesProductKey(std::u16string_view packedProduct) {
    return joined(kClassesProducts, packedProduct);
}

RegKey& RegKey::operator=(RegKey&& other) noexcept {
    if (this != &other) {
        reset();
        key_ = other.key_;
        other.key_ = nullptr;
    }
    return *this;
}

LONG RegKey::open(HKEY root, std::u16string_view subKey, REGSAM access) {
    reset();
    std::u16string name(subKey);
    return RegOpenKeyExW(root, name.c_str(), 0, access, &key_);
}

LONG RegKey::create(HKEY root, std::u16string_view subKey) {
    reset();
    std::u16string name(subKey);
    return RegCreateKeyExW(root, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                           nullptr, &key_, nullptr);
}

void RegKey::reset() {
    if (key_)
        RegCloseKey(key_);
    key_ = nullptr;
}

bool keyExists(HKEY root, std::u16string_view subKey) {
    RegKey key;
    return key.open(root, subKey) == ERROR_SUCCESS;
}

std::optional<std::u16string> readText(HKEY key, std::u16string_view name) {
    std::u16string valueName(name);
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, valueName.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return std::nullopt;
    if (type == REG_DWORD) {
        auto number = readDword(key, name);
        if (!number)
            return std::nullopt;
        std::string digits = std::to_string(static_cast<int32_t>(*number));
        return std::u16string(digits.begin(), digits.end());
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return std::nullopt;
    std::vector<BYTE> data(size + sizeof(WCHAR));
    if (RegQueryValueExW(key, valueName.c_str(), nullptr, &type, data.data(), &size) !=
        ERROR_SUCCESS)
        return std::nullopt;
    std::u16string text(size / sizeof(WCHAR), u'\0');
    std::memcpy(text.data(), data.data(), text.size() * sizeof(WCHAR));
    // Stored strings normally carry their terminator; some writers omit it.
    if (auto end = text.find(u'\0'); end != std::u16string::npos)
        text.resize(end);
    return text;
}

std::optional<DWORD> readDword(HKEY key, std::u16string_view name) {
    std::u16string valueName(name);
    DWORD type = 0, value = 0, size = sizeof(value);
    if (RegQueryValueExW(key, valueName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value),
                         &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(value))
        return std::nullopt;
    return value;
}

LONG writeText(HKEY key, std::u16string_view name, std::u16string_view value, DWORD type) {
    std::u16string valueName(name), data(value);
    return RegSetValueExW(key, valueName.c_str(), 0, type,
                          reinterpret_cast<const BYTE*>(data.c_str()),
                          static_cast<DWORD>((data.size() + 1) * sizeof(WCHAR)));
}

LONG writeDword(HKEY key, std::u16string_view name, DWORD value) {
    std::u16string valueName(name);
    return RegSetValueExW(key, valueName.c_str(), 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

LONG writeMultiText(HKEY key, std::u16string_view name,
                    std::initializer_list<std::u16string_view> items) {
    std::u16string valueName(name), data;
    for (auto item : items) {
        data += item;
        data += u'\0';
    }
    data += u'\0';
    return RegSetValueExW(key, valueName.c_str(), 0, REG_MULTI_SZ,
                          reinterpret_cast<const BYTE*>(data.data()),
                          static_cast<DWORD>(data.size() * sizeof(WCHAR)));
}

void deleteTree(HKEY root, std::u16string_view subKey) {
    RegKey key;
    if (key.open(root, subKey, KEY_ALL_ACCESS) != ERROR_SUCCESS)
        return;
    // Delete children first: RegDeleteKeyW refuses keys that have subkeys.
    for (;;) {
        WCHAR child[256];
        DWORD length = 256;
        if (RegEnumKeyExW(key.get(), 0, child, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        std::u16string childPath(subKey);
        childPath += u'\\';
        childPath.append(child, length);
        deleteTree(root, childPath);
        if (keyExists(root, childPath))
            break;  // could not delete: stop rather than loop
    }
    key.reset();
    std::u16string name(subKey);
    RegDeleteKeyW(root, name.c_str());
}

}  // namespace winsys::installer
