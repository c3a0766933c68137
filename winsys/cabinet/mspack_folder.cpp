// LZX and Quantum decoding through libmspack's cabinet reader. libmspack's
// reader opens "files" through an I/O table we supply; here those files live
// in memory: a cabinet header naming one folder of the real compression
// type, whose data blocks are fetched from the real cabinet only when
// libmspack reads past the last one it had, and an output sink that fills
// the caller's buffer. Each Decode call is one extraction of the next bytes
// of the folder, so libmspack's decoder state runs on from call to call.
#include "mspack_folder.h"

#include <mspack.h>

#include <algorithm>
#include <cstring>

#include "cab_format.h"
#include "fdi.h"

namespace winsys::cabinet {
namespace {

// The in-memory cabinet: header, one folder entry, one file entry named "x".
constexpr uint32_t kFolderAt = kHeaderSize;
constexpr uint32_t kFileAt = kFolderAt + kFolderEntrySize;
constexpr uint32_t kDataAt = kFileAt + kFileEntrySize + 2;
constexpr const char* kCabinetName = "folder.cab";
constexpr const char* kOutputName = "output";

enum class FileKind { kCabinet, kOutput };

struct MemoryFile {
    FileKind kind;
    MspackFolderState* owner;
    uint64_t position;
};

// Allocations carry the caller's free function in front of them, since
// libmspack's free has no context argument.
constexpr size_t kAllocationHeader = 16;
using ReleaseFunction = void (*)(void*);

}  // namespace

struct MspackFolderState {
    mspack_system system{};
    ClientMemory memory;
    BlockFeed* feed = nullptr;
    uint8_t header[kDataAt] = {};
    // The data block being served: its 8-byte header, then its stored bytes.
    uint8_t blockHeader[kDataHeaderSize] = {};
    const uint8_t* payload = nullptr;
    uint32_t blockSize = 0;  // header and payload
    uint32_t blockServed = 0;
    uint64_t streamPosition = kDataAt;  // of the next data byte to serve
    uint32_t blocksDelivered = 0;
    int feedError = FDIERROR_NONE;
    bool dataOpen = false;
    uint8_t* out = nullptr;
    uint32_t outCapacity = 0;
    uint32_t outUsed = 0;
    uint64_t produced = 0;
    mscab_decompressor* decompressor = nullptr;
    mscabd_cabinet* cabinet = nullptr;

    void UpdateBlockCount() {
        if (cabinet && cabinet->folders)
            cabinet->folders->num_blocks = blocksDelivered + feed->BlocksAhead();
    }

    bool FetchBlock() {
        uint32_t compressed = 0, uncompressed = 0;
        feedError = feed->NextBlock(payload, compressed, uncompressed);
        if (feedError != FDIERROR_NONE)
            return false;
        if (compressed > 0xFFFF || uncompressed > kMaxBlockSize) {
            feedError = FDIERROR_CORRUPT_CABINET;
            return false;
        }
        // Checksums were verified on the way in; zero tells libmspack so.
        WriteLe32(blockHeader, 0);
        WriteLe16(blockHeader + 4, static_cast<uint16_t>(compressed));
        WriteLe16(blockHeader + 6, static_cast<uint16_t>(uncompressed));
        blockSize = kDataHeaderSize + compressed;
        blockServed = 0;
        ++blocksDelivered;
        UpdateBlockCount();
        return true;
    }

