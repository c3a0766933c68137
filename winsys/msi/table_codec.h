// Rows of a table stream: column-major cells, each in its stored form
// (see column_type.h). Only persistent columns are stored.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace winsys::msi {

using Cells = std::vector<uint32_t>;
// The cells of a row wherever they are kept.
using CellView = std::span<const uint32_t>;

// Decodes `bytes` into rows of `types.size()` cells. Trailing bytes that do
// not make a whole row are ignored. A stream written with 2-byte string
// references is accepted under a 3-byte pool when only that width divides it.
std::vector<Cells> decodeTableStream(std::span<const uint8_t> bytes, std::span<const uint16_t> types,
                                     bool wideRefs);
// The same rows handed to `use` one at a time, in stream order, without
// gathering them first (the view is valid during the call only); stops at the
// first row `use` returns false for.
bool forEachStoredRow(std::span<const uint8_t> bytes, std::span<const uint16_t> types, bool wideRefs,
                      const std::function<bool(CellView)>& use);

// `columns`, when given, names the cell of each row that goes into each
// stored column (temporary columns are skipped that way).
std::vector<uint8_t> encodeTableStream(std::span<const CellView> rows, std::span<const uint16_t> types,
                                       bool wideRefs, std::span<const size_t> columns = {});
std::vector<uint8_t> encodeTableStream(std::span<const Cells* const> rows, std::span<const uint16_t> types,
                                       bool wideRefs, std::span<const size_t> columns = {});

}  // namespace winsys::msi
