// qltmsi verify: checks that an installed product's cached package still
// describes what is on disk (sizes, versions, languages) and that each
// compressed file sits in the cabinet its Media row names, including the
// library's own cabinet, which lives in the cab cache package. Cabinets are
// decompressed in full, so that damaged data shows, unless asked to be quick.
#include <windows.h>
#include <msi.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <optional>
#include <string>
#include <vector>

#include "cli_text.h"
#include "command_table.h"
#include "install/cabinet_extraction.h"
#include "install/cabinet_shelf.h"
#include "install/directory_layout.h"
#include "install/package_contents.h"
#include "platform/ascii_text.h"

namespace qltmsi {

namespace {

using install::InstallError;

constexpr std::string_view kHelp =
    "usage: qltmsi verify --product GUID [--quick]\n"
    "\n"
    "Checks an installed product against its cached package: every file of the\n"
    "File table is on disk with the recorded size, version and language, and\n"
    "every compressed file is in the cabinet of the Media row its Sequence falls\n"
    "in (a stream of the package, a cabinet beside it, or, for a row whose Source\n"
    "names a property, the package that property names, as in the cab cache).\n"
    "Every cabinet a Media row names is read in full: each member decompressed,\n"
    "each data block checked against its checksum where the cabinet has them,\n"
    "and each file's size compared with what came out. A cabinet that cannot be\n"
    "read is a difference. --quick only lists the cabinets' members.\n"
    "One line per file; the last line sums up.\n"
    "Exit codes: 0 all agree; 1 a difference or a failure; 2 usage error.\n"
    "\n"
    "example:\n"
    "  qltmsi verify --product {6D1F2E3A-4B5C-4D6E-9F70-8192A3B4C5D6}\n";

WideString field(MSIHANDLE record, UINT index) {
    DWORD count = 0;
    WCHAR probe[1] = TEXT("");
    if (MsiRecordGetStringW(record, index, probe, &count) == ERROR_SUCCESS)
        return {};
    WideString text(count + 1, TEXT('\0'));
    count += 1;
    MsiRecordGetStringW(record, index, text.data(), &count);
    text.resize(count);
    return text;
}

// Rows of a query as text fields (integers come back as their digits).
std::vector<std::vector<WideString>> rows(MSIHANDLE database, const WCHAR* sql, UINT columns) {
    MsiHandle view;
    if (MsiDatabaseOpenViewW(database, sql, view.Receive()) != ERROR_SUCCESS ||
        MsiViewExecute(view.get(), 0) != ERROR_SUCCESS)
        throw InstallError("cannot read the package (" + toUtf8(sql) + ")");
    std::vector<std::vector<WideString>> result;
    for (;;) {
        MsiHandle record;
        if (MsiViewFetch(view.get(), record.Receive()) != ERROR_SUCCESS)
            break;
        std::vector<WideString> row;
        for (UINT i = 1; i <= columns; ++i)
            row.push_back(field(record.get(), i));
        result.push_back(std::move(row));
    }
    return result;
}

std::optional<WideString> productInfo(const WideString& product, const WCHAR* property,
                                      UINT* error) {
    DWORD count = 0;
    WCHAR probe[1] = TEXT("");
    *error = MsiGetProductInfoW(product.c_str(), property, probe, &count);
    if (*error != ERROR_MORE_DATA && *error != ERROR_SUCCESS)
        return std::nullopt;
    WideString value(count + 1, TEXT('\0'));
    count += 1;
    *error = MsiGetProductInfoW(product.c_str(), property, value.data(), &count);
    if (*error != ERROR_SUCCESS)
        return std::nullopt;
    value.resize(count);
    return value;
}

// Where the installer put a component, from the path it registered for the
// component's key path: the folder of a key file, or the key folder itself.
// The Directory table alone cannot say it: a folder property may have been
// set at install time, and a 32-bit product on a 64-bit system goes under
// another Program Files. Nothing for a component not installed locally or
// keyed by a registry value.
std::optional<WideString> installedFolder(const WideString& product,
                                          const install::ComponentRow& component,
                                          const install::PackageContents& package) {
    if (component.componentId.empty() ||
        (component.attributes & install::kComponentRegistryKeyPath))
        return std::nullopt;
    WCHAR path[MAX_PATH + 1] = TEXT("");
    DWORD length = MAX_PATH + 1;
    if (MsiGetComponentPathW(product.c_str(), component.componentId.c_str(), path, &length) !=
            INSTALLSTATE_LOCAL ||
        length == 0)
        return std::nullopt;
    WideString registered(path, length);
    bool keyedByFile = component.keyPath && std::any_of(package.files.begin(), package.files.end(),
                                                        [&](const install::FileRow& file) {
                                                            return file.key == *component.keyPath;
                                                        });
    if (keyedByFile)
        return folderOf(registered);
    return registered.back() == TEXT('\\') ? registered : registered + TEXT('\\');
}

// Components the install left out (a feature not chosen, a condition that
// did not hold): never registered, or, where several components share one
// ComponentId, not the one whose key file the registered path names.
std::set<WideString> componentsLeftOut(const WideString& product,
                                       const install::PackageContents& package) {
    std::map<WideString, int> sharing;
    for (const auto& component : package.components)
        ++sharing[component.componentId];
    std::set<WideString> leftOut;
    for (const auto& component : package.components) {
        if (component.componentId.empty())
            continue;
        WCHAR path[MAX_PATH + 1] = TEXT("");
        DWORD length = MAX_PATH + 1;
        INSTALLSTATE state = MsiGetComponentPathW(product.c_str(), component.componentId.c_str(),
                                                  path, &length);
        if (state == INSTALLSTATE_UNKNOWN) {
            leftOut.insert(component.key);
            continue;
        }
        if (sharing[component.componentId] < 2 || !component.keyPath)
            continue;
        auto file = std::find_if(package.files.begin(), package.files.end(),
                                 [&](const install::FileRow& f) { return f.key == *component.keyPath; });
        auto folder = std::find_if(
            package.directories.begin(), package.directories.end(),
            [&](const install::DirectoryRow& d) { return d.key == component.directory; });
        if (file == package.files.end() || folder == package.directories.end())
            continue;
        WideString target = folder->defaultDir.substr(0, folder->defaultDir.find(TEXT(':')));
        WideString tail = TEXT("\\") + install::longName(target) + TEXT("\\") +
                          install::longName(file->fileName);
        WideString registered = LowerAscii(WideString(path, length));
        tail = LowerAscii(tail);
        if (registered.size() < tail.size() ||
            registered.compare(registered.size() - tail.size(), tail.size(), tail) != 0)
            leftOut.insert(component.key);
    }
    return leftOut;
}

struct MediaRow {
    int lastSequence = 0;
    WideString cabinet, source;
};

struct Tally {
    int files = 0, differences = 0;
    void fail(const WideString& path, const std::string& why) { fail(toUtf8(path), why); }
    void fail(const std::string& what, const std::string& why) {
        ++differences;
        std::printf("DIFF %s: %s\n", what.c_str(), why.c_str());
    }
};

// What one cabinet holds, as far as it could be read.
struct CabinetContents {
    std::map<WideString, install::MemberReading> members;
    std::string where;
    std::string damage;  // empty: read (or, quick, listed) without fault
};

// Reads each cabinet a Media row names once: in full, every member
// decompressed and checked by FDI; quick, only its list of members. A
// cabinet that cannot be read is one difference, reported when first met.
class CabinetReader {
  public:
    CabinetReader(const install::PackageContents& package, WideString packagePath,
                  WideString sourceFolder, bool quick, Tally& tally)
        : package_(package),
          packagePath_(std::move(packagePath)),
          sourceFolder_(std::move(sourceFolder)),
          quick_(quick),
          tally_(tally) {}

