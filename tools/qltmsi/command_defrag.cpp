// qltmsi defrag: compacts a package file in place through the library's
// DefragMsiFile, which leaves the file alone unless the result is smaller.
// The library answers only "done" or "not done"; the reason for a refusal
// and whether the file shrank are found out here.
#include <cstdio>
#include <optional>
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

std::optional<unsigned long long> sizeOf(const WideString& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    LARGE_INTEGER size{};
    const BOOL known = GetFileSizeEx(file, &size);
    CloseHandle(file);
    if (!known) {
        return std::nullopt;
    }
    return static_cast<unsigned long long>(size.QuadPart);
}

int fail(const WideString& package, const char* reason) {
    std::fprintf(stderr, "qltmsi defrag: %s: %s\n", toUtf8(package).c_str(), reason);
    return kExitFailure;
}

int run(const std::vector<std::string>& args) {
    if (args.size() != 1) {
        std::fputs("usage: qltmsi defrag PACKAGE\n", stderr);
        return kExitUsage;
    }
    WideString package = windowsPathOf(args[0]);
    const DWORD attributes = GetFileAttributesW(package.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return fail(package, "no such file");
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return fail(package, "is a folder, not a package");
    }
    const std::optional<unsigned long long> before = sizeOf(package);
    QLTMSI_STATUS status = DefragMsiFile(package.c_str());
    if (status != QLTMSI_DEFRAG_DONE) {
        return fail(package,
                    "could not be compacted: not a Windows Installer package, held open for "
                    "writing by another program, or no usable temporary folder; it is unchanged");
    }
    const std::optional<unsigned long long> after = sizeOf(package);
    if (before && after && *after < *before) {
        std::printf("compacted %s: %llu bytes, was %llu\n", toUtf8(package).c_str(), *after,
                    *before);
    } else if ((GetFileAttributesW(package.c_str()) & FILE_ATTRIBUTE_READONLY) != 0) {
        // A smaller copy may have been made and refused by the read-only file.
        return fail(package, "is read-only and was left as it is");
    } else {
        std::printf("%s is already compact\n", toUtf8(package).c_str());
    }
    return kExitOk;
}

}  // namespace

QLTMSI_COMMAND("defrag", "compact a package file in place", kHelp, run);

}  // namespace qltmsi
