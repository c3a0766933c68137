// Runs the command line as a program with a prefix of its own, for the tests
// of qltmsi install, verify and patch: exit status and both streams.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "winsys/kernel/test_prefix.h"

namespace cli_test {

struct Outcome {
    int status;
    std::string out, err;
};

// Runs a shell command line with the given prefix, capturing both streams.
inline Outcome run(const std::string& command, const std::string& prefix) {
    std::string outFile = prefix + ".out", errFile = prefix + ".err";
    std::string line =
        "QLTMSI_PREFIX='" + prefix + "' " + command + " >'" + outFile + "' 2>'" + errFile + "'";
    int status = std::system(line.c_str());
    Outcome r{WIFEXITED(status) ? WEXITSTATUS(status) : -1, winsys_test::readFile(outFile),
              winsys_test::readFile(errFile)};
    std::filesystem::remove(outFile);
    std::filesystem::remove(errFile);
    return r;
}

inline std::string quoted(const std::filesystem::path& p) {
    return "'" + p.string() + "'";
}

// The command line with its arguments (QLTMSI_PROGRAM is the built program).
inline std::string qltmsi(const std::string& args) {
    return std::string(QLTMSI_PROGRAM) + " " + args;
}

}  // namespace cli_test
