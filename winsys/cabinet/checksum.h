// The checksum a cabinet keeps for each data block.
#pragma once

#include <cstddef>
#include <cstdint>

namespace winsys::cabinet {

// Folds `size` bytes into `seed` the way cabinet data blocks are summed:
// little-endian 32-bit words XORed together, a short tail taken with its
// first byte as the most significant.
uint32_t CabChecksum(const uint8_t* data, size_t size, uint32_t seed);

// The stored checksum of a data block: its data first, then the two size
// fields (cbData, cbUncomp) as they appear in the block header.
uint32_t DataBlockChecksum(const uint8_t* data, uint16_t cbData, uint16_t cbUncomp);

}  // namespace winsys::cabinet