    int ReadCabinet(MemoryFile& file, uint8_t* buffer, int bytes) {
        int done = 0;
        while (done < bytes) {
            if (file.position < kDataAt) {
                auto n = static_cast<int>(
                    std::min<uint64_t>(kDataAt - file.position, static_cast<uint64_t>(bytes - done)));
                std::memcpy(buffer + done, header + file.position, static_cast<size_t>(n));
                file.position += static_cast<uint64_t>(n);
                done += n;
                continue;
            }
            // Reading the header, libmspack reads names 256 bytes at a time:
            // that must not take the first block before extraction starts.
            if (!dataOpen)
                return done;
            // Data is served once, in order; libmspack never reads it twice.
            if (file.position != streamPosition)
                return -1;
            if (blockServed == blockSize && !FetchBlock())
                return done > 0 ? done : -1;
            uint32_t n = std::min<uint32_t>(blockSize - blockServed, static_cast<uint32_t>(bytes - done));
            for (uint32_t i = 0; i < n; ++i, ++blockServed) {
                buffer[done + static_cast<int>(i)] =
                    blockServed < kDataHeaderSize ? blockHeader[blockServed]
                                                  : payload[blockServed - kDataHeaderSize];
            }
            done += static_cast<int>(n);
            file.position += n;
            streamPosition += n;
        }
        return done;
    }
};

namespace {

// libmspack's decoders get a copy of the I/O table, not ours, so the table's
// address cannot lead back to the folder. Every call into libmspack happens
// on the caller's thread, inside one of ours, which names the folder here.
thread_local MspackFolderState* t_current = nullptr;

class CurrentFolder {
  public:
    explicit CurrentFolder(MspackFolderState* state) : previous_(t_current) { t_current = state; }
    ~CurrentFolder() { t_current = previous_; }
    CurrentFolder(const CurrentFolder&) = delete;
    CurrentFolder& operator=(const CurrentFolder&) = delete;

