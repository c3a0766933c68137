// Row records of transform table streams.
#include "record_format.h"

#include <cstring>

#include "msi/column_type.h"

namespace winsys::transform {

using msi::Cells;

GUID transformClass() {
    GUID g{};
    g.Data1 = 0x000C1082;
    g.Data4[0] = 0xC0;
    g.Data4[7] = 0x46;
    return g;
}

bool isTransformClass(const GUID& clsid) {
    GUID t = transformClass();
    return std::memcmp(&t, &clsid, sizeof t) == 0;
}

bool presentColumns(uint16_t mask, std::span<const uint16_t> types, uint64_t* present) {
    *present = 0;
    if (mask & kInsertBit) {
        size_t count = mask >> 8;
        if (count > types.size() || count > 64) return false;
        for (size_t i = 0; i < count; ++i) *present |= uint64_t(1) << i;
        return true;
    }
    for (size_t i = 0; i < types.size() && i < 64; ++i)
        if (msi::isKeyType(types[i]) || (i < kMaskedColumns && (mask >> i) & 1)) *present |= uint64_t(1) << i;
    return true;
}

void appendRecord(std::vector<uint8_t>& out, uint16_t mask, std::span<const uint16_t> types, const Cells& cells,
                  bool wideRefs) {
    uint64_t present;
    presentColumns(mask, types, &present);
    out.push_back(uint8_t(mask));
    out.push_back(uint8_t(mask >> 8));
    for (size_t i = 0; i < types.size(); ++i) {
        if (!((present >> i) & 1)) continue;
        unsigned width = msi::cellWidth(types[i], wideRefs);
        for (unsigned b = 0; b < width; ++b) out.push_back(uint8_t(cells[i] >> (8 * b)));
    }
}

bool readRecord(std::span<const uint8_t> bytes, size_t* offset, std::span<const uint16_t> types, bool wideRefs,
                uint16_t* mask, Cells* cells, uint64_t* present) {
    size_t at = *offset;
    if (bytes.size() - at < 2) return false;
    *mask = uint16_t(bytes[at] | (bytes[at + 1] << 8));
    at += 2;
    if (!presentColumns(*mask, types, present)) return false;
    cells->assign(types.size(), 0);
    for (size_t i = 0; i < types.size(); ++i) {
        if (!((*present >> i) & 1)) continue;
        unsigned width = msi::cellWidth(types[i], wideRefs);
        if (bytes.size() - at < width) return false;
        uint32_t v = 0;
        for (unsigned b = 0; b < width; ++b) v |= uint32_t(bytes[at + b]) << (8 * b);
        (*cells)[i] = v;
        at += width;
    }
    *offset = at;
    return true;
}

void appendKeyText(std::u16string& out, uint16_t type, uint32_t stored, const msi::StringPool& pool) {
    if (msi::isStringType(type)) {
        std::u16string_view text = pool.text(stored);
        out.push_back(char16_t(text.size() & 0xFFFF));
        out.push_back(char16_t(text.size() >> 16));
        out += text;
    } else {
        out.push_back(char16_t(stored & 0xFFFF));
        out.push_back(char16_t(stored >> 16));
    }
}

}  // namespace winsys::transform
