// The install steps: read, check, resolve, cache, lay out, register.
#include "install/install_package.h"

#include <windows.h>
#include <msiquery.h>

#include <algorithm>
#include <random>
#include <set>
#include <vector>

#include "cli_text.h"
#include "install/cabinet_extraction.h"
#include "install/cabinet_shelf.h"
#include "install/directory_layout.h"
#include "install/feature_selection.h"
#include "install/package_contents.h"
#include "install/system_properties.h"
#include "winsys/installer/registration.h"

namespace qltmsi::install {

namespace {

struct PlannedFile {
    const FileRow* row;
    WideString target;  // Windows path
    WideString source;  // for uncompressed files
    bool compressed;
};

// Undoes a failed install: the files written, the cached package and the
// folders made for them go again, newest first.
class Rollback {
  public:
    ~Rollback() {
        if (committed_)
            return;
        for (auto it = created_.rbegin(); it != created_.rend(); ++it) {
            SetFileAttributesW(it->path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (it->folder)
                RemoveDirectoryW(it->path.c_str());
            else
                DeleteFileW(it->path.c_str());
        }
    }
    void track(const WideString& path) { created_.push_back({path, false}); }
    void makeFolders(const WideString& folder) {
        for (auto& made : createFolders(folder))
            created_.push_back({made, true});
    }
    void commit() { committed_ = true; }

  private:
    struct Created {
        WideString path;
        bool folder;
    };
    std::vector<Created> created_;
    bool committed_ = false;
};

WideString hexName() {
    std::random_device random;
    WideString name;
    for (int i = 0; i < 8; ++i)
        name += TEXT("0123456789abcdef")[random() & 0xF];
    return name + TEXT(".msi");
}

bool exists(const WideString& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A fresh name in the installer cache, like C:\windows\Installer\1a2b3c4d.msi.
WideString cachePackage(const WideString& package, Rollback& rollback) {
    WCHAR windows[MAX_PATH + 1];
    UINT length = GetWindowsDirectoryW(windows, MAX_PATH + 1);
    WideString cache = WideString(windows, length) + TEXT("\\Installer\\");
    rollback.makeFolders(cache);
    for (int attempt = 0; attempt < 100; ++attempt) {
        WideString cached = cache + hexName();
        if (CopyFileW(package.c_str(), cached.c_str(), TRUE)) {
            rollback.track(cached);
            return cached;
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
            throw InstallError("cannot copy the package to " + toUtf8(cached) + " (error " +
                               std::to_string(GetLastError()) + ")");
    }
    throw InstallError("cannot find a free name in " + toUtf8(cache));
}

const MediaRow* mediaOf(const PackageContents& package, int sequence) {
    const MediaRow* best = nullptr;
    for (const auto& media : package.media)
        if (media.lastSequence >= sequence && (!best || media.lastSequence < best->lastSequence))
            best = &media;
    return best;
}

WideString registryKeyPath(const RegistryRow& row, bool is64Bit) {
    // Root -1 means HKCU or HKLM by install type; these installs are per machine.
    int root = row.root < 0 ? 2 : row.root;
    if (is64Bit)
        root += 20;
    WideString path = root < 10 ? TEXT("0") : TEXT("");
    path += toWide(std::to_string(root));
    path += TEXT(":\\") + row.key + TEXT("\\");
    if (row.name)
        path += *row.name;
    return path;
}

void layOutCompressed(MSIHANDLE database, const PackageContents& package,
                      const WideString& packagePath, const std::vector<PlannedFile>& plan,
                      Rollback& rollback) {
    // Every file still to be written, and the Media rows that hold them, in
    // the order of their sequence ranges.
    std::map<WideString, WideString> wanted;
    std::map<WideString, const MediaRow*> mediaOfFile;
    std::map<int, const MediaRow*> order;
    for (const auto& file : plan) {
        if (!file.compressed)
            continue;
        const MediaRow* media = mediaOf(package, file.row->sequence);
        if (!media || media->cabinet.empty())
            throw InstallError("no cabinet holds the file " + toUtf8(file.row->key) +
                               " (sequence " + std::to_string(file.row->sequence) + ")");
        wanted[file.row->key] = file.target;
        mediaOfFile[file.row->key] = media;
        order[media->lastSequence] = media;
        rollback.track(file.target);
    }
    CabinetShelf shelf(database, packagePath, folderOf(packagePath));
    for (const auto& [lastSequence, media] : order) {
        bool needed = std::any_of(wanted.begin(), wanted.end(), [&, m = media](const auto& entry) {
            return mediaOfFile[entry.first] == m;
        });
        if (!needed)
            continue;  // its files were finished from an earlier cabinet of the set
        std::string display;
        WideString cabinet = shelf.place(media->cabinet, display);
        for (const auto& key :
             extractCabinet(cabinet, display, wanted, shelf.nextOf(media->cabinet)))
            wanted.erase(key);
    }
    if (!wanted.empty()) {
        const WideString& key = wanted.begin()->first;
        throw InstallError("the cabinet " + toUtf8(mediaOfFile[key]->cabinet) +
                           " lacks the file " + toUtf8(key));
    }
}

void layOutUncompressed(const std::vector<PlannedFile>& plan, Rollback& rollback) {
    for (const auto& file : plan) {
        if (file.compressed)
            continue;
        rollback.track(file.target);
        if (!CopyFileW(file.source.c_str(), file.target.c_str(), FALSE))
            throw InstallError("cannot copy " + toUtf8(file.source) + " to " + toUtf8(file.target) +
                               " (error " + std::to_string(GetLastError()) + ")");
    }
}

// The read-only, hidden and system bits of File.Attributes are the file
// system's attribute bits of the same values.
void applyFileAttributes(const std::vector<PlannedFile>& plan) {
    constexpr int kFileSystemBits =
        FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    for (const auto& file : plan)
        if (int bits = file.row->attributes & kFileSystemBits)
            SetFileAttributesW(file.target.c_str(), DWORD(bits));
}

WideString chooseInstallLocation(const PackageContents& package, const InstallRequest& request,
                                 const std::map<WideString, DirectoryPaths>& directories) {
    if (auto it = request.properties.find(TEXT("ARPINSTALLLOCATION"));
        it != request.properties.end())
        return it->second;
    if (auto value = package.property(TEXT("ARPINSTALLLOCATION")); !value.empty())
        return value;
    for (const WCHAR* name :
         {TEXT("INSTALLDIR"), TEXT("INSTALLLOCATION"), TEXT("APPLICATIONFOLDER"), TEXT("APPDIR")})
        if (auto it = directories.find(name); it != directories.end())
            return it->second.target;
    if (!package.components.empty())
        return directories.at(package.components.front().directory).target;
    return {};
}

// True for a braced GUID: the product query refuses anything else as a
// malformed argument before it looks for a product.
bool isGuid(const WideString& text) {
    return MsiGetProductInfoW(text.c_str(), INSTALLPROPERTY_PRODUCTNAME, nullptr, nullptr) !=
           ERROR_INVALID_PARAMETER;
}

// ProductLanguage's leading decimal digits (a language id fits 16 bits).
DWORD languageId(WideView text) {
    DWORD id = 0;
    for (WCHAR c : text) {
        if (c < TEXT('0') || c > TEXT('9') || id > 0xFFFF)
            break;
        id = id * 10 + (c - TEXT('0'));
    }
    return id;
}

}  // namespace

InstalledProduct installPackage(const InstallRequest& request) {
    const WideString& packagePath = request.packagePath;
    if (!exists(packagePath))
        throw InstallError("cannot find the package " + toUtf8(packagePath));
    MsiHandle database;
    if (UINT r = MsiOpenDatabaseW(packagePath.c_str(), MSIDBOPEN_READONLY, database.Receive()))
        throw InstallError(toUtf8(packagePath) + " is not a Windows Installer package (error " +
                           std::to_string(r) + ")");
    PackageContents package = readPackage(database.get());

    InstalledProduct product;
    product.productCode = package.property(TEXT("ProductCode"));
    product.productName = package.property(TEXT("ProductName"));
    product.productVersion = package.property(TEXT("ProductVersion"));
    if (!isGuid(product.productCode))
        throw InstallError("the package's ProductCode '" + toUtf8(product.productCode) +
                           "' is not a GUID");
    if (winsys::installer::isProductRegistered(product.productCode))
        throw InstallError("the product " + toUtf8(product.productCode) + " (" +
                           toUtf8(product.productName) +
                           ") is already installed; qltmsi install does not reinstall or upgrade");

    const WideString packageFolder = folderOf(packagePath);
    std::map<WideString, std::string> unresolved;
    auto directories = resolveDirectories(package, request.properties, packageFolder, &unresolved);

    // What conditions see: the system's properties, then the package's own
    // (which may set defaults such as INSTALLLEVEL and ALLUSERS), then the
    // command line's; and the system's values win over the package's.
    std::map<WideString, WideString> properties = systemProperties(!request.system32Bit);
    auto system = properties;
    for (const auto& [name, value] : package.properties)
        properties[name] = value;
    for (const auto& [name, value] : system)
        if (name != TEXT("INSTALLLEVEL") && name != TEXT("ALLUSERS"))
            properties[name] = value;
    if (request.system32Bit) {
        properties.erase(TEXT("VersionNT64"));
        properties.erase(TEXT("Msix64"));
    }
    for (const auto& [name, value] : request.properties)
        properties[name] = value;
    Selection selection =
        selectFeatures(package, properties, systemEnvironment(!request.system32Bit));

    std::map<WideString, const ComponentRow*> components;
    std::vector<const ComponentRow*> installed;
    for (const auto& component : package.components) {
        if (!selection.components.count(component.key))
            continue;
        if (!directories.count(component.directory)) {
            auto why = unresolved.find(component.directory);
            throw InstallError("the component " + toUtf8(component.key) + " is installed in " +
                               toUtf8(component.directory) + ", which cannot be resolved: " +
                               (why == unresolved.end() ? "it is not in the Directory table"
                                                        : why->second) +
                               " (a folder set at run time can be given as PROPERTY=VALUE)");
        }
        components[component.key] = &component;
        installed.push_back(&component);
    }

    const bool packageCompressed = package.sourceType & kSourceCompressed;
    const bool shortSourceNames = package.sourceType & kSourceShortNames;
    std::vector<PlannedFile> plan;
    std::map<WideString, WideString> fileTargets;
    std::set<WideString> allComponents;
    for (const auto& component : package.components)
        allComponents.insert(component.key);
    for (const auto& file : package.files) {
        auto component = components.find(file.component);
        if (component == components.end()) {
            if (allComponents.count(file.component))
                continue;  // its component is not installed
            throw InstallError("the file " + toUtf8(file.key) + " names an unknown component");
        }
        const DirectoryPaths& folder = directories.at(component->second->directory);
        bool compressed = (file.attributes & kFileCompressed)      ? true
                          : (file.attributes & kFileNoncompressed) ? false
                                                                   : packageCompressed;
        WideString target = folder.target + longName(file.fileName);
        WideString source =
            folder.source + (shortSourceNames ? shortName(file.fileName) : longName(file.fileName));
        plan.push_back({&file, target, source, compressed});
        fileTargets[file.key] = target;
    }

    Rollback rollback;
    product.localPackage = cachePackage(packagePath, rollback);
    for (const ComponentRow* component : installed)
        rollback.makeFolders(directories.at(component->directory).target);
    layOutCompressed(database.get(), package, packagePath, plan, rollback);
    layOutUncompressed(plan, rollback);
    applyFileAttributes(plan);

    winsys::installer::ProductRegistration registration;
    registration.productCode = product.productCode;
    registration.packageCode = package.packageCode;
    registration.productName = product.productName;
    registration.productVersion = product.productVersion;
    registration.manufacturer = package.property(TEXT("Manufacturer"));
    registration.language = languageId(package.property(TEXT("ProductLanguage")));
    registration.localPackage = product.localPackage;
    product.installLocation = chooseInstallLocation(package, request, directories);
    registration.installLocation = product.installLocation;
    registration.installSource = packageFolder;
    registration.packageName = fileNameOf(packagePath);
    if (auto upgrade = package.property(TEXT("UpgradeCode")); isGuid(upgrade))
        registration.upgradeCode = upgrade;
    uint64_t totalSize = 0;
    for (const auto& file : plan)
        totalSize += unsigned(file.row->size);
    registration.estimatedSizeKb = DWORD((totalSize + 1023) / 1024);
    for (const ComponentRow* installedComponent : installed) {
        const ComponentRow& component = *installedComponent;
        if (component.componentId.empty())
            continue;  // unregistered by design
        WideString keyPath;
        if (!component.keyPath || component.keyPath->empty()) {
            keyPath = directories.at(component.directory).target;
        } else if (component.attributes & kComponentRegistryKeyPath) {
            auto row = package.registry.find(*component.keyPath);
            if (row == package.registry.end())
                throw InstallError("the component " + toUtf8(component.key) +
                                   " has a key path with no Registry row");
            keyPath = registryKeyPath(row->second, component.attributes & kComponent64Bit);
        } else {
            auto target = fileTargets.find(*component.keyPath);
            if (target == fileTargets.end())
                throw InstallError("the component " + toUtf8(component.key) +
                                   " has a key path with no File row");
            keyPath = target->second;
        }
        registration.components.push_back({component.componentId, keyPath});
    }
    if (LONG r = winsys::installer::registerProduct(registration))
        throw InstallError("cannot register the product (error " + std::to_string(r) + ")");
    rollback.commit();
    product.fileCount = plan.size();
    return product;
}

}  // namespace qltmsi::install
