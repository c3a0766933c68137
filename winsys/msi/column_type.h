// The column type word of Windows Installer schemas (_Columns.Type) and what
// follows from it: cell width, null and integer encodings, the text form that
// column-info records and exported tables show.
#pragma once

#include <cstdint>
#include <string>

namespace winsys::msi {

namespace coltype {
inline constexpr uint16_t kSizeMask = 0x00FF;
inline constexpr uint16_t kValid = 0x0100;
inline constexpr uint16_t kLocalizable = 0x0200;
inline constexpr uint16_t kFixedSize = 0x0400;  // SHORT/INT and CHAR(n)/LONGCHAR
inline constexpr uint16_t kString = 0x0800;
inline constexpr uint16_t kNullable = 0x1000;
inline constexpr uint16_t kKey = 0x2000;
inline constexpr uint16_t kTemporary = 0x4000;
inline constexpr uint16_t kUnknown = 0x8000;
}  // namespace coltype

inline bool isBinaryType(uint16_t t) { return (t & ~coltype::kNullable & ~coltype::kKey & ~coltype::kTemporary) == 0x0900; }
inline bool isStringType(uint16_t t) { return (t & coltype::kString) && !isBinaryType(t); }
inline bool isIntegerType(uint16_t t) { return !(t & coltype::kString); }
inline bool isLongType(uint16_t t) { return isIntegerType(t) && (t & coltype::kSizeMask) == 4; }
inline bool isNullableType(uint16_t t) { return (t & coltype::kNullable) != 0; }
inline bool isKeyType(uint16_t t) { return (t & coltype::kKey) != 0; }
inline bool isTemporaryType(uint16_t t) { return (t & coltype::kTemporary) != 0; }

// Bytes a cell takes in a table stream; `wideStrings` when the pool uses
// 3-byte references.
inline unsigned cellWidth(uint16_t t, bool wideStrings) {
    if (isBinaryType(t)) return 2;
    if (isStringType(t)) return wideStrings ? 3 : 2;
    return isLongType(t) ? 4 : 2;
}

// In memory every cell holds its stored form, so comparisons of stored
// values give the order the format keeps rows in: 0 is null, strings are pool
// ids, integers carry the format's offset.
inline uint32_t encodeShort(int32_t v) { return uint32_t(v + 0x8000) & 0xFFFF; }
inline uint32_t encodeLong(int32_t v) { return uint32_t(v) ^ 0x80000000u; }
inline int32_t decodeInteger(uint16_t t, uint32_t stored) {
    return isLongType(t) ? int32_t(stored ^ 0x80000000u) : int32_t(stored) - 0x8000;
}

// "s72", "I2", "V0", "L255", "g0", "j2" ...
std::string columnTypeText(uint16_t t);

}  // namespace winsys::msi
