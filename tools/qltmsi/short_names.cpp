// Short names for new long file names, chosen against the product's package.
#include "short_names.h"

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <stdexcept>

#include "install/package_contents.h"
#include "platform/ascii_text.h"

namespace qltmsi {

namespace {

constexpr size_t kShortBase = 8;
constexpr size_t kShortExtension = 3;

bool shortNameCharacter(WCHAR c) {
    if (c <= WCHAR(' ') || c >= WCHAR(0x7F))
        return false;
    for (char bad : std::string_view("\\/:*?\"<>|+,;=[]."))
        if (c == WCHAR(bad))
            return false;
    return true;
}

// The letters of a long name a short name keeps, upper-cased; the others
// (spaces and dots dropped, anything else '_').
WideString shortLetters(WideView part) {
    WideString letters;
    for (WCHAR c : part) {
        if (c == WCHAR(' ') || c == WCHAR('.'))
            continue;
        letters.push_back(shortNameCharacter(c) ? ToUpperAscii(c) : WCHAR('_'));
    }
    return letters;
}

// The folder of a Windows path, without its trailing '\', upper-cased.
WideString folderKey(WideView path) {
    size_t cut = path.rfind(WCHAR('\\'));
    WideString folder(cut == WideView::npos ? WideView() : path.substr(0, cut));
    return UpperAscii(folder);
}

WideString withoutTrailingSeparators(WideString path) {
    while (path.size() > 3 && path.back() == WCHAR('\\'))
        path.pop_back();
    return path;
}

// The folder a component's key path lies in, or empty when the component is
// not installed on this machine or its key path is no file or folder.
WideString componentFolder(const WideString& product, const WideString& componentId) {
    WCHAR keyPath[MAX_PATH + 1] = {};
    DWORD size = MAX_PATH + 1;
    INSTALLSTATE state = MsiGetComponentPathW(product.c_str(), componentId.c_str(), keyPath, &size);
    if (state != INSTALLSTATE_LOCAL && state != INSTALLSTATE_SOURCE)
        return {};
    WideString path(keyPath);
    if (path.size() < 3 || path[1] != WCHAR(':'))
        return {};
    if (path.back() == WCHAR('\\'))
        return UpperAscii(withoutTrailingSeparators(path));
    return folderKey(path);
}

}  // namespace

bool isShortName(WideView name) {
    size_t dot = name.find(WCHAR('.'));
    WideView base = name.substr(0, dot);
    WideView extension = dot == WideView::npos ? WideView() : name.substr(dot + 1);
    if (base.empty() || base.size() > kShortBase || extension.size() > kShortExtension ||
        (dot != WideView::npos && extension.empty()))
        return false;
    for (WideView part : {base, extension})
        for (WCHAR c : part)
            if (!shortNameCharacter(c))
                return false;
    return true;
}

WideString makeShortName(WideView longName, const std::set<WideString>& taken) {
    size_t dot = longName.rfind(WCHAR('.'));
    WideString base = shortLetters(longName.substr(0, dot));
    WideString extension =
        dot == WideView::npos ? WideString() : shortLetters(longName.substr(dot + 1));
    if (extension.size() > kShortExtension)
        extension.resize(kShortExtension);
    if (base.empty())
        base = TEXT("_");
    for (unsigned number = 1;; ++number) {
        WideString tail = TEXT("~") + toWide(std::to_string(number));
        if (tail.size() >= kShortBase)
            throw std::runtime_error("no free short name is left for " + toUtf8(longName));
        WideString name = base.substr(0, kShortBase - tail.size()) + tail;
        if (!extension.empty())
            name += TEXT(".") + extension;
        if (!taken.count(name))
            return name;
    }
}

std::set<WideString> shortNamesBeside(const WideString& product, const WideString& installedFile) {
    WCHAR packagePath[MAX_PATH + 1] = {};
    DWORD size = MAX_PATH + 1;
    if (MsiGetProductInfoW(product.c_str(), INSTALLPROPERTY_LOCALPACKAGE, packagePath, &size) !=
        ERROR_SUCCESS)
        throw std::runtime_error("the product's cached package is not known");
    MsiHandle database;
    if (UINT r = MsiOpenDatabaseW(packagePath, MSIDBOPEN_READONLY, database.Receive()))
        throw std::runtime_error("cannot read " + toUtf8(packagePath) + " (error " +
                                 std::to_string(r) + ")");
    const install::PackageContents package = install::readPackage(database.get());

    const WideString folder = folderKey(installedFile);
    std::set<WideString> directories;
    for (const auto& component : package.components)
        if (componentFolder(product, component.componentId) == folder)
            directories.insert(component.directory);
    std::set<WideString> components;
    for (const auto& component : package.components)
        if (directories.count(component.directory))
            components.insert(component.key);
    std::set<WideString> names;
    for (const auto& file : package.files) {
        if (!components.count(file.component))
            continue;
        size_t bar = file.fileName.find(WCHAR('|'));
        names.insert(UpperAscii(bar == WideString::npos ? file.fileName : file.fileName.substr(0, bar)));
    }
    return names;
}

}  // namespace qltmsi
