// qltmsi db dump: a package's tables as idt text, with the same code as
// qltmsi-db, so that a person can see what a patch changed.
#include <cstdio>
#include <string>
#include <vector>

#include "cli_text.h"
#include "command_table.h"
#include "package_dump.h"
#include "winsys/paths/paths.h"

namespace qltmsi {

namespace {

constexpr std::string_view kHelp =
    "usage: qltmsi db dump PACKAGE [TABLE]...\n"
    "\n"
    "Prints the named tables of PACKAGE (all of them when none is named) as\n"
    "idt text. PACKAGE is a native path or a Windows path in the prefix.\n"
    "Exit codes: 0 printed; 1 the package or a table cannot be read; 2 usage.\n"
    "\n"
    "example:\n"
    "  qltmsi db dump 'C:\\windows\\Installer\\1a2b3c.msi' File Media\n";

int run(const std::vector<std::string>& args) {
    if (args.size() < 2 || args[0] != "dump") {
        std::fputs("usage: qltmsi db dump PACKAGE [TABLE]...\n", stderr);
        return kExitUsage;
    }
    auto native = winsys::paths::toNative(windowsPathOf(args[1]));
    if (!native) {
        std::fprintf(stderr, "qltmsi db: not a usable path: %s\n", args[1].c_str());
        return kExitFailure;
    }
    std::vector<std::string> tables(args.begin() + 2, args.end());
    return dump::dumpPackage("qltmsi db", *native, tables, stdout, stderr) == 0 ? kExitOk
                                                                               : kExitFailure;
}

}  // namespace

QLTMSI_COMMAND("db", "show a package's tables (db dump)", kHelp, run);

}  // namespace qltmsi
