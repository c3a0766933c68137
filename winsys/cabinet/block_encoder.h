// Turns up to 32 KiB of folder data into one complete data block record
// (header, reserve, payload), compressed or stored. Each MSZIP block is a
// deflate stream of its own whose window is the folder's previous block, as
// readers keep it; the block carries a copy of that data, so blocks can be
// encoded in any order and on any thread and still come out the same.
#pragma once

#include <isa-l/igzip_lib.h>

#include <cstdint>

#include "cab_format.h"
#include "client_memory.h"

namespace winsys::cabinet {

// The ISA-L level of MSZIP blocks, its highest. With every block primed with
// the one before, it comes out within about 1% of unprimed blocks at zlib's
// default level 6, at several times zlib's speed at any level.
inline constexpr int kMszipLevel = 3;

struct DataBlock {
    uint8_t input[kMaxBlockSize];
    uint32_t inputSize = 0;
    uint8_t history[kMaxBlockSize];  // the folder's data just before input
    uint32_t historySize = 0;
    uint16_t type = 0;     // compression type of the folder
    uint16_t reserve = 0;  // cbReserveCFData of the cabinet
    uint8_t record[kDataHeaderSize + kMaxDataReserve + kMaxCompressedBlock];
    uint32_t recordSize = 0;
    uint16_t compressedSize = 0;
    bool failed = false;
};

// One deflate state; every thread that encodes owns one. Its memory comes
// from the caller's allocator, so it is set up on the caller's thread.
class BlockEncoder {
  public:
    BlockEncoder() = default;
    BlockEncoder(const BlockEncoder&) = delete;
    BlockEncoder& operator=(const BlockEncoder&) = delete;
    ~BlockEncoder() { End(); }

    bool Init(const ClientMemory& memory);
    void End();
    bool Ready() const { return ready_; }

    // Fills block.record from block.input; sets block.failed on a deflate error.
    void Encode(DataBlock& block);

  private:
    bool EncodeMszip(const DataBlock& block, uint8_t* payload, uint32_t& payloadSize);

    const ClientMemory* memory_ = nullptr;
    isal_zstream* stream_ = nullptr;
    uint8_t* levelBuffer_ = nullptr;
    bool ready_ = false;
};

}  // namespace winsys::cabinet
