// The cabinet file layout: record sizes, flag values and little-endian field
// access shared by the writer and the reader.
#pragma once

#include <cstddef>
#include <cstdint>

namespace winsys::cabinet {

// Fixed part of the cabinet header, up to and including iCabinet.
inline constexpr uint32_t kHeaderSize = 36;
// cbCFHeader (2), cbCFFolder (1), cbCFData (1), present when reserves are.
inline constexpr uint32_t kReserveFieldsSize = 4;
inline constexpr uint32_t kFolderEntrySize = 8;
inline constexpr uint32_t kFileEntrySize = 16;
inline constexpr uint32_t kDataHeaderSize = 8;

inline constexpr uint8_t kVersionMinor = 3;
inline constexpr uint8_t kVersionMajor = 1;

inline constexpr uint16_t kFlagPrevCabinet = 0x0001;
inline constexpr uint16_t kFlagNextCabinet = 0x0002;
inline constexpr uint16_t kFlagReservePresent = 0x0004;

inline constexpr uint16_t kFolderContinuedFromPrev = 0xFFFD;
inline constexpr uint16_t kFolderContinuedToNext = 0xFFFE;
inline constexpr uint16_t kFolderContinuedPrevAndNext = 0xFFFF;

inline constexpr uint32_t kMaxBlockSize = 32768;
// Uncompressed data a folder can address: 65535 blocks of 32 KiB.
inline constexpr uint64_t kMaxFolderBytes = 65535ull * kMaxBlockSize;
inline constexpr uint32_t kMaxHeaderReserve = 60000;
inline constexpr uint32_t kMaxFolderReserve = 255;
inline constexpr uint32_t kMaxDataReserve = 255;
// Names are stored with their terminator in at most this many bytes.
inline constexpr uint32_t kMaxNameBytes = 256;

// MSZIP puts this signature in front of each block's deflate data.
inline constexpr uint8_t kMszipSignature[2] = {'C', 'K'};
// A block that does not compress: stored deflate blocks add 5 bytes per
// 64 KiB, plus the signature; leave room to spare.
inline constexpr uint32_t kMaxCompressedBlock = kMaxBlockSize + 64;

inline uint16_t ReadLe16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t ReadLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void WriteLe16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void WriteLe32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

}  // namespace winsys::cabinet
