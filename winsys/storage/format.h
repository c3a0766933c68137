// On-disk constants of the compound file format and little-endian field
// access, shared by the reader and the writer.
#pragma once

#include <windef.h>

#include <cstdint>
#include <cstring>

namespace winsys::cfb::format {

inline constexpr uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

// Values of FAT and MiniFAT entries above the last usable sector number.
inline constexpr uint32_t kMaxRegularSector = 0xFFFFFFFA;
inline constexpr uint32_t kDifatSector = 0xFFFFFFFC;
inline constexpr uint32_t kFatSector = 0xFFFFFFFD;
inline constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
inline constexpr uint32_t kFreeSector = 0xFFFFFFFF;
inline constexpr uint32_t kNoStream = 0xFFFFFFFF;

inline constexpr size_t kHeaderSize = 512;
inline constexpr size_t kHeaderDifatSlots = 109;
inline constexpr size_t kDirEntrySize = 128;
inline constexpr size_t kMiniSectorSize = 64;
inline constexpr uint16_t kMinorVersion = 0x003E;
inline constexpr uint16_t kByteOrderMark = 0xFFFE;

// Header field offsets.
inline constexpr size_t kOffMinor = 0x18, kOffMajor = 0x1A, kOffByteOrder = 0x1C,
                        kOffSectorShift = 0x1E, kOffMiniShift = 0x20, kOffDirSectors = 0x28,
                        kOffFatSectors = 0x2C, kOffFirstDir = 0x30, kOffCutoff = 0x38,
                        kOffFirstMiniFat = 0x3C, kOffMiniFatSectors = 0x40,
                        kOffFirstDifat = 0x44, kOffDifatSectors = 0x48, kOffDifat = 0x4C;

// Directory entry field offsets.
inline constexpr size_t kEntName = 0x00, kEntNameLength = 0x40, kEntType = 0x42,
                        kEntColour = 0x43, kEntLeft = 0x44, kEntRight = 0x48, kEntChild = 0x4C,
                        kEntClsid = 0x50, kEntState = 0x60, kEntCreated = 0x64,
                        kEntModified = 0x6C, kEntStart = 0x74, kEntSize = 0x78;

inline constexpr uint8_t kTypeEmpty = 0, kTypeStorage = 1, kTypeStream = 2, kTypeRoot = 5;
inline constexpr uint8_t kRed = 0, kBlack = 1;

inline uint16_t get16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t get32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint64_t get64(const uint8_t* p) { return get32(p) | (uint64_t(get32(p + 4)) << 32); }
inline void put16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
inline void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void put64(uint8_t* p, uint64_t v) { put32(p, uint32_t(v)); put32(p + 4, uint32_t(v >> 32)); }

// A GUID is stored with its first three fields little-endian.
inline GUID getGuid(const uint8_t* p) {
    GUID g;
    g.Data1 = get32(p);
    g.Data2 = get16(p + 4);
    g.Data3 = get16(p + 6);
    std::memcpy(g.Data4, p + 8, 8);
    return g;
}
inline void putGuid(uint8_t* p, const GUID& g) {
    put32(p, g.Data1);
    put16(p + 4, g.Data2);
    put16(p + 6, g.Data3);
    std::memcpy(p + 8, g.Data4, 8);
}

}  // namespace winsys::cfb::format
