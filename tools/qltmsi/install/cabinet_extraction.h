// Taking files out of a cabinet through the cabinet module's FDI, loaded by
// name at run time as the library loads it.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

namespace qltmsi::install {

// Writes each cabinet member named in targets (member name -> Windows path
// of the file to create) and returns the names written. Members not named
// are skipped. Throws InstallError for a cabinet that is missing, damaged,
// compressed in a way we do not read (LZX, Quantum), or spans cabinets.
std::set<std::u16string> extractCabinet(const std::u16string& cabinetPath,
                                        const std::map<std::u16string, std::u16string>& targets);

// The members of a cabinet and their sizes, read through FDI without
// writing anything. Throws InstallError as extractCabinet does.
std::map<std::u16string, long> listCabinet(const std::u16string& cabinetPath);

// Creates a folder and the folders above it (Windows path); returns those it
// created, outermost first.
std::vector<std::u16string> createFolders(const std::u16string& folder);

}  // namespace qltmsi::install
