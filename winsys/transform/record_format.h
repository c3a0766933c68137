// The inside of a transform: its root class, the schemas of the system tables
// it carries, and the variable-length row records of its table streams (a
// 16-bit mask, then the cells the mask says are present).
#pragma once

#include <windef.h>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "msi/string_pool.h"
#include "msi/table_codec.h"

namespace winsys::transform {

GUID transformClass();
bool isTransformClass(const GUID& clsid);

inline constexpr std::u16string_view kStringPoolStream = u"_StringPool";
inline constexpr std::u16string_view kStringDataStream = u"_StringData";

// _Tables (Name), _Columns (Table, Number, Name, Type), _Streams (Name, Data).
inline constexpr uint16_t kTablesTypes[] = {0x2D40};
inline constexpr uint16_t kColumnsTypes[] = {0x2D40, 0x2502, 0x0D40, 0x0502};
inline constexpr uint16_t kStreamsTypes[] = {0x2D3E, 0x1900};

// Mask of a record: bit 0 set means an insert of the first `mask >> 8`
// columns; 0 a delete (keys only); other values an update of the columns
// whose bits are set (keys are always present). Only the first 16 columns
// have a bit, so a wider table's later columns change by delete and insert.
inline constexpr uint16_t kInsertBit = 0x0001;
inline constexpr size_t kMaskedColumns = 16;
inline uint16_t insertMask(size_t columns) { return uint16_t(kInsertBit | (columns << 8)); }

// Which of `types.size()` columns a record with `mask` carries, as bits.
// False when an insert names more columns than the table has.
bool presentColumns(uint16_t mask, std::span<const uint16_t> types, uint64_t* present);

// Appends one record; `cells` holds a cell for every column, the absent ones
// ignored.
void appendRecord(std::vector<uint8_t>& out, uint16_t mask, std::span<const uint16_t> types,
                  const msi::Cells& cells, bool wideRefs);

// Reads the record at *offset and moves past it. Absent cells come back 0.
// False when the bytes end inside the record or the mask does not fit.
bool readRecord(std::span<const uint8_t> bytes, size_t* offset, std::span<const uint16_t> types, bool wideRefs,
                uint16_t* mask, msi::Cells* cells, uint64_t* present);

// Appends the key cells of a row as text that compares equal between two
// databases (their string ids differ).
void appendKeyText(std::u16string& out, uint16_t type, uint32_t stored, const msi::StringPool& pool);

}  // namespace winsys::transform