    const CabinetContents& contents(const MediaRow& row) {
        auto key = row.cabinet + TEXT("|") + row.source;
        auto found = cache_.find(key);
        if (found != cache_.end())
            return found->second;
        CabinetContents& cabinet = cache_[key];
        try {
            load(row, cabinet);
        } catch (const InstallError& error) {
            cabinet.damage = error.what();
        }
        if (cabinet.where.empty())
            cabinet.where = "cabinet " + toUtf8(row.cabinet);
        std::printf("cabinet %s:\n", cabinet.where.c_str());
        for (auto& [name, member] : cabinet.members) {
            if (member.continued)
                std::printf("     %-30s part, begun in an earlier cabinet\n", toUtf8(name).c_str());
            else
                std::printf("     %-30s %ld bytes%s\n", toUtf8(name).c_str(), member.declared,
                            quick_ ? "" : member.complete ? ", read" : ", NOT READ");
        }
        if (!cabinet.damage.empty())
            tally_.fail(cabinet.where, cabinet.damage);
        return cabinet;
    }

  private:
    void load(const MediaRow& row, CabinetContents& cabinet) {
        if (!row.cabinet.empty() && row.cabinet[0] == TEXT('#')) {
            WideString stream = row.cabinet.substr(1);
            WideString holder = packagePath_;
            if (!row.source.empty()) {
                holder = package_.property(row.source);
                if (holder.empty())
                    throw InstallError("the Media row of " + toUtf8(row.cabinet) +
                                       " names the property " + toUtf8(row.source) +
                                       ", which the package does not have");
            }
            MsiHandle database;
            if (MsiOpenDatabaseW(holder.c_str(), MSIDBOPEN_READONLY, database.Receive()) !=
                ERROR_SUCCESS)
                throw InstallError("cannot open " + toUtf8(holder));
            install::CabinetShelf shelf(database.get(), holder, sourceFolder_);
            read(shelf, row.cabinet, cabinet);
        } else {
            install::CabinetShelf shelf(0, packagePath_, sourceFolder_);
            read(shelf, row.cabinet, cabinet);
        }
    }

