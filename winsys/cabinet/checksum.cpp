// Data block checksums, eight bytes at a time.
#include "checksum.h"

#include <bit>
#include <cstring>

#include "cab_format.h"

namespace winsys::cabinet {

uint32_t CabChecksum(const uint8_t* data, size_t size, uint32_t seed) {
    // XOR is associative, so two words at once fold to the same result.
    uint64_t wide = 0;
    size_t pairs = size / 8;
    for (size_t i = 0; i < pairs; ++i) {
        uint64_t v;
        std::memcpy(&v, data + i * 8, 8);
        wide ^= v;
    }
    uint32_t sum = seed;
    if constexpr (std::endian::native == std::endian::little) {
        sum ^= static_cast<uint32_t>(wide) ^ static_cast<uint32_t>(wide >> 32);
    } else {
        uint8_t bytes[8];
        std::memcpy(bytes, &wide, 8);
        sum ^= ReadLe32(bytes) ^ ReadLe32(bytes + 4);
    }
    const uint8_t* p = data + pairs * 8;
    size_t rest = size - pairs * 8;
    if (rest >= 4) {
        sum ^= ReadLe32(p);
        p += 4;
        rest -= 4;
    }
    uint32_t tail = 0;
    switch (rest) {
        case 3:
            tail |= static_cast<uint32_t>(*p++) << 16;
            [[fallthrough]];
        case 2:
            tail |= static_cast<uint32_t>(*p++) << 8;
            [[fallthrough]];
        case 1:
            tail |= *p;
            break;
        default:
            break;
    }
    return sum ^ tail;
}

uint32_t DataBlockChecksum(const uint8_t* data, uint16_t cbData, uint16_t cbUncomp) {
    uint8_t sizes[4];
    WriteLe16(sizes, cbData);
    WriteLe16(sizes + 2, cbUncomp);
    return CabChecksum(sizes, 4, CabChecksum(data, cbData, 0));
}

}  // namespace winsys::cabinet
