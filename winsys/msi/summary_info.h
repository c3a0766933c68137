// The summary information property set (stream "\005SummaryInformation"):
// a single section of typed properties, text in the code page of PID 1.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace winsys::msi {

struct SummaryProperty {
    uint16_t type = 0;  // VT_I2, VT_I4, VT_LPSTR, VT_FILETIME
    int32_t integer = 0;
    uint64_t filetime = 0;
    std::u16string text;
};

struct SummaryInfo {
    std::map<uint32_t, SummaryProperty> properties;
    unsigned codepage() const;
};

// Expected type of each standard property (0 for ids without one).
uint16_t summaryPropertyType(uint32_t pid);

// nullopt for a malformed stream.
std::optional<SummaryInfo> decodeSummaryInfo(std::span<const uint8_t> bytes);
// nullopt when text has no form in the set's code page.
std::optional<std::vector<uint8_t>> encodeSummaryInfo(const SummaryInfo& info);

}  // namespace winsys::msi