    void read(install::CabinetShelf& shelf, const WideString& value, CabinetContents& cabinet) {
        WideString path = shelf.place(value, cabinet.where);
        if (quick_) {
            for (auto& [name, size] : install::listCabinet(path, cabinet.where)) {
                bool continued = size == install::kContinuedMember;
                cabinet.members[name] = {size, static_cast<unsigned long long>(size), !continued,
                                         continued};
            }
            return;
        }
        auto reading = install::readCabinet(path, shelf.nextOf(value));
        cabinet.members = std::move(reading.members);
        cabinet.damage = std::move(reading.damage);
    }

    const install::PackageContents& package_;
    WideString packagePath_, sourceFolder_;
    bool quick_;
    Tally& tally_;
    std::map<WideString, CabinetContents> cache_;
};

void checkOnDisk(const WideString& path, const install::FileRow& file, const WideString& version,
                 const WideString& language, Tally& tally, bool* ok) {
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        tally.fail(path, "missing on disk");
        *ok = false;
        return;
    }
    DWORD high = 0;
    DWORD low = GetFileSize(handle, &high);
    CloseHandle(handle);
    unsigned long long size = (unsigned long long)high << 32 | low;
    if (size != (unsigned long long)file.size) {
        tally.fail(path, "size " + std::to_string(size) + " on disk, " + std::to_string(file.size) +
                             " in the package");
        *ok = false;
    }
    // A Version that does not start with a digit names a companion file.
    if (version.empty() || version[0] < TEXT('0') || version[0] > TEXT('9'))
        return;
    WCHAR diskVersion[64] = TEXT(""), diskLanguage[256] = TEXT("");
    DWORD versionSize = 64, languageSize = 256;
    if (MsiGetFileVersionW(path.c_str(), diskVersion, &versionSize, diskLanguage, &languageSize) !=
        ERROR_SUCCESS) {
        tally.fail(path, "no version resource; the package says " + toUtf8(version));
        *ok = false;
        return;
    }
    if (version != diskVersion) {
        tally.fail(path, "version " + toUtf8(diskVersion) + " on disk, " + toUtf8(version) +
                             " in the package");
        *ok = false;
    }
    if (!language.empty() && language != diskLanguage) {
        tally.fail(path, "language " + toUtf8(diskLanguage) + " on disk, " + toUtf8(language) +
                             " in the package");
        *ok = false;
    }
}

int verify(const WideString& product, bool quick) {
    UINT error = 0;
    auto packagePath = productInfo(product, INSTALLPROPERTY_LOCALPACKAGE, &error);
    if (!packagePath) {
        std::fprintf(stderr, "qltmsi verify: %s is not an installed product (error %u)\n",
                     toUtf8(product).c_str(), error);
        return kExitFailure;
    }
    MsiHandle database;
    if (MsiOpenDatabaseW(packagePath->c_str(), MSIDBOPEN_READONLY, database.Receive()) !=
        ERROR_SUCCESS) {
        std::fprintf(stderr, "qltmsi verify: cannot open the cached package %s\n",
                     toUtf8(*packagePath).c_str());
        return kExitFailure;
    }
    auto package = install::readPackage(database.get());
    WideString sourceFolder = folderOf(*packagePath);
    if (auto source = productInfo(product, INSTALLPROPERTY_INSTALLSOURCE, &error);
        source && !source->empty())
        sourceFolder = *source + (source->back() == TEXT('\\') ? TEXT("") : TEXT("\\"));
    auto folders = install::resolveDirectories(package, {}, sourceFolder);

    std::map<WideString, std::pair<WideString, WideString>> versions;
    for (auto& row :
         rows(database.get(), TEXT("SELECT `File`, `Version`, `Language` FROM `File`"), 3))
        versions[row[0]] = {row[1], row[2]};
    std::vector<MediaRow> media;
    for (auto& row :
         rows(database.get(), TEXT("SELECT `LastSequence`, `Cabinet`, `Source` FROM `Media`"), 3))
        media.push_back({std::stoi(toUtf8(row[0])), row[1], row[2]});
    std::sort(media.begin(), media.end(),
              [](auto& a, auto& b) { return a.lastSequence < b.lastSequence; });

    std::map<WideString, WideString> componentFolder;
    for (auto& component : package.components)
        componentFolder[component.key] = installedFolder(product, component, package)
                                             .value_or(folders[component.directory].target);

    Tally tally;
    CabinetReader cabinets(package, *packagePath, sourceFolder, quick, tally);
    // Every cabinet the package names, whether or not a file still points
    // into it: the package's own beside the cab cache's.
    for (const auto& row : media)
        if (!row.cabinet.empty())
            cabinets.contents(row);
    std::vector<install::FileRow> files = package.files;
    std::sort(files.begin(), files.end(), [](auto& a, auto& b) { return a.sequence < b.sequence; });
    std::set<WideString> leftOut = componentsLeftOut(product, package);
    for (const auto& file : files) {
        WideString path = componentFolder[file.component] + install::longName(file.fileName);
        if (leftOut.count(file.component)) {
            // Where the package would have put it: the registered path is
            // another component's.
            const install::ComponentRow* row = nullptr;
            for (const auto& component : package.components)
                if (component.key == file.component)
                    row = &component;
            WideString would = (row ? folders[row->directory].target : WideString()) +
                               install::longName(file.fileName);
            std::printf("skip %s (component %s not installed)\n", toUtf8(would).c_str(),
                        toUtf8(file.component).c_str());
            continue;
        }
        ++tally.files;
        bool ok = true;
        checkOnDisk(path, file, versions[file.key].first, versions[file.key].second, tally, &ok);

        bool compressed = (file.attributes & install::kFileCompressed) ||
                          (!(file.attributes & install::kFileNoncompressed) &&
                           (package.sourceType & install::kSourceCompressed));
        std::string where = "uncompressed source";
        if (compressed) {
            auto row = std::find_if(media.begin(), media.end(),
                                    [&](auto& m) { return m.lastSequence >= file.sequence; });
            if (row == media.end() || row->cabinet.empty()) {
                tally.fail(path, "sequence " + std::to_string(file.sequence) +
                                     " falls in no Media row with a cabinet");
                ok = false;
            } else {
                auto& cabinet = cabinets.contents(*row);
                where = cabinet.where;
                auto member = cabinet.members.find(file.key);
                if (member == cabinet.members.end() && cabinet.damage.empty()) {
                    tally.fail(path, "not in " + where);
                    ok = false;
                } else if (member != cabinet.members.end() && member->second.continued &&
                           cabinet.damage.empty()) {
                    where += " (begun in an earlier cabinet)";
                } else if (member == cabinet.members.end() || !member->second.complete) {
                    tally.fail(path, "cannot be read from " + where + ": " + cabinet.damage);
                    ok = false;
                } else if (member->second.delivered != (unsigned long long)file.size) {
                    tally.fail(path, "size " + std::to_string(member->second.delivered) + " in " +
                                         where + ", " + std::to_string(file.size) +
                                         " in the package");
                    ok = false;
                }
            }
        }
        if (ok)
            std::printf("ok   %s (%d bytes, sequence %d, %s)\n", toUtf8(path).c_str(), file.size,
                        file.sequence, where.c_str());
    }
    std::printf("%d files, %d differences\n", tally.files, tally.differences);
    return tally.differences ? kExitFailure : kExitOk;
}

int run(const std::vector<std::string>& args) {
    std::optional<std::string> product;
    bool quick = false;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--quick" && !quick) {
            quick = true;
        } else if (args[i] == "--product" && !product && i + 1 < args.size()) {
            product = args[++i];
        } else {
            product.reset();
            break;
        }
    }
    if (!product) {
        std::fputs("usage: qltmsi verify --product GUID [--quick]\n", stderr);
        return kExitUsage;
    }
    try {
        return verify(toWide(*product), quick);
    } catch (const InstallError& error) {
        std::fprintf(stderr, "qltmsi verify: %s\n", error.what());
        return kExitFailure;
    }
}

}  // namespace

QLTMSI_COMMAND("verify", "check an installed product against its package", kHelp, run);

}  // namespace qltmsi
