// LZX and Quantum folders, decoded by libmspack. FDI keeps reading the
// cabinet itself (headers, checksums, split blocks, the next cabinet of a
// set); libmspack sees one folder of a small cabinet that exists only in
// memory, whose data blocks are handed to it one at a time as it asks.
#pragma once

#include <cstdint>

#include "client_memory.h"

namespace winsys::cabinet {

// Where the folder's data blocks come from: the FDI side, which has already
// checked each block's checksum and joined the parts of a split one.
class BlockFeed {
  public:
    // The next block's stored bytes and uncompressed size; an FDIERROR.
    virtual int NextBlock(const uint8_t*& data, uint32_t& compressedSize,
                          uint32_t& uncompressedSize) = 0;
    // Blocks still to come, as far as is known now; one more than there are
    // in this cabinet while the folder goes on in another.
    virtual uint32_t BlocksAhead() const = 0;

  protected:
    ~BlockFeed() = default;
};

struct MspackFolderState;

// One LZX or Quantum folder from its start. Output is asked for in order.
class MspackFolder {
  public:
    // Null when the memory cannot be had; `typeCompress` as in the folder entry.
    static MspackFolder* Create(const ClientMemory& memory, BlockFeed& feed,
                                uint16_t typeCompress);
    static void Destroy(MspackFolder* folder);

    // Whether libmspack takes this type and window (LZX 15-21, Quantum 10-21).
    static bool Supports(uint16_t typeCompress);

    // Decodes the next `size` bytes (at most 32 KiB) into `out`; an FDIERROR.
    int Decode(uint8_t* out, uint32_t size);

  private:
    MspackFolder() = default;
    MspackFolderState* state_ = nullptr;
};

}  // namespace winsys::cabinet