  private:
    MspackFolderState* previous_;
};

MspackFolderState& Owner(mspack_file* file) {
    return *reinterpret_cast<MemoryFile*>(file)->owner;
}

mspack_file* Open(mspack_system*, const char* name, int mode) {
    MspackFolderState* state = t_current;
    FileKind kind;
    if (mode == MSPACK_SYS_OPEN_READ && std::strcmp(name, kCabinetName) == 0)
        kind = FileKind::kCabinet;
    else if (mode == MSPACK_SYS_OPEN_WRITE && std::strcmp(name, kOutputName) == 0)
        kind = FileKind::kOutput;
    else
        return nullptr;
    MemoryFile* file = state->memory.New<MemoryFile>(MemoryFile{kind, state, 0});
    return reinterpret_cast<mspack_file*>(file);
}

void Close(mspack_file* file) {
    if (file)
        Owner(file).memory.Delete(reinterpret_cast<MemoryFile*>(file));
}

int Read(mspack_file* file, void* buffer, int bytes) {
    auto& memoryFile = *reinterpret_cast<MemoryFile*>(file);
    if (memoryFile.kind != FileKind::kCabinet || bytes < 0)
        return -1;
    return memoryFile.owner->ReadCabinet(memoryFile, static_cast<uint8_t*>(buffer), bytes);
}

int Write(mspack_file* file, void* buffer, int bytes) {
    auto& memoryFile = *reinterpret_cast<MemoryFile*>(file);
    MspackFolderState& state = *memoryFile.owner;
    if (memoryFile.kind != FileKind::kOutput || bytes < 0 ||
        static_cast<uint32_t>(bytes) > state.outCapacity - state.outUsed)
        return -1;
    std::memcpy(state.out + state.outUsed, buffer, static_cast<size_t>(bytes));
    state.outUsed += static_cast<uint32_t>(bytes);
    return bytes;
}

int Seek(mspack_file* file, off_t offset, int mode) {
    auto& memoryFile = *reinterpret_cast<MemoryFile*>(file);
    int64_t base;
    if (mode == MSPACK_SYS_SEEK_START)
        base = 0;
    else if (mode == MSPACK_SYS_SEEK_CUR)
        base = static_cast<int64_t>(memoryFile.position);
    else
        return -1;
    int64_t target = base + offset;
    if (memoryFile.kind != FileKind::kCabinet || target < 0)
        return -1;
    // Inside the data, only the place where the next block starts exists.
    if (target >= kDataAt && static_cast<uint64_t>(target) != memoryFile.owner->streamPosition)
        return -1;
    memoryFile.position = static_cast<uint64_t>(target);
    return 0;
}

off_t Tell(mspack_file* file) {
    return static_cast<off_t>(reinterpret_cast<MemoryFile*>(file)->position);
}

void Message(mspack_file*, const char*, ...) {}

void* Alloc(mspack_system*, size_t bytes) {
    MspackFolderState* state = t_current;
    auto* block = static_cast<uint8_t*>(state->memory.Allocate(bytes + kAllocationHeader));
    if (!block)
        return nullptr;
    ReleaseFunction release = state->memory.release;
    std::memcpy(block, &release, sizeof release);
    return block + kAllocationHeader;
}

void Free(void* pointer) {
    if (!pointer)
        return;
    uint8_t* block = static_cast<uint8_t*>(pointer) - kAllocationHeader;
    ReleaseFunction release;
    std::memcpy(&release, block, sizeof release);
    release(block);
}

void Copy(void* source, void* target, size_t bytes) {
    std::memmove(target, source, bytes);
}

void WriteCabinetHeader(uint8_t* h, uint16_t typeCompress) {
    std::memcpy(h, "MSCF", 4);
    WriteLe32(h + 8, 0x7FFFFFFF);
    WriteLe32(h + 16, kFileAt);
    h[24] = kVersionMinor;
    h[25] = kVersionMajor;
    WriteLe16(h + 26, 1);  // folders
    WriteLe16(h + 28, 1);  // files
    WriteLe32(h + kFolderAt, kDataAt);
    WriteLe16(h + kFolderAt + 4, 0);  // blocks: kept up to date after opening
    WriteLe16(h + kFolderAt + 6, typeCompress);
    WriteLe32(h + kFileAt, 0);
    h[kFileAt + kFileEntrySize] = 'x';
}

int FdiErrorFromMspack(const MspackFolderState& state, int error) {
    if (state.feedError != FDIERROR_NONE)
        return state.feedError;
    return error == MSPACK_ERR_NOMEMORY ? FDIERROR_ALLOC_FAIL : FDIERROR_MDI_FAIL;
}

}  // namespace

bool MspackFolder::Supports(uint16_t typeCompress) {
    unsigned window = (typeCompress >> 8) & 0x1F;
    switch (CompressionTypeFromTCOMP(typeCompress)) {
        case tcompTYPE_LZX:
            return window >= 15 && window <= 21;
        case tcompTYPE_QUANTUM:
            return window >= 10 && window <= 21;
        default:
            return false;
    }
}

MspackFolder* MspackFolder::Create(const ClientMemory& memory, BlockFeed& feed,
                                   uint16_t typeCompress) {
    auto* folder = memory.New<MspackFolder>(MspackFolder{});
    if (!folder)
        return nullptr;
    auto* state = memory.New<MspackFolderState>();
    if (!state) {
        memory.Delete(folder);
        return nullptr;
    }
    folder->state_ = state;
    state->memory = memory;
    state->feed = &feed;
    state->system = mspack_system{Open,  Close, Read, Write, Seek,  Tell,
                                  Message, Alloc, Free, Copy,  nullptr};
    WriteCabinetHeader(state->header, typeCompress);
    CurrentFolder current(state);
    state->decompressor = mspack_create_cab_decompressor(&state->system);
    if (state->decompressor)
        state->cabinet = state->decompressor->open(state->decompressor, kCabinetName);
    if (!state->cabinet || !state->cabinet->files) {
        Destroy(folder);
        return nullptr;
    }
    state->UpdateBlockCount();
    state->dataOpen = true;
    return folder;
}

void MspackFolder::Destroy(MspackFolder* folder) {
    if (!folder)
        return;
    MspackFolderState* state = folder->state_;
    ClientMemory memory = state->memory;
    CurrentFolder current(state);
    if (state->decompressor) {
        if (state->cabinet)
            state->decompressor->close(state->decompressor, state->cabinet);
        mspack_destroy_cab_decompressor(state->decompressor);
    }
    memory.Delete(state);
    memory.Delete(folder);
}

int MspackFolder::Decode(uint8_t* out, uint32_t size) {
    MspackFolderState& state = *state_;
    if (size == 0)
        return FDIERROR_NONE;
    mscabd_file* file = state.cabinet->files;
    if (state.produced > UINT32_MAX)
        return FDIERROR_CORRUPT_CABINET;
    file->offset = static_cast<unsigned int>(state.produced);
    file->length = size;
    state.out = out;
    state.outCapacity = size;
    state.outUsed = 0;
    CurrentFolder current(&state);
    int error = state.decompressor->extract(state.decompressor, file, kOutputName);
    state.out = nullptr;
    if (error != MSPACK_ERR_OK)
        return FdiErrorFromMspack(state, error);
    if (state.outUsed != size)
        return FDIERROR_MDI_FAIL;
    state.produced += size;
    return FDIERROR_NONE;
}

}  // namespace winsys::cabinet
