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

// Resolves the Directory rows. A directory's target is, in order: a property
// of that name given on the command line, whatever its parent chain (a
// folder a custom action would set); for TARGETDIR, TARGETDIR or ROOTDRIVE or
// C:\; a standard folder; a Property table value of that name; otherwise its
// parent's target plus the long target name of its DefaultDir
// ("target:source", "short|long", "." for the parent itself). A parent that
// is no Directory row but is given on the command line is a folder of its
// own. Sources follow the source names from sourceRoot (the package's
// folder) down. Rows that cannot be resolved are left out, with the reason
// in `unresolved`.
std::map<WideString, DirectoryPaths> resolveDirectories(
    const PackageContents& package, const std::map<WideString, WideString>& given,
    const WideString& sourceRoot, std::map<WideString, std::string>* unresolved = nullptr);

}  // namespace qltmsi::install
