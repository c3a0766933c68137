// Where each Directory row goes: its target folder on the machine and its
// folder in the source layout beside the package.
#pragma once

#include <map>
#include <string>

#include "install/package_contents.h"

namespace qltmsi::install {

struct DirectoryPaths {
    WideString target;  // Windows paths, ending in '\'
    WideString source;
};

// The standard folder properties and where they point in the prefix.
std::map<WideString, WideString> standardFolders();

// Resolves every Directory row. A directory's target is, in order: a property
// of that name given on the command line; for TARGETDIR, TARGETDIR or
// ROOTDRIVE or C:\; a standard folder; a Property table value of that name;
// otherwise its parent's target plus the long target name of its DefaultDir
// ("target:source", "short|long", "." for the parent itself). Sources follow
// the source names from sourceRoot (the package's folder) down.
std::map<WideString, DirectoryPaths> resolveDirectories(
    const PackageContents& package, const std::map<WideString, WideString>& given,
    const WideString& sourceRoot);

}  // namespace qltmsi::install
