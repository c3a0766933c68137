// Tables of a package as idt text, shared by qltmsi-db and 'qltmsi db dump'.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace qltmsi::dump {

// Writes the named tables (every table, the summary information and the code
// page first, when none is named) of the package at the native path to out.
// Returns 0, or 1 after a message on err naming programName.
int dumpPackage(const char* programName, const std::string& packagePath,
                const std::vector<std::string>& tables, FILE* out, FILE* err);

}  // namespace qltmsi::dump
