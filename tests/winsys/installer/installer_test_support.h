// Shared set-up of the installer tests: one fresh prefix for the process (the
// registry keeps its connection open), products registered through the
// registration calls, and files laid out under drive C.
#pragma once

#include <gtest/gtest.h>
#include <msi.h>

#include <filesystem>
#include <string>

#include "installer/registration.h"
#include "winsys/kernel/test_prefix.h"

namespace installer_test {

inline winsys_test::TestPrefix& prefix() {
    static winsys_test::TestPrefix* p = new winsys_test::TestPrefix;
    return *p;
}

// A native path under drive C for a Windows path "C:\..." relative part.
inline std::string onDriveC(const std::string& relative) {
    return prefix().driveC() + "/" + relative;
}

inline void makeFile(const std::string& relative, const std::string& content = "x") {
    std::filesystem::create_directories(std::filesystem::path(onDriveC(relative)).parent_path());
    winsys_test::writeFile(onDriveC(relative), content);
}

inline std::string narrow(const std::u16string& s) {
    return std::string(s.begin(), s.end());
}

inline winsys::installer::ProductRegistration sampleProduct(const std::u16string& code) {
    winsys::installer::ProductRegistration p;
    p.productCode = code;
    p.packageCode = u"{1B2C3D4E-0000-4000-8000-00000000ABCD}";
    p.productName = u"Sample Product";
    p.productVersion = u"1.2.3";
    p.manufacturer = u"Sample Maker";
    p.language = 1033;
    p.localPackage = u"C:\\windows\\Installer\\1a2b3c4d.msi";
    p.installLocation = u"C:\\Program Files\\Sample\\";
    p.installSource = u"C:\\media\\";
    p.packageName = u"sample.msi";
    p.upgradeCode = u"{0A0B0C0D-1111-2222-3333-444455556666}";
    return p;
}

}  // namespace installer_test
