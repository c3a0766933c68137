// The clean-up of the library's files beside a package that nothing names. A
// file is taken only when its name has the exact form the library gives a cab
// cache of this package, so other products' files, and the package itself,
// are never touched.
#include "api/leftover_files.h"

#include "api/moved_out_cab_caches.h"
#include "api/named_files.h"

#include "platform/ascii_text.h"
#include "platform/delete_own_file.h"
#include "platform/file_identity.h"
#include "platform/fixed_names.h"
#include "platform/installer_handle.h"
#include "platform/platform_calls.h"
#include "platform/quillet_registry.h"
#include "platform/registry_key.h"
#include "platform/temporary_files.h"

#include <vector>

namespace {

using Text = std::basic_string<WCHAR>;

constexpr size_t kCodeChars = 4;

bool IsCodeCharacter(WCHAR c) {
    return (c >= '0' && c <= '9') || c == '_';
}

// "base.Lddd.msi", with L a letter from a to y and each d a digit or '_'.
bool IsCabCacheName(const Text& name, const Text& base) {
    const Text extension = TEXT(".msi");
    if (name.size() != base.size() + 1 + kCodeChars + extension.size() ||
        !EqualsIgnoringAsciiCase(WideView(name).substr(0, base.size()), base) ||
        name[base.size()] != '.' ||
        !EqualsIgnoringAsciiCase(WideView(name).substr(name.size() - extension.size()),
                                 extension)) {
        return false;
    }
    const WCHAR letter = name[base.size() + 1];
    if (letter < 'a' || letter > 'y') {
        return false;
    }
    for (size_t i = 2; i <= kCodeChars; ++i) {
        if (!IsCodeCharacter(name[base.size() + i])) {
            return false;
        }
    }
    return true;
}

bool SameFile(const Text& a, const Text& b) {
    FileIdentity first;
    FileIdentity second;
    return IdentifyFile(a.c_str(), first) && IdentifyFile(b.c_str(), second) && first == second;
}

// Entries of this product whose commit never put its package in place (the
// process died between the undo record and the replacement) or whose
// restore put the package back but died before its clean-up. Either way the
// cab cache the entry's commit made exists while the package names another
// one, and the entry can never restore: it goes, with that cab cache. An
// unfinished commit's transform and cab cache copy go too; a restore's stay
// with the caller, as after any restore.
void RemoveEntriesOfUnfinishedRuns(const Text& productCode, const Text& installedCabCache) {
    KeyHolder undo;
    if (platformCalls.regOpenKey(HKEY_LOCAL_MACHINE, kUndoKey, 0, KEY_ALL_ACCESS, undo.out()) !=
        ERROR_SUCCESS) {
        return;
    }
    std::vector<Text> entries;
    for (DWORD index = 0;; ++index) {
        WCHAR entryName[MAX_PATH + 1] = {};
        DWORD entryChars = MAX_PATH + 1;
        if (RegEnumKeyExW(undo.get(), index, entryName, &entryChars, nullptr, nullptr, nullptr,
                          nullptr) != ERROR_SUCCESS) {
            break;
        }
        entries.emplace_back(entryName);
    }
    for (const Text& name : entries) {
        KeyHolder entry;
        if (platformCalls.regOpenKey(undo.get(), name.c_str(), 0, KEY_READ, entry.out()) !=
            ERROR_SUCCESS) {
            continue;
        }
        WidePath product{}, committed{}, transform{}, cabCopy{}, restored{};
        ReadStringValue(entry.get(), kProductGuidValue, product);
        ReadStringValue(entry.get(), kCommittedCabCacheValue, committed);
        ReadStringValue(entry.get(), kRevTransformValue, transform);
        ReadStringValue(entry.get(), kQuilletCabValue, cabCopy);
        ReadStringValue(entry.get(), kRestoredPackageValue, restored);
        entry.Close();
        if (!EqualsIgnoringAsciiCase(product.data(), productCode) || IsEmpty(committed) ||
            platformCalls.fileAttributes(committed.data()) == INVALID_FILE_ATTRIBUTES ||
            (!installedCabCache.empty() && SameFile(committed.data(), installedCabCache))) {
            continue;
        }
        if (platformCalls.regDeleteKey(undo.get(), name.c_str()) != ERROR_SUCCESS) {
            continue;
        }
        DeleteOwnFile(committed.data());
        if (IsEmpty(restored)) {
            platformCalls.deleteFile(transform.data());
            if (!IsEmpty(cabCopy)) {
                platformCalls.deleteFile(cabCopy.data());
            }
        }
    }
}

}  // namespace

void RemoveLeftoverFiles(const PatchContext& context) {
    // Temporary copies beside the package are listed in their maker's
    // ledger: another product's patch in this folder may be replacing its
    // package through one right now.
    RemoveFilesOfEndedProcesses();
    RemoveMovedOutCabCaches(context);
    const Text package(context.packagePath.data());
    const size_t separator = package.rfind(TEXT('\\'));
    if (separator == Text::npos) {
        return;
    }
    const Text folder = package.substr(0, separator + 1);
    const Text fileName = package.substr(separator + 1);
    const size_t dot = fileName.rfind(TEXT('.'));
    if (dot == Text::npos || dot == 0) {
        return;
    }
    const Text base = fileName.substr(0, dot);
    // Most opens find nothing; they read no registry and open no package.
    std::vector<Text> candidates;
    ListFiles(
        folder, base + TEXT(".*.msi"), [&](const Text& name) { return IsCabCacheName(name, base); },
        candidates);
    if (candidates.empty()) {
        return;
    }

    // Under the open's own lock no other process is between naming a new
    // cab cache and the package naming it.
    if (!context.packageLock.held()) {
        return;
    }
    // What the package names now: another process may have committed since
    // the working copy was taken.
    std::vector<Text> named;
    named.emplace_back(context.cabCachePath.data());
    named.emplace_back();
    if (!ReadInstalledCabCache(package.c_str(), named.back())) {
        return;
    }
    if (context.productCode) {
        RemoveEntriesOfUnfinishedRuns(*context.productCode, named.back());
    }
    if (!ReadUndoEntryTexts(named)) {
        return;
    }
    std::vector<FileIdentity> namedFiles;
    if (!IdentifyNamedFiles(named, namedFiles)) {
        return;
    }
    for (const Text& path : candidates) {
        FileIdentity identity;
        if (!IdentifyFile(path.c_str(), identity)) {
            continue;
        }
        bool isNamed = false;
        for (const FileIdentity& namedFile : namedFiles) {
            isNamed = isNamed || namedFile == identity;
        }
        if (!isNamed) {
            DeleteOwnFile(path.c_str());
        }
    }
}
