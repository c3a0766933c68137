// Windows path <-> native path mapping through the prefix directory.
#include "paths.h"

#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <map>
#include <mutex>
#include <vector>

#include "kernel/text.h"
#include "winerror.h"

namespace winsys::paths {

namespace {

constexpr size_t maxPath = 260;

std::string currentNativeDirectory() {
    std::vector<char> buffer(PATH_MAX);
    while (!getcwd(buffer.data(), buffer.size())) {
        if (errno != ERANGE)
            return "/";
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

// Folds "." and ".." and repeated slashes of an absolute native path.
std::string normalizeNative(std::string_view path) {
    std::vector<std::string_view> parts;
    size_t i = 0;
    while (i < path.size()) {
        size_t j = path.find('/', i);
        if (j == std::string_view::npos)
            j = path.size();
        std::string_view part = path.substr(i, j - i);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        i = j + 1;
    }
    std::string out;
    for (auto part : parts) {
        out += '/';
        out += part;
    }
    return out.empty() ? "/" : out;
}

std::string absoluteNative(std::string_view path) {
    if (!path.empty() && path[0] == '/')
        return normalizeNative(path);
    return normalizeNative(currentNativeDirectory() + "/" + std::string(path));
}

void makeDirectory(const std::string& path) {
    mkdir(path.c_str(), 0777);
}

void createPrefix(const std::string& prefix) {
    // Create each level, so that a prefix whose parents are missing works too.
    for (size_t i = 1; i <= prefix.size(); ++i)
        if (i == prefix.size() || prefix[i] == '/')
            makeDirectory(prefix.substr(0, i));
    for (const char* sub : {"/drive_c", "/drive_c/windows", "/drive_c/windows/system32",
                            "/drive_c/windows/Installer", "/drive_c/windows/Temp", "/dosdevices"})
        makeDirectory(prefix + sub);
    symlink("../drive_c", (prefix + "/dosdevices/c:").c_str());
    symlink("/", (prefix + "/dosdevices/z:").c_str());
}

std::string homeDirectory() {
    if (const char* home = getenv("HOME"); home && *home)
        return home;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir)
        return pw->pw_dir;
    return "/tmp";
}

bool isSeparator(char16_t c) {
    return c == u'\\' || c == u'/';
}

bool isForbiddenInName(char16_t c) {
    return c < 0x20 || c == u'<' || c == u'>' || c == u':' || c == u'"' || c == u'|' || c == u'?' ||
           c == u'*';
}

// The native directory that holds a drive's root, or nullopt for a letter
// with no mapping.
std::optional<std::string> driveRoot(char16_t letter) {
    letter = text::foldCase(letter);
    if (letter == u'c')
        return prefixDirectory() + "/drive_c";
    if (letter == u'z')
        return std::string();
    std::string link = prefixDirectory() + "/dosdevices/" + static_cast<char>(letter) + ":";
    struct stat st;
    if (stat(link.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return std::nullopt;
    return link;
}

// Appends one name to a native directory: as written when that exists,
// otherwise the directory entry that matches it ignoring case. Returns false
// when nothing matches (the caller then keeps the rest as written).
bool appendResolved(std::string& directory, const std::string& name) {
    std::string exact = directory + "/" + name;
    struct stat st;
    if (lstat(exact.c_str(), &st) == 0) {
        directory = std::move(exact);
        return true;
    }
    DIR* dir = opendir(directory.empty() ? "/" : directory.c_str());
    if (!dir) {
        directory = std::move(exact);
        return false;
    }
    std::u16string wanted = text::toUtf16(name);
    bool found = false;
    while (const dirent* entry = readdir(dir)) {
        if (text::equalsIgnoreCase(text::toUtf16(entry->d_name), wanted)) {
            directory += "/";
            directory += entry->d_name;
            found = true;
            break;
        }
    }
    closedir(dir);
    if (!found)
        directory = std::move(exact);
    return found;
}

std::optional<std::string> fail(unsigned* error, unsigned code) {
    if (error)
        *error = code;
    return std::nullopt;
}

}  // namespace

const std::string& prefixDirectory() {
    static std::mutex lock;
    static std::map<std::string, std::string> prefixes;  // setting -> created directory
    const char* setting = getenv("QLTMSI_PREFIX");
    std::string key = setting ? setting : "";
    std::lock_guard guard(lock);
    auto found = prefixes.find(key);
    if (found != prefixes.end())
        return found->second;
    std::string directory = absoluteNative(key.empty() ? homeDirectory() + "/.qltmsi" : key);
    createPrefix(directory);
    return prefixes.emplace(key, std::move(directory)).first->second;
}

namespace {

// A Windows path taken apart: its drive letter and the names below the root.
struct ParsedPath {
    char16_t drive = u'C';
    std::vector<std::u16string> names;
    bool trailingSeparator = false;
};

std::optional<ParsedPath> parse(std::u16string_view path, unsigned* error) {
    if (path.empty()) {
        if (error)
            *error = ERROR_PATH_NOT_FOUND;
        return std::nullopt;
    }
    bool extendedLength = false;
    if (path.size() >= 4 && isSeparator(path[0]) && isSeparator(path[1]) && path[2] == u'?' &&
        isSeparator(path[3])) {
        path.remove_prefix(4);
        extendedLength = true;
    }
    auto failParse = [&](unsigned code) -> std::optional<ParsedPath> {
        if (error)
            *error = code;
        return std::nullopt;
    };
    if (path.size() >= 32767)
        return failParse(ERROR_FILENAME_EXCED_RANGE);

    ParsedPath parsed;
    std::u16string rest;
    if (path.size() >= 2 && path[1] == u':' &&
        ((path[0] | 0x20) >= u'a' && (path[0] | 0x20) <= u'z')) {
        parsed.drive = path[0];
        rest = path.substr(2);
    } else if (isSeparator(path[0])) {
        if (path.size() >= 2 && isSeparator(path[1]))
            return failParse(ERROR_PATH_NOT_FOUND);  // UNC or device
        parsed.drive = currentDirectory()[0];
        rest = std::u16string(path);
    } else {
        std::u16string current = currentDirectory();
        parsed.drive = current[0];
        rest = current.substr(2) + u"\\" + std::u16string(path);
    }
    parsed.drive = static_cast<char16_t>(parsed.drive & ~0x20);
    parsed.trailingSeparator = !rest.empty() && isSeparator(rest.back());

    size_t i = 0;
    while (i <= rest.size()) {
        size_t j = i;
        while (j < rest.size() && !isSeparator(rest[j]))
            ++j;
        std::u16string name = rest.substr(i, j - i);
        if (name == u"..") {
            if (!parsed.names.empty())
                parsed.names.pop_back();
        } else if (name != u".") {
            // Windows drops trailing dots and spaces from names.
            while (!name.empty() && (name.back() == u'.' || name.back() == u' '))
                name.pop_back();
            if (!name.empty()) {
                for (char16_t c : name)
                    if (isForbiddenInName(c))
                        return failParse(ERROR_INVALID_NAME);
                parsed.names.push_back(std::move(name));
            }
        }
        i = j + 1;
    }
    if (!extendedLength) {
        size_t length = 2;  // "C:"
        for (const auto& name : parsed.names)
            length += 1 + name.size();
        if (parsed.names.empty() || parsed.trailingSeparator)
            ++length;
        if (length >= maxPath)
            return failParse(ERROR_FILENAME_EXCED_RANGE);
    }
    return parsed;
}

}  // namespace

std::optional<std::u16string> fullPath(std::u16string_view path, unsigned* error) {
    auto parsed = parse(path, error);
    if (!parsed)
        return std::nullopt;
    std::u16string out(1, parsed->drive);
    out += u':';
    for (const auto& name : parsed->names)
        out += u"\\" + name;
    if (parsed->names.empty() || parsed->trailingSeparator)
        out += u'\\';
    return out;
}

std::optional<std::string> toNative(std::u16string_view path, unsigned* error) {
    auto parsed = parse(path, error);
    if (!parsed)
        return std::nullopt;
    std::optional<std::string> root = driveRoot(parsed->drive);
    if (!root)
        return fail(error, ERROR_PATH_NOT_FOUND);
    std::string native = *root;
    bool resolving = true;
    for (const auto& name : parsed->names) {
        std::string narrow = text::toUtf8(name);
        if (narrow.size() > 255)
            return fail(error, ERROR_FILENAME_EXCED_RANGE);
        if (resolving)
            resolving = appendResolved(native, narrow);
        else
            native += "/" + narrow;
    }
    if (native.empty())
        native = "/";
    return native;
}

std::u16string toWindows(std::string_view nativePath) {
    std::string path = absoluteNative(nativePath);
    auto under = [&](const std::string& base) -> std::optional<std::string> {
        if (path == base)
            return std::string();
        if (path.size() > base.size() && path.compare(0, base.size(), base) == 0 &&
            path[base.size()] == '/')
            return path.substr(base.size() + 1);
        return std::nullopt;
    };
    // The drive whose root holds the path, by the root as written or as its
    // real path; the deepest root wins, so a letter linked inside C: is used.
    char16_t drive = u'Z';
    std::string rest = path.substr(1);
    size_t bestDepth = 0;
    auto consider = [&](char16_t letter, const std::string& root) {
        for (int pass = 0; pass < 2; ++pass) {
            std::string base = root;
            if (pass == 1) {
                char* real = realpath(root.c_str(), nullptr);
                if (!real)
                    return;
                base = real;
                free(real);
            }
            if (base == "/")
                continue;
            auto inside = under(base);
            if (inside && base.size() > bestDepth) {
                drive = letter;
                rest = *inside;
                bestDepth = base.size();
            }
        }
    };
    const std::string& prefix = prefixDirectory();
    consider(u'C', prefix + "/drive_c");
    if (DIR* dir = opendir((prefix + "/dosdevices").c_str())) {
        while (const dirent* entry = readdir(dir)) {
            char letter = entry->d_name[0] | 0x20;
            if (entry->d_name[1] == ':' && entry->d_name[2] == 0 && letter >= 'a' &&
                letter <= 'y' && letter != 'c')
                consider(static_cast<char16_t>(letter & ~0x20),
                         prefix + "/dosdevices/" + entry->d_name);
        }
        closedir(dir);
    }
    std::u16string out(1, drive);
    out += u":\\";
    for (char16_t c : text::toUtf16(rest))
        out += c == u'/' ? u'\\' : c;
    return out;
}

std::u16string currentDirectory() {
    return toWindows(currentNativeDirectory());
}

}  // namespace winsys::paths
