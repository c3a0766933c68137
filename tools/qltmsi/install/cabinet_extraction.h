// Taking files out of a cabinet through the cabinet module's FDI, loaded by
// name at run time as the library loads it.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "cli_text.h"

namespace qltmsi::install {

// Writes each cabinet member named in targets (member name -> Windows path
// of the file to create) and returns the names written. Members not named
// are skipped. Throws InstallError for a cabinet that is missing, damaged,
// compressed in a way we do not read (LZX, Quantum), or spans cabinets.
std::set<WideString> extractCabinet(const WideString& cabinetPath,
                                    const std::map<WideString, WideString>& targets);

// The members of a cabinet and their sizes, read through FDI without
// writing anything. Throws InstallError as extractCabinet does.
std::map<WideString, long> listCabinet(const WideString& cabinetPath);

// One member of a cabinet read in full: the size its entry declares and the
// bytes FDI delivered for it; complete when FDI finished the member.
struct MemberReading {
    long declared = 0;
    unsigned long long delivered = 0;
    bool complete = false;
};

// Every member of a cabinet decompressed to nowhere, so that FDI checks
// each data block (its checksum when the cabinet has one, and that it
// decompresses to the size it claims). A read that stops is reported in
// `damage`, with the members it reached; nothing is thrown for the data.
struct CabinetReading {
    std::map<WideString, MemberReading> members;
    std::string damage;  // empty: the whole cabinet read back
};
CabinetReading readCabinet(const WideString& cabinetPath);

// Creates a folder and the folders above it (Windows path); returns those it
// created, outermost first.
std::vector<WideString> createFolders(const WideString& folder);

}  // namespace qltmsi::install
