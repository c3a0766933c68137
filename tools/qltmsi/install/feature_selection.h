// Which features and components an install puts in place: features by their
// Level against INSTALLLEVEL, as the Condition table changes the levels, and
// under their parents; components of the chosen features whose own
// Condition holds. ADDLOCAL and REMOVE, when given, choose the features
// instead of the levels, as on Windows.
#pragma once

#include <map>
#include <set>

#include "cli_text.h"
#include "install/package_contents.h"

namespace qltmsi::install {

struct Selection {
    std::set<WideString> features;
    std::set<WideString> components;
};

// `properties` are those conditions see (package, system, command line,
// merged); `environment` the variables they see. Throws InstallError for a
// condition that does not parse, an INSTALLLEVEL that is not a number, or an
// ADDLOCAL or REMOVE naming a feature the package lacks.
// A package without features installs every component whose condition holds.
Selection selectFeatures(const PackageContents& package,
                         const std::map<WideString, WideString>& properties,
                         const std::map<WideString, WideString>& environment);

}  // namespace qltmsi::install
