// What names the library's files beside installed packages: the cab cache
// property of a package, and the values of the undo entries. The clean-ups
// at open take only files that none of these reach.
#pragma once

#include "platform/file_identity.h"
#include "platform/platform_calls.h"

#include <string>
#include <vector>

using NamedText = std::basic_string<WCHAR>;

// Every string value of every undo entry; false when they can't all be read,
// and then nothing may be taken for unnamed.
bool ReadUndoEntryTexts(std::vector<NamedText>& texts);

// The files that the named texts reach; false when one that exists can't be
// identified, since it might then be any of the candidates.
bool IdentifyNamedFiles(const std::vector<NamedText>& named, std::vector<FileIdentity>& files);

// The cab cache that a package names (empty when none); false when the
// package can't be read.
bool ReadInstalledCabCache(LPCWSTR package, NamedText& cabCache);

// Adds to `paths` the files in `folder` matching `pattern` whose names pass
// `wanted`.
template <typename Wanted>
void ListFiles(const NamedText& folder, const NamedText& pattern, Wanted wanted,
               std::vector<NamedText>& paths) {
    WIN32_FIND_DATAW entry{};
    const HANDLE find = platformCalls.findFirstFile((folder + pattern).c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        const NamedText name(entry.cFileName);
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && wanted(name)) {
            paths.push_back(folder + name);
        }
    } while (platformCalls.findNextFile(find, &entry));
    FindClose(find);
}
