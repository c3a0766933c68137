// qltmsi install PACKAGE.msi [PROPERTY=VALUE...]

#include <cstdio>

#include "cli_text.h"
#include "command_table.h"
#include "host/host.h"
#include "install/install_package.h"
#include "install/package_contents.h"

namespace qltmsi {

namespace {

constexpr std::string_view kHelp =
    "usage: qltmsi install [--32-bit] PACKAGE.msi [PROPERTY=VALUE...]\n"
    "\n"
    "Puts the product of a Windows Installer package in place in the prefix\n"
    "($QLTMSI_PREFIX, default ~/.qltmsi), so that qltmsi can patch it:\n"
    "  - caches the package as C:\\windows\\Installer\\xxxxxxxx.msi;\n"
    "  - lays out every component's files where the Directory table puts them\n"
    "    (TARGETDIR is C:\\ unless ROOTDRIVE or TARGETDIR is given), from the\n"
    "    package's embedded cabinets, cabinets beside it, or its source tree;\n"
    "  - registers product and components as Windows Installer does.\n"
    "Features are installed by their Level against INSTALLLEVEL, as the\n"
    "Condition table changes it, or, when ADDLOCAL or REMOVE is given (a\n"
    "comma-separated list of features, or ALL), by those, as on Windows;\n"
    "components of installed features whose Condition holds are laid out. Conditions see the properties of 64-bit\n"
    "Windows 10 (--32-bit: of 32-bit Windows 10), the package's and the\n"
    "command line's.\n"
    "PACKAGE may be a native path or a Windows path. PROPERTY=VALUE sets a\n"
    "property: a folder (INSTALLDIR=C:\\Apps\\Sample\\, ROOTDRIVE=D:\\, also one\n"
    "a custom action would set, at any level), INSTALLLEVEL, or any other.\n"
    "\n"
    "This is not a full installer: it runs no custom actions, and does not\n"
    "process the registry, shortcut, service, font or other tables, other\n"
    "feature choices (ADDSOURCE, ADVERTISE, ...), upgrades or repairs. A product that is\n"
    "already installed is refused. Cabinets may be MSZIP, LZX, Quantum or\n"
    "stored, and a file may go on from one cabinet into the next.\n";

int run(const std::vector<std::string>& args) {
    install::InstallRequest request;
    for (const auto& arg : args) {
        size_t equals = arg.find('=');
        if (arg == "--32-bit") {
            request.system32Bit = true;
        } else if (equals != std::string::npos && equals > 0) {
            request.properties[toWide(arg.substr(0, equals))] = toWide(arg.substr(equals + 1));
        } else if (request.packagePath.empty() && !arg.empty() && arg[0] != '-') {
            request.packagePath = windowsPathOf(arg);
        } else {
            std::fprintf(stderr, "qltmsi install: unexpected argument '%s'\n", arg.c_str());
            return kExitUsage;
        }
    }
    if (request.packagePath.empty()) {
        std::fputs("usage: qltmsi install PACKAGE.msi [PROPERTY=VALUE...]\n", stderr);
        return kExitUsage;
    }
    try {
        install::InstalledProduct product = install::installPackage(request);
        if (host::isTerminal(stdout))
            std::printf("installed %s %s %s: %zu files, package cached as %s\n",
                        toUtf8(product.productCode).c_str(), toUtf8(product.productName).c_str(),
                        toUtf8(product.productVersion).c_str(), product.fileCount,
                        toUtf8(product.localPackage).c_str());
        return kExitOk;
    } catch (const install::InstallError& e) {
        std::fprintf(stderr, "qltmsi install: %s\n", e.what());
        return kExitFailure;
    }
}

}  // namespace

QLTMSI_COMMAND("install", "put a package's product in place in the prefix (not a full installer)",
               kHelp, run);

}  // namespace qltmsi
