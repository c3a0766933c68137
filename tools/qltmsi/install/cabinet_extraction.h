// Taking files out of a cabinet through the cabinet module's FDI, loaded by
// name at run time as the library loads it.
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "cli_text.h"

namespace qltmsi::install {

// Makes the named cabinet of a set (as the previous one's header names it)
// available beside the first, when a file goes on there; false, with
// `failure` set, when it cannot.
using NextCabinet = std::function<bool(const WideString& name, std::string& failure)>;

// Writes each cabinet member named in targets (member name -> Windows path
// of the file to create) and returns the names written. Members not named
// are skipped; a member that goes on in the next cabinet of a set is
// finished from there. Messages name the cabinet as `display` says (an
// embedded cabinet is read from a temporary copy). Throws InstallError for a
// cabinet that is missing or damaged.
std::set<WideString> extractCabinet(const WideString& cabinetPath, const std::string& display,
                                    const std::map<WideString, WideString>& targets,
                                    const NextCabinet& next = {});

// Size given for a member that began in an earlier cabinet of the set.
inline constexpr long kContinuedMember = -1;

// The members of a cabinet and their sizes, read through FDI without
// writing anything. Throws InstallError as extractCabinet does.
std::map<WideString, long> listCabinet(const WideString& cabinetPath, const std::string& display);

// One member of a cabinet read in full: the size its entry declares and the
// bytes FDI delivered for it; complete when FDI finished the member.
struct MemberReading {
    long declared = 0;
    unsigned long long delivered = 0;
    bool complete = false;
    bool continued = false;  // begun in an earlier cabinet of the set, read from there
};

// Every member of a cabinet decompressed to nowhere, so that FDI checks
// each data block (its checksum when the cabinet has one, and that it
// decompresses to the size it claims). A read that stops is reported in
// `damage`, with the members it reached; nothing is thrown for the data.
struct CabinetReading {
    std::map<WideString, MemberReading> members;
    std::string damage;  // empty: the whole cabinet read back
};
// A member that goes on in the next cabinet of a set is read on from there.
CabinetReading readCabinet(const WideString& cabinetPath, const NextCabinet& next = {});

// Creates a folder and the folders above it (Windows path); returns those it
// created, outermost first.
std::vector<WideString> createFolders(const WideString& folder);

}  // namespace qltmsi::install
