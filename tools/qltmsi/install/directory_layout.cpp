// Directory table resolution.
#include "install/directory_layout.h"

#include <windows.h>

#include <cstdlib>
#include <functional>
#include <set>

#include "cli_text.h"

namespace qltmsi::install {

namespace {

WideString withSlash(WideString path) {
    if (!path.empty() && path.back() != TEXT('\\'))
        path += TEXT('\\');
    return path;
}

WideString userName() {
    const char* user = std::getenv("USER");
    return toWide(user && *user ? user : "user");
}

// The target and source parts of a DefaultDir value, each still "short|long".
std::pair<WideString, WideString> splitDefaultDir(const WideString& defaultDir) {
    size_t colon = defaultDir.find(TEXT(':'));
    if (colon == WideString::npos)
        return {defaultDir, defaultDir};
    return {defaultDir.substr(0, colon), defaultDir.substr(colon + 1)};
}

WideString appendName(const WideString& parent, const WideString& name) {
    if (name.empty() || name == TEXT("."))
        return parent;
    return withSlash(parent + name);
}

}  // namespace

std::map<WideString, WideString> standardFolders() {
    WideString profile = TEXT("C:\\users\\") + userName() + TEXT("\\");
    WideString common = TEXT("C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\");
    WCHAR temp[MAX_PATH + 1] = TEXT("");
    DWORD tempLength = GetTempPathW(MAX_PATH + 1, temp);
    WideString tempFolder =
        tempLength ? withSlash(WideString(temp, tempLength)) : TEXT("C:\\windows\\Temp\\");
    return {
        {TEXT("ProgramFilesFolder"), TEXT("C:\\Program Files\\")},
        {TEXT("ProgramFiles64Folder"), TEXT("C:\\Program Files\\")},
        {TEXT("CommonFilesFolder"), TEXT("C:\\Program Files\\Common Files\\")},
        {TEXT("CommonFiles64Folder"), TEXT("C:\\Program Files\\Common Files\\")},
        {TEXT("WindowsFolder"), TEXT("C:\\windows\\")},
        {TEXT("WindowsVolume"), TEXT("C:\\")},
        {TEXT("SystemFolder"), TEXT("C:\\windows\\system32\\")},
        {TEXT("System64Folder"), TEXT("C:\\windows\\system32\\")},
        {TEXT("System16Folder"), TEXT("C:\\windows\\system\\")},
        {TEXT("FontsFolder"), TEXT("C:\\windows\\Fonts\\")},
        {TEXT("TempFolder"), tempFolder},
        {TEXT("CommonAppDataFolder"), TEXT("C:\\ProgramData\\")},
        {TEXT("AppDataFolder"), profile + TEXT("AppData\\Roaming\\")},
        {TEXT("LocalAppDataFolder"), profile + TEXT("AppData\\Local\\")},
        {TEXT("PersonalFolder"), profile + TEXT("Documents\\")},
        {TEXT("MyPicturesFolder"), profile + TEXT("Pictures\\")},
        {TEXT("FavoritesFolder"), profile + TEXT("Favorites\\")},
        {TEXT("DesktopFolder"), TEXT("C:\\users\\Public\\Desktop\\")},
        {TEXT("StartMenuFolder"), common},
        {TEXT("ProgramMenuFolder"), common + TEXT("Programs\\")},
        {TEXT("StartupFolder"), common + TEXT("Programs\\Startup\\")},
        {TEXT("AdminToolsFolder"), common + TEXT("Programs\\Administrative Tools\\")},
        {TEXT("TemplateFolder"), TEXT("C:\\ProgramData\\Microsoft\\Windows\\Templates\\")},
        {TEXT("SendToFolder"), profile + TEXT("AppData\\Roaming\\Microsoft\\Windows\\SendTo\\")},
        {TEXT("RecentFolder"), profile + TEXT("AppData\\Roaming\\Microsoft\\Windows\\Recent\\")},
        {TEXT("NetHoodFolder"),
         profile + TEXT("AppData\\Roaming\\Microsoft\\Windows\\Network Shortcuts\\")},
        {TEXT("PrintHoodFolder"),
         profile + TEXT("AppData\\Roaming\\Microsoft\\Windows\\Printer Shortcuts\\")},
    };
}

std::map<WideString, DirectoryPaths> resolveDirectories(
    const PackageContents& package, const std::map<WideString, WideString>& given,
    const WideString& sourceRoot, std::map<WideString, std::string>* unresolved) {
    std::map<WideString, const DirectoryRow*> rows;
    for (const auto& row : package.directories)
        rows[row.key] = &row;
    const auto standard = standardFolders();
    const bool shortSourceNames = package.sourceType & kSourceShortNames;
    auto lookUp = [](const std::map<WideString, WideString>& map, const WideString& key) {
        auto it = map.find(key);
        return it == map.end() || it->second.empty() ? std::optional<WideString>() : it->second;
    };
    WideString rootDrive = withSlash(
        lookUp(given, TEXT("ROOTDRIVE"))
            .value_or(lookUp(package.properties, TEXT("ROOTDRIVE")).value_or(TEXT("C:\\"))));

    std::map<WideString, DirectoryPaths> resolved;
    std::set<WideString> inProgress;
    std::function<const DirectoryPaths&(const WideString&)> resolve =
        [&](const WideString& key) -> const DirectoryPaths& {
        if (auto done = resolved.find(key); done != resolved.end())
            return done->second;
        auto rowIt = rows.find(key);
        if (rowIt == rows.end()) {
            if (auto value = lookUp(given, key))
                return resolved[key] = DirectoryPaths{withSlash(*value), withSlash(sourceRoot)};
            throw InstallError("the Directory table has no row '" + toUtf8(key) + "'");
        }
        if (!inProgress.insert(key).second)
            throw InstallError("the Directory table loops at '" + toUtf8(key) + "'");
        struct Done {
            std::set<WideString>& inProgress;
            const WideString& key;
            ~Done() { inProgress.erase(key); }
        } done{inProgress, key};
        const DirectoryRow& row = *rowIt->second;
        auto [targetPart, sourcePart] = splitDefaultDir(row.defaultDir);
        WideString sourceName = shortSourceNames ? shortName(sourcePart) : longName(sourcePart);

        DirectoryPaths paths;
        bool root = row.parent.empty() || row.parent == row.key;
        if (root) {
            paths.source = withSlash(sourceRoot);
            paths.target = rootDrive;
            if (key != TEXT("TARGETDIR"))
                paths.target = appendName(rootDrive, longName(targetPart));
        } else if (auto value = lookUp(given, key)) {
            // Set at run time: the value stands whatever the parent chain,
            // which is needed only for a source tree beside the package.
            paths.target = withSlash(*value);
            try {
                paths.source = appendName(resolve(row.parent).source, sourceName);
            } catch (const InstallError&) {
                paths.source = appendName(withSlash(sourceRoot), sourceName);
            }
        } else {
            const DirectoryPaths& parent = resolve(row.parent);
            paths.source = appendName(parent.source, sourceName);
            paths.target = appendName(parent.target, longName(targetPart));
        }
        if (auto value = lookUp(given, key))
            paths.target = withSlash(*value);
        else if (key == TEXT("TARGETDIR"))
            paths.target =
                withSlash(lookUp(package.properties, TEXT("TARGETDIR")).value_or(rootDrive));
        else if (auto folder = lookUp(standard, key))
            paths.target = *folder;
        else if (auto property = lookUp(package.properties, key))
            paths.target = withSlash(*property);
        return resolved[key] = paths;
    };
    for (const auto& row : package.directories) {
        try {
            resolve(row.key);
        } catch (const InstallError& error) {
            if (unresolved)
                (*unresolved)[row.key] = error.what();
        }
    }
    return resolved;
}

}  // namespace qltmsi::install
