// The share-mode answers of share_modes_cases.h, checked against Wine: a
// mingw probe opens a package with Wine's Installer and the same file with
// CreateFileW, in every mode and with every kind of handle, both ways.
#include "cfb_test_util.h"
#include "share_modes_cases.h"
#include "shell_output.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <sstream>
#include <string>

using namespace cfbtest;
using namespace sharetest;

namespace {

const PackageMode* modeOf(unsigned persist) {
    for (const PackageMode& mode : kModes)
        if (reinterpret_cast<uintptr_t>(mode.persist) == persist)
            return &mode;
    return nullptr;
}

const HandleKind* handleOf(unsigned long access, unsigned long share) {
    for (const HandleKind& kind : kHandles)
        if (kind.access == access && kind.share == share)
            return &kind;
    return nullptr;
}

TEST(ShareModesUnderWine, InstallerOpensAndHandlesAgreeWithTheCases) {
    if (std::string(WINE_SHARE_PROBE).empty() || std::system("wine --version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "wine or the mingw compiler is not installed";
    ScratchDir dir;
    // A prefix of its own unless the caller gave one (CI makes a fresh one).
    const bool ownPrefix = getenv("WINEPREFIX") == nullptr;
    if (ownPrefix)
        setenv("WINEPREFIX", (dir.path() / "wineprefix").c_str(), 1);
    setenv("WINEDEBUG", "-all", 1);
    std::string package = "Z:";
    for (char c : dir.file("p.msi"))
        package.push_back(c == '/' ? '\\' : c);
    const std::string out =
        shellOutput(std::string("wine ") + WINE_SHARE_PROBE + " '" + package + "' 2>/dev/null");
    if (ownPrefix) {
        std::system("wineserver -k >/dev/null 2>&1");  // before its prefix is removed
        unsetenv("WINEPREFIX");
    }

    std::istringstream lines(out);
    size_t seen = 0;
    for (std::string line; std::getline(lines, line);) {
        char first[16], result[16];
        unsigned persist;
        unsigned long access, share;
        ASSERT_EQ(std::sscanf(line.c_str(), "%15s %u %lx %lx %15s", first, &persist, &access,
                              &share, result),
                  5)
            << line;
        const PackageMode* mode = modeOf(persist);
        const HandleKind* kind = handleOf(access, share);
        ASSERT_TRUE(mode && kind) << line;
        const std::string got = result;
        EXPECT_EQ(got == "ok", together(*mode, *kind)) << line;
        // A refused handle is a sharing violation (Wine's Installer reports
        // its refusals as ERROR_FUNCTION_FAILED; winsys as ERROR_OPEN_FAILED).
        if (std::string(first) == "package" && got != "ok") {
            EXPECT_EQ(got, "32") << line;
        }
        ++seen;
    }
    EXPECT_EQ(seen, 2 * std::size(kModes) * std::size(kHandles)) << out;
}

}  // namespace
