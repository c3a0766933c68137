// Table dumps through our engine and through msiinfo, for the tests that
// check that msitools reads what we write (and we read what it writes).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "msi/codepage.h"
#include "msi/database.h"
#include "msi/idt.h"
#include "shell_output.h"

namespace msitest {

inline bool have(const char* tool) {
    return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

inline std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

inline std::string ourDump(const std::string& package, const std::string& table) {
    std::shared_ptr<winsys::msi::Database> db;
    if (winsys::msi::Database::open(package, winsys::msi::OpenMode::ReadOnly, &db)) return "<open failed>";
    std::u16string text;
    if (winsys::msi::exportTable(*db, winsys::msi::decodeCodepage(65001, table), &text)) return "<export failed>";
    return *winsys::msi::encodeCodepage(65001, text);
}

inline std::string peerDump(const std::string& package, const std::string& table) {
    // msiinfo writes binary cells as files under the current directory.
    std::string dir = package.substr(0, package.rfind('/'));
    std::string out = shellOutput("cd '" + dir + "' && msiinfo export '" + package + "' '" + table + "' 2>/dev/null");
    while (!out.empty() && out.back() == '\0') out.pop_back();  // msiinfo ends _ForceCodepage with a NUL
    return out;
}

// Every table msiinfo lists dumps identically.
inline void expectSameDumps(const std::string& package) {
    auto tables = lines(shellOutput("msiinfo tables '" + package + "'"));
    ASSERT_GT(tables.size(), 2u);
    for (const auto& t : tables) EXPECT_EQ(ourDump(package, t), peerDump(package, t)) << package << " table " << t;
}

}  // namespace msitest
