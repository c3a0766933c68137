// Directory table resolution.
#include "install/directory_layout.h"

#include <windows.h>

#include <cstdlib>
#include <functional>
#include <set>

#include "cli_text.h"

namespace qltmsi::install {

namespace {

std::u16string withSlash(std::u16string path) {
    if (!path.empty() && path.back() != u'\\')
        path += u'\\';
    return path;
}

std::u16string userName() {
    const char* user = std::getenv("USER");
    return toWide(user && *user ? user : "user");
}

// The target and source parts of a DefaultDir value, each still "short|long".
std::pair<std::u16string, std::u16string> splitDefaultDir(const std::u16string& defaultDir) {
    size_t colon = defaultDir.find(u':');
    if (colon == std::u16string::npos)
        return {defaultDir, defaultDir};
    return {defaultDir.substr(0, colon), defaultDir.substr(colon + 1)};
}

std::u16string appendName(const std::u16string& parent, const std::u16string& name) {
    if (name.empty() || name == u".")
        return parent;
    return withSlash(parent + name);
}

}  // namespace

std::map<std::u16string, std::u16string> standardFolders() {
    std::u16string profile = u"C:\\users\\" + userName() + u"\\";
    std::u16string common = u"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\";
    WCHAR temp[MAX_PATH + 1] = u"";
    DWORD tempLength = GetTempPathW(MAX_PATH + 1, temp);
    std::u16string tempFolder =
        tempLength ? withSlash(std::u16string(temp, tempLength)) : u"C:\\windows\\Temp\\";
    return {
        {u"ProgramFilesFolder", u"C:\\Program Files\\"},
        {u"ProgramFiles64Folder", u"C:\\Program Files\\"},
        {u"CommonFilesFolder", u"C:\\Program Files\\Common Files\\"},
        {u"CommonFiles64Folder", u"C:\\Program Files\\Common Files\\"},
        {u"WindowsFolder", u"C:\\windows\\"},
        {u"WindowsVolume", u"C:\\"},
        {u"SystemFolder", u"C:\\windows\\system32\\"},
        {u"System64Folder", u"C:\\windows\\system32\\"},
        {u"System16Folder", u"C:\\windows\\system\\"},
        {u"FontsFolder", u"C:\\windows\\Fonts\\"},
        {u"TempFolder", tempFolder},
        {u"CommonAppDataFolder", u"C:\\ProgramData\\"},
        {u"AppDataFolder", profile + u"AppData\\Roaming\\"},
        {u"LocalAppDataFolder", profile + u"AppData\\Local\\"},
        {u"PersonalFolder", profile + u"Documents\\"},
        {u"MyPicturesFolder", profile + u"Pictures\\"},
        {u"FavoritesFolder", profile + u"Favorites\\"},
        {u"DesktopFolder", u"C:\\users\\Public\\Desktop\\"},
        {u"StartMenuFolder", common},
        {u"ProgramMenuFolder", common + u"Programs\\"},
        {u"StartupFolder", common + u"Programs\\Startup\\"},
        {u"AdminToolsFolder", common + u"Programs\\Administrative Tools\\"},
        {u"TemplateFolder", u"C:\\ProgramData\\Microsoft\\Windows\\Templates\\"},
        {u"SendToFolder", profile + u"AppData\\Roaming\\Microsoft\\Windows\\SendTo\\"},
        {u"RecentFolder", profile + u"AppData\\Roaming\\Microsoft\\Windows\\Recent\\"},
        {u"NetHoodFolder", profile + u"AppData\\Roaming\\Microsoft\\Windows\\Network Shortcuts\\"},
        {u"PrintHoodFolder",
         profile + u"AppData\\Roaming\\Microsoft\\Windows\\Printer Shortcuts\\"},
    };
}

std::map<std::u16string, DirectoryPaths> resolveDirectories(
    const PackageContents& package, const std::map<std::u16string, std::u16string>& given,
    const std::u16string& sourceRoot) {
    std::map<std::u16string, const DirectoryRow*> rows;
    for (const auto& row : package.directories)
        rows[row.key] = &row;
    const auto standard = standardFolders();
    const bool shortSourceNames = package.sourceType & kSourceShortNames;
    auto lookUp = [](const std::map<std::u16string, std::u16string>& map,
                     const std::u16string& key) {
        auto it = map.find(key);
        return it == map.end() || it->second.empty() ? std::optional<std::u16string>() : it->second;
    };
    std::u16string rootDrive =
        withSlash(lookUp(given, u"ROOTDRIVE")
                      .value_or(lookUp(package.properties, u"ROOTDRIVE").value_or(u"C:\\")));

    std::map<std::u16string, DirectoryPaths> resolved;
    std::set<std::u16string> inProgress;
    std::function<const DirectoryPaths&(const std::u16string&)> resolve =
        [&](const std::u16string& key) -> const DirectoryPaths& {
        if (auto done = resolved.find(key); done != resolved.end())
            return done->second;
        auto rowIt = rows.find(key);
        if (rowIt == rows.end())
            throw InstallError("the Directory table has no row '" + toUtf8(key) + "'");
        if (!inProgress.insert(key).second)
            throw InstallError("the Directory table loops at '" + toUtf8(key) + "'");
        const DirectoryRow& row = *rowIt->second;
        auto [targetPart, sourcePart] = splitDefaultDir(row.defaultDir);
        std::u16string sourceName = shortSourceNames ? shortName(sourcePart) : longName(sourcePart);

        DirectoryPaths paths;
        bool root = row.parent.empty() || row.parent == row.key;
        if (root) {
            paths.source = withSlash(sourceRoot);
            paths.target = rootDrive;
            if (key != u"TARGETDIR")
                paths.target = appendName(rootDrive, longName(targetPart));
        } else {
            const DirectoryPaths& parent = resolve(row.parent);
            paths.source = appendName(parent.source, sourceName);
            paths.target = appendName(parent.target, longName(targetPart));
        }
        if (auto value = lookUp(given, key))
            paths.target = withSlash(*value);
        else if (key == u"TARGETDIR")
            paths.target = withSlash(lookUp(package.properties, u"TARGETDIR").value_or(rootDrive));
        else if (auto folder = lookUp(standard, key))
            paths.target = *folder;
        else if (auto property = lookUp(package.properties, key))
            paths.target = withSlash(*property);
        inProgress.erase(key);
        return resolved[key] = paths;
    };
    for (const auto& row : package.directories)
        resolve(row.key);
    return resolved;
}

}  // namespace qltmsi::install
