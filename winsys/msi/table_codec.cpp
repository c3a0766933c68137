// Column-major table streams.
#include "table_codec.h"

#include "column_type.h"

namespace winsys::msi {
namespace {

// Cells are 2, 3 or 4 bytes, little-endian.
uint32_t readCell(const uint8_t* at, unsigned width) {
    uint32_t v = at[0] | (uint32_t(at[1]) << 8);
    if (width > 2) v |= uint32_t(at[2]) << 16;
    if (width > 3) v |= uint32_t(at[3]) << 24;
    return v;
}

size_t rowWidth(std::span<const uint16_t> types, bool wide) {
    size_t w = 0;
    for (uint16_t t : types) w += cellWidth(t, wide);
    return w;
}

}  // namespace

std::vector<Cells> decodeTableStream(std::span<const uint8_t> bytes, std::span<const uint16_t> types,
                                     bool wideRefs) {
    std::vector<Cells> rows;
    forEachStoredRow(bytes, types, wideRefs, [&](CellView cells) {
        rows.emplace_back(cells.begin(), cells.end());
        return true;
    });
    return rows;
}

bool forEachStoredRow(std::span<const uint8_t> bytes, std::span<const uint16_t> types, bool wideRefs,
                      const std::function<bool(CellView)>& use) {
    size_t width = rowWidth(types, wideRefs);
    if (width == 0) return true;
    if (wideRefs && bytes.size() % width != 0) {
        size_t narrow = rowWidth(types, false);
        if (bytes.size() % narrow == 0) {
            wideRefs = false;
            width = narrow;
        }
    }
    size_t count = bytes.size() / width;
    // Where each column's cells start, and their width.
    std::vector<size_t> starts(types.size());
    std::vector<unsigned> widths(types.size());
    size_t offset = 0;
    for (size_t c = 0; c < types.size(); ++c) {
        widths[c] = cellWidth(types[c], wideRefs);
        starts[c] = offset;
        offset += widths[c] * count;
    }
    Cells cells(types.size());
    for (size_t r = 0; r < count; ++r) {
        for (size_t c = 0; c < types.size(); ++c) {
            const uint8_t* at = bytes.data() + starts[c] + r * widths[c];
            cells[c] = readCell(at, widths[c]);
        }
        if (!use(cells)) return false;
    }
    return true;
}

std::vector<uint8_t> encodeTableStream(std::span<const Cells* const> rows, std::span<const uint16_t> types,
                                       bool wideRefs, std::span<const size_t> columns) {
    std::vector<CellView> views(rows.size());
    for (size_t i = 0; i < rows.size(); ++i) views[i] = *rows[i];
    return encodeTableStream(std::span<const CellView>(views), types, wideRefs, columns);
}

std::vector<uint8_t> encodeTableStream(std::span<const CellView> rows, std::span<const uint16_t> types,
                                       bool wideRefs, std::span<const size_t> columns) {
    std::vector<uint8_t> out(rows.size() * rowWidth(types, wideRefs));
    uint8_t* at = out.data();
    for (size_t c = 0; c < types.size(); ++c) {
        unsigned w = cellWidth(types[c], wideRefs);
        size_t cell = columns.empty() ? c : columns[c];
        for (CellView row : rows) {
            uint32_t v = row[cell];
            at[0] = uint8_t(v);
            at[1] = uint8_t(v >> 8);
            if (w > 2) at[2] = uint8_t(v >> 16);
            if (w > 3) at[3] = uint8_t(v >> 24);
            at += w;
        }
    }
    return out;
}

}  // namespace winsys::msi
