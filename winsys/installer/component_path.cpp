// MsiGetComponentPath: the key path a product registered for a component,
// and whether it is there. Key paths are files, folders (ending in '\'),
// registry paths "NN:\key\value" (a trailing '\' naming the key itself), or
// source paths "NN\relative" for components run from the product's source.
#include <msi.h>

#include "installer/caller_buffers.h"
#include "installer/guid_text.h"
#include "installer/installer_keys.h"

namespace winsys::installer {

namespace {

bool isDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

bool isRegistryKeyPath(std::u16string_view path) {
    return path.size() >= 4 && isDigit(path[0]) && isDigit(path[1]) && path[2] == u':' &&
           path[3] == u'\\';
}

bool isSourceKeyPath(std::u16string_view path) {
    return path.size() > 2 && isDigit(path[0]) && isDigit(path[1]) && path[2] != u':';
}

HKEY registryRoot(int number) {
    switch (number % 20) {
        case 0:
            return HKEY_CLASSES_ROOT;
        case 1:
            return HKEY_CURRENT_USER;
        case 2:
            return HKEY_LOCAL_MACHINE;
        case 3:
            return HKEY_USERS;
        default:
            return nullptr;
    }
}

bool registryKeyPathExists(std::u16string_view path) {
    int number = (path[0] - u'0') * 10 + (path[1] - u'0');
    HKEY root = (number < 4 || (number >= 20 && number < 24)) ? registryRoot(number) : nullptr;
    if (!root)
        return false;
    std::u16string_view rest = path.substr(4);
    size_t split = rest.rfind(u'\\');
    std::u16string_view keyName =
        split == std::u16string_view::npos ? std::u16string_view() : rest.substr(0, split);
    std::u16string valueName(split == std::u16string_view::npos ? rest : rest.substr(split + 1));
    RegKey key;
    if (key.open(root, keyName) != ERROR_SUCCESS)
        return false;
    if (valueName.empty())
        return true;  // the key itself is the key path
    return RegQueryValueExW(key.get(), valueName.c_str(), nullptr, nullptr, nullptr, nullptr) ==
           ERROR_SUCCESS;
}

bool fileExists(std::u16string_view path) {
    std::u16string name(path);
    return GetFileAttributesW(name.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A source key path resolved against the product's recorded source folder.
std::optional<std::u16string> resolveSourcePath(std::u16string_view packedProduct,
                                                std::u16string_view path) {
    RegKey props;
    if (props.open(HKEY_LOCAL_MACHINE, installPropertiesKey(packedProduct)) != ERROR_SUCCESS)
        return std::nullopt;
    auto source = readText(props.get(), u"InstallSource");
    if (!source || source->empty())
        return std::nullopt;
    std::u16string_view relative = path.substr(2);
    while (!relative.empty() && relative.front() == u'\\')
        relative.remove_prefix(1);
    std::u16string resolved = *source;
    if (resolved.back() != u'\\')
        resolved += u'\\';
    resolved += relative;
    return resolved;
}

template <typename Char>
INSTALLSTATE getComponentPath(const WCHAR* product, const WCHAR* component, Char* buffer,
                              DWORD* count) {
    if (!product || !component)
        return INSTALLSTATE_INVALIDARG;
    if (buffer && !count)
        return INSTALLSTATE_INVALIDARG;
    auto packedProduct = squishGuid(product);
    auto packedComponent = squishGuid(component);
    if (!packedProduct || !packedComponent)
        return INSTALLSTATE_INVALIDARG;

    RegKey componentKey;
    if (componentKey.open(HKEY_LOCAL_MACHINE, userDataComponentKey(*packedComponent)) !=
        ERROR_SUCCESS)
        return INSTALLSTATE_UNKNOWN;
    auto keyPath = readText(componentKey.get(), *packedProduct);
    if (!keyPath)
        return INSTALLSTATE_UNKNOWN;

    // Without the product's own keys nothing of it counts as installed.
    bool productKnown = keyExists(HKEY_LOCAL_MACHINE, classesProductKey(*packedProduct)) ||
                        keyExists(HKEY_LOCAL_MACHINE, installPropertiesKey(*packedProduct));
    std::u16string answer = *keyPath;
    INSTALLSTATE state;
    if (keyPath->empty()) {
        state = INSTALLSTATE_NOTUSED;
    } else if (isRegistryKeyPath(*keyPath)) {
        state = productKnown && registryKeyPathExists(*keyPath) ? INSTALLSTATE_LOCAL
                                                                : INSTALLSTATE_ABSENT;
    } else if (isSourceKeyPath(*keyPath)) {
        auto resolved = resolveSourcePath(*packedProduct, *keyPath);
        if (resolved)
            answer = *resolved;
        state = productKnown && resolved && fileExists(*resolved) ? INSTALLSTATE_SOURCE
                                                                  : INSTALLSTATE_SOURCEABSENT;
    } else {
        state = productKnown && fileExists(*keyPath) ? INSTALLSTATE_LOCAL : INSTALLSTATE_ABSENT;
    }
    if (copyTruncating(answer, buffer, count) == ERROR_MORE_DATA)
        return INSTALLSTATE_MOREDATA;
    return state;
}

}  // namespace

}  // namespace winsys::installer

using namespace winsys::installer;

extern "C" {

WINSYS_EXPORT INSTALLSTATE WINAPI MsiGetComponentPathW(LPCWSTR szProduct, LPCWSTR szComponent,
                                                       LPWSTR lpPathBuf, DWORD* pcchBuf) {
    return getComponentPath(szProduct, szComponent, lpPathBuf, pcchBuf);
}

WINSYS_EXPORT INSTALLSTATE WINAPI MsiGetComponentPathA(LPCSTR szProduct, LPCSTR szComponent,
                                                       LPSTR lpPathBuf, DWORD* pcchBuf) {
    WideArgument product(szProduct), component(szComponent);
    return getComponentPath(product.get(), component.get(), lpPathBuf, pcchBuf);
}

}  // extern "C"
