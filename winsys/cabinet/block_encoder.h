// Turns up to 32 KiB of folder data into one complete data block record
// (header, reserve, payload), compressed or stored. Each MSZIP block is a
// deflate stream of its own whose window is the folder's previous block, as
// readers keep it; the block carries a copy of that data, so blocks can be
// encoded in any order and on any thread and still come out the same.
#pragma once

#include <zlib.h>

#include <cstdint>

#include "cab_format.h"
#include "client_memory.h"

namespace winsys::cabinet {

// The zlib level of MSZIP blocks. With every block primed with the one
// before, level 4 comes out smaller than unprimed blocks at the default
// level 6 (about 1% on executables, 5% on text) in about two thirds of the
// time; primed level 6 would buy 3-9% more for half as much time again.
inline constexpr int kMszipLevel = 4;

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

    // Fills block.record from block.input; sets block.failed on a zlib error.
    void Encode(DataBlock& block);

  private:
    bool EncodeMszip(const DataBlock& block, uint8_t* payload, uint32_t& payloadSize);

    z_stream stream_{};
    bool ready_ = false;
};

}  // namespace winsys::cabinet
