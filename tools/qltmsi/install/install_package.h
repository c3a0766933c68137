// qltmsi install: the least a real package needs to become an installed
// product on a POSIX host. Caches the package under the Windows folder's
// Installer folder, lays out the files of the features and components that
// levels and conditions choose, registers product and components. No custom
// actions, registry/shortcut/service tables, upgrades.
#pragma once

#include <map>
#include <string>

#include "cli_text.h"

namespace qltmsi::install {

struct InstallRequest {
    WideString packagePath;                       // Windows path
    std::map<WideString, WideString> properties;  // PROPERTY=VALUE from the command line
    bool system32Bit = false;                     // conditions see a 32-bit system
};

struct InstalledProduct {
    WideString productCode, productName, productVersion;
    WideString localPackage, installLocation;
    size_t fileCount = 0;
};

// Throws InstallError with the message for the user; what it created before
// a failure (cached package, files) is removed again.
InstalledProduct installPackage(const InstallRequest& request);

}  // namespace qltmsi::install
