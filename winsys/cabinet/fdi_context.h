// The state of one decompression context (HFDI) and the pieces FDICopy is
// built from: reading a cabinet header, walking its file table in small
// buffered steps and decoding a folder's data blocks one at a time.
#pragma once

#include <cstdint>

#include "cab_format.h"
#include "client_memory.h"
#include "fdi.h"
#include "inflate_pipeline.h"
#include "mspack_folder.h"

namespace winsys::cabinet {

inline constexpr uint32_t kFdiMagic = 0x46444943;  // "FDIC"

struct FdiContext {
    uint32_t magic = kFdiMagic;
    ClientMemory memory;
    PFNOPEN open = nullptr;
    PFNREAD read = nullptr;
    PFNWRITE write = nullptr;
    PFNCLOSE close = nullptr;
    PFNSEEK seek = nullptr;
    int cpuType = 0;
    PERF erf = nullptr;
};

FdiContext* FdiFromHandle(HFDI hfdi);
void SetFdiError(FdiContext& fdi, int oper, int type = 0);

struct CabinetHeader {
    uint32_t cbCabinet = 0;
    uint32_t coffFiles = 0;
    uint16_t cFolders = 0;
    uint16_t cFiles = 0;
    uint16_t flags = 0;
    uint16_t setID = 0;
    uint16_t iCabinet = 0;
    uint16_t headerReserve = 0;
    uint8_t folderReserve = 0;
    uint8_t dataReserve = 0;
    uint32_t headerBytes = 0;  // up to the folder table
    char prevCab[kMaxNameBytes] = {};
    char prevDisk[kMaxNameBytes] = {};
    char nextCab[kMaxNameBytes] = {};
    char nextDisk[kMaxNameBytes] = {};
};

// Reads the header at the handle's current position; returns an FDIERROR.
int ReadCabinetHeader(FdiContext& fdi, INT_PTR hf, CabinetHeader& header);

struct FileEntry {
    uint32_t size;
    uint32_t folderOffset;
    uint16_t folderIndex;
    uint16_t date;
    uint16_t time;
    uint16_t attribs;
    char name[kMaxNameBytes];
};

// Reads file entries through a small buffer, refilled by seek and read.
class FileTableReader {
  public:
    FileTableReader(FdiContext& fdi, INT_PTR hf) : fdi_(fdi), hf_(hf) {}
    // Reads the entry at `offset`; sets `next` to the offset after it.
    int Read(uint64_t offset, FileEntry& entry, uint64_t& next);

  private:
    bool Fill(uint64_t offset);

    FdiContext& fdi_;
    INT_PTR hf_;
    uint8_t buffer_[4096];
    uint64_t start_ = 0;
    uint32_t size_ = 0;
};

struct FolderEntry {
    uint32_t dataOffset;
    uint16_t blocks;
    uint16_t type;
};
int ReadFolderEntry(FdiContext& fdi, INT_PTR hf, const CabinetHeader& header, uint16_t index,
                    FolderEntry& entry);

// Supplies the rest of a folder that goes on in the next cabinet of a set.
class FolderContinuation {
  public:
    // Opens the next cabinet; sets the handle to read its data from, the
    // folder that continues there, its data reserve, and whether that folder
    // goes on again in yet another cabinet.
    virtual int Continue(INT_PTR& hf, FolderEntry& folder, uint8_t& dataReserve,
                         bool& continuesAgain) = 0;

  protected:
    ~FolderContinuation() = default;
};

// Decodes one folder's blocks in order. MSZIP blocks may refer back to the
// previous 32 KiB of the folder's output; they are inflated on a helper
// thread while this side reads the blocks ahead and hands out the ones
// before. LZX and Quantum folders go to libmspack, fed with the blocks read
// here.
class FolderDecoder final : BlockFeed {
  public:
    explicit FolderDecoder(FdiContext& fdi) : fdi_(fdi) {}
    FolderDecoder(const FolderDecoder&) = delete;
    FolderDecoder& operator=(const FolderDecoder&) = delete;
    ~FolderDecoder();

    bool Init();  // buffers from the caller's allocator
    // Starts at the folder's first block. With a continuation, a folder that
    // runs out of blocks goes on in the next cabinet.
    int Start(INT_PTR hf, const FolderEntry& folder, uint8_t dataReserve,
              FolderContinuation* continuation);
    // Moves to `offset` of the folder's output, decoding what lies between.
    int Skip(uint64_t offset);
    // Sends `size` bytes from the current position to the write callback.
    int CopyTo(INT_PTR target, uint64_t size);
    uint64_t Position() const { return position_; }

  private:
    // Decodes at most `wanted` bytes (MSZIP and stored blocks: the whole next block).
    int DecodeNextBlock(uint64_t wanted);
    int NextMszipBlock();
    void HandOut(const uint8_t* data, uint32_t size) {
        outputData_ = data;
        outputSize_ = size;
        outputUsed_ = 0;
    }
    // Reads blocks ahead into the pipeline's free slots, never past this
    // cabinet's last block while the folder goes on in another: opening that
    // one is the caller's business, in its own time.
    void ReadAhead();
    // The next block as stored, both parts of a split one, into `into`
    // (InflatePipeline::kInputCapacity bytes). With `deferredChecksum`, a
    // block stored whole has its checksum handed back instead of checked.
    int ReadNextBlock(uint8_t* into, uint32_t& gathered, uint16_t& uncompressedSize,
                      uint32_t* deferredChecksum = nullptr);
    int NextBlock(const uint8_t*& data, uint32_t& compressedSize,
                  uint32_t& uncompressedSize) override;
    uint32_t BlocksAhead() const override;

    FdiContext& fdi_;
    INT_PTR hf_ = -1;
    FolderContinuation* continuation_ = nullptr;
    uint8_t* input_ = nullptr;   // one block's data as stored, both parts of a split one
    uint8_t* output_ = nullptr;  // one block decoded by libmspack
    const uint8_t* outputData_ = nullptr;  // the block being handed out
    uint32_t outputSize_ = 0;
    uint32_t outputUsed_ = 0;
    uint64_t position_ = 0;
    uint64_t nextBlock_ = 0;
    uint32_t blocksLeft_ = 0;
    uint16_t type_ = 0;
    uint8_t dataReserve_ = 0;
    bool readAheadFailed_ = false;
    // Reading blocks one after another needs no seek in between, as long
    // as nobody else has used the handle: only within one Skip or CopyTo.
    bool handleAtNextBlock_ = false;
    InflatePipeline* pipeline_ = nullptr;  // made for the first MSZIP folder
    MspackFolder* mspack_ = nullptr;       // an LZX or Quantum folder
};

// The body of FDICopy, once the cabinet's path is joined.
BOOL CopyCabinetFiles(FdiContext& fdi, char* cabinetPath, char* cabinetDirectory,
                      PFNFDINOTIFY notify, void* pvUser);

}  // namespace winsys::cabinet
