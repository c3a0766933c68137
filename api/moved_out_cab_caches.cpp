// Moved-out cab caches that nothing names. Their names say nothing of the
// package they were made for, so a file is taken only when its cabinet shows
// it to be a copy of the one the opened package holds: had a commit followed
// the move, the package would hold no cabinet of its own.
#include "api/moved_out_cab_caches.h"

#include "api/named_files.h"
#include "platform/ascii_text.h"
#include "platform/delete_own_file.h"
#include "platform/fixed_names.h"
#include "platform/installer_handle.h"
#include "platform/package_lock.h"

#include <vector>

namespace {

using Text = NamedText;
using Bytes = std::vector<char>;

constexpr DWORD kStreamChunk = 4096;
constexpr LPCWSTR kCabinetQuery =
    TEXT("SELECT * FROM `_Streams` WHERE `Name`='") QUILLET_CABINET_STREAM TEXT("'");

// "Lddd_.msi", with L a letter from a to y and each d a digit or '_'.
bool IsMovedOutName(const Text& name) {
    const Text suffix = TEXT("_.msi");
    if (name.size() != 4 + suffix.size() || name[0] < 'a' || name[0] > 'y' ||
        !EqualsIgnoringAsciiCase(WideView(name).substr(4), suffix)) {
        return false;
    }
    for (size_t i = 1; i < 4; ++i) {
        if (!((name[i] >= '0' && name[i] <= '9') || name[i] == '_')) {
            return false;
        }
    }
    return true;
}

// The library's cabinet stream of a package; false when it has none or it
// can't be read whole.
bool ReadCabinetStream(LPCWSTR package, Bytes& bytes) {
    MsiHandle database;
    MsiHandle view;
    MsiHandle row;
    if (MsiOpenDatabaseW(package, MSIDBOPEN_READONLY, database.Receive()) != ERROR_SUCCESS ||
        OpenExecutedView(database.get(), kCabinetQuery, 0, view) != ERROR_SUCCESS ||
        MsiViewFetch(view.get(), row.Receive()) != ERROR_SUCCESS) {
        return false;
    }
    bytes.clear();
    char chunk[kStreamChunk];
    for (;;) {
        DWORD count = kStreamChunk;
        if (MsiRecordReadStream(row.get(), 2, chunk, &count) != ERROR_SUCCESS) {
            return false;
        }
        bytes.insert(bytes.end(), chunk, chunk + count);
        if (count < kStreamChunk) {
            return !bytes.empty();
        }
    }
}

bool IsNamed(const Text& path, const std::vector<FileIdentity>& named) {
    FileIdentity identity;
    if (!IdentifyFile(path.c_str(), identity)) {
        return true;  // unknown: kept
    }
    for (const FileIdentity& one : named) {
        if (one == identity) {
            return true;
        }
    }
    return false;
}

}  // namespace

void RemoveMovedOutCabCaches(const PatchContext& context) {
    const Text package(context.packagePath.data());
    const size_t separator = package.rfind(TEXT('\\'));
    if (separator == Text::npos || !context.packageLock.held()) {
        return;
    }
    const Text folder = package.substr(0, separator + 1);
    std::vector<Text> candidates;
    ListFiles(folder, TEXT("*_.msi"), [](const Text& name) { return IsMovedOutName(name); },
              candidates);
    Bytes own;
    if (candidates.empty() || !ReadCabinetStream(package.c_str(), own)) {
        return;
    }
    std::vector<Text> copies;
    for (const Text& candidate : candidates) {
        Bytes cabinet;
        if (ReadCabinetStream(candidate.c_str(), cabinet) && cabinet == own) {
            copies.push_back(candidate);
        }
    }
    if (copies.empty()) {
        return;
    }
    // Every package of the folder, the opened one included (another process
    // may have committed it since the open): each one's lock had for the
    // moment its cab cache is read, or nothing goes.
    std::vector<Text> packages;
    ListFiles(folder, TEXT("*.msi"), [](const Text& name) { return !IsMovedOutName(name); },
              packages);
    std::vector<Text> named;
    for (const Text& other : packages) {
        named.emplace_back();
        if (EqualsIgnoringAsciiCase(other, package)) {
            if (!ReadInstalledCabCache(other.c_str(), named.back())) {
                return;
            }
            continue;
        }
        PackageLock lock;
        if (!lock.Acquire(other.c_str(), 0)) {
            return;
        }
        // A file that is no package names nothing.
        ReadInstalledCabCache(other.c_str(), named.back());
    }
    named.emplace_back(context.cabCachePath.data());
    std::vector<FileIdentity> namedFiles;
    if (!ReadUndoEntryTexts(named) || !IdentifyNamedFiles(named, namedFiles)) {
        return;
    }
    for (const Text& copy : copies) {
        if (!IsNamed(copy, namedFiles)) {
            DeleteOwnFile(copy.c_str());
        }
    }
}
