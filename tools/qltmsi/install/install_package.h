// qltmsi install: the least a real package needs to become an installed
// product on a POSIX host. Caches the package under the Windows folder's
// Installer folder, lays its files out, registers product and components.
// No conditions, custom actions, registry/shortcut/service tables, upgrades.
#pragma once

#include <map>
#include <string>

#include "cli_text.h"

namespace qltmsi::install {

struct InstallRequest {
    WideString packagePath;                       // Windows path
    std::map<WideString, WideString> properties;  // PROPERTY=VALUE from the command line
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
