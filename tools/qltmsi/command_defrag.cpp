// qltmsi defrag: compacts a package file in place through the library's
// DefragMsiFile, which leaves the file alone unless the result is smaller.
#include <cstdio>
#include <string>
#include <vector>

#include "cli_text.h"
#include "command_table.h"
#include "include/qltmsi.h"

namespace qltmsi {

namespace {

constexpr std::string_view kHelp =
    "usage: qltmsi defrag PACKAGE\n"
    "\n"
    "Rewrites PACKAGE (a .msi file, native or Windows path) without the unused\n"
    "space that updates leave behind, when that makes it smaller.\n"
    "Exit codes: 0 compacted or already compact; 1 failure; 2 usage error.\n"
    "\n"
    "example:\n"
    "  qltmsi defrag 'C:\\windows\\Installer\\1a2b3c.msi'\n";

int run(const std::vector<std::string>& args) {
    if (args.size() != 1) {
        std::fputs("usage: qltmsi defrag PACKAGE\n", stderr);
        return kExitUsage;
    }
    WideString package = windowsPathOf(args[0]);
    QLTMSI_STATUS status = DefragMsiFile(package.c_str());
    if (status == QLTMSI_DEFRAG_DONE) {
        std::printf("compacted %s\n", toUtf8(package).c_str());
        return kExitOk;
    }
    if (status == QLTMSI_DEFRAG_NOTHING_CHANGED) {
        std::printf("%s is already compact (or could not be compacted)\n", toUtf8(package).c_str());
        return kExitOk;
    }
    std::fprintf(stderr, "qltmsi defrag: %s: status %u\n", toUtf8(package).c_str(),
                 unsigned(status));
    return kExitFailure;
}

}  // namespace

QLTMSI_COMMAND("defrag", "compact a package file in place", kHelp, run);

}  // namespace qltmsi
