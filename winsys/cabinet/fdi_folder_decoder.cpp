// Decoding a folder's data blocks: checksums, MSZIP with the history carried
// from block to block, stored data, blocks split between cabinets, and the
// hand-over of LZX and Quantum blocks to libmspack.
#include <algorithm>
#include <cstring>

#include "checksum.h"
#include "fdi_context.h"
#include "fdi_io.h"
#include "zlib_memory.h"

namespace winsys::cabinet {
namespace {

// A block's stored bytes, all its parts together: more than a block that
// does not compress can need.
constexpr uint32_t kInputCapacity = 2 * 0xFFFF;

}  // namespace

FolderDecoder::~FolderDecoder() {
    MspackFolder::Destroy(mspack_);
    if (streamReady_)
        inflateEnd(&stream_);
    fdi_.memory.Free(input_);
    fdi_.memory.Free(output_);
    fdi_.memory.Free(history_);
}

bool FolderDecoder::Init() {
    input_ = static_cast<uint8_t*>(fdi_.memory.Allocate(kInputCapacity));
    output_ = static_cast<uint8_t*>(fdi_.memory.Allocate(kMaxBlockSize));
    history_ = static_cast<uint8_t*>(fdi_.memory.Allocate(kMaxBlockSize));
    if (!input_ || !output_ || !history_)
        return false;
    std::memset(&stream_, 0, sizeof stream_);
    stream_.zalloc = ZlibAlloc;
    stream_.zfree = ZlibFree;
    stream_.opaque = &fdi_.memory;
    streamReady_ = inflateInit2(&stream_, -MAX_WBITS) == Z_OK;
    return streamReady_;
}

int FolderDecoder::Start(INT_PTR hf, const FolderEntry& folder, uint8_t dataReserve,
                         FolderContinuation* continuation) {
    uint16_t type = CompressionTypeFromTCOMP(folder.type);
    if (type != tcompTYPE_NONE && type != tcompTYPE_MSZIP && !MspackFolder::Supports(folder.type))
        return FDIERROR_BAD_COMPR_TYPE;
    MspackFolder::Destroy(mspack_);
    mspack_ = nullptr;
    type_ = type;
    hf_ = hf;
    continuation_ = continuation;
    dataReserve_ = dataReserve;
    nextBlock_ = folder.dataOffset;
    blocksLeft_ = folder.blocks;
    position_ = 0;
    outputSize_ = 0;
    outputUsed_ = 0;
    historySize_ = 0;
    if (type == tcompTYPE_LZX || type == tcompTYPE_QUANTUM) {
        mspack_ = MspackFolder::Create(fdi_.memory, *this, folder.type);
        if (!mspack_)
            return FDIERROR_ALLOC_FAIL;
    }
    return FDIERROR_NONE;
}

void FolderDecoder::KeepHistory(uint32_t size) {
    if (size >= kMaxBlockSize) {
        std::memcpy(history_, output_ + size - kMaxBlockSize, kMaxBlockSize);
        historySize_ = kMaxBlockSize;
        return;
    }
    uint32_t keep = std::min(historySize_, kMaxBlockSize - size);
    std::memmove(history_, history_ + historySize_ - keep, keep);
    std::memcpy(history_ + keep, output_, size);
    historySize_ = keep + size;
}

int FolderDecoder::Inflate(uint32_t compressedSize, uint32_t uncompressedSize) {
    const uint8_t* payload = input_;
    if (compressedSize < 2 || payload[0] != kMszipSignature[0] || payload[1] != kMszipSignature[1])
        return FDIERROR_MDI_FAIL;
    if (inflateReset(&stream_) != Z_OK)
        return FDIERROR_MDI_FAIL;
    if (historySize_ > 0 && inflateSetDictionary(&stream_, history_, historySize_) != Z_OK)
        return FDIERROR_MDI_FAIL;
    stream_.next_in = const_cast<uint8_t*>(payload + 2);
    stream_.avail_in = compressedSize - 2;
    stream_.next_out = output_;
    stream_.avail_out = uncompressedSize;
    int result = inflate(&stream_, Z_SYNC_FLUSH);
    // A block ends with its final deflate block; one that fills the expected
    // size exactly is complete too, whatever bits follow.
    if (result != Z_STREAM_END && result != Z_OK && result != Z_BUF_ERROR)
        return FDIERROR_MDI_FAIL;
    if (stream_.avail_out != 0)
        return FDIERROR_MDI_FAIL;
    return FDIERROR_NONE;
}

int FolderDecoder::ReadNextBlock(uint32_t& gathered, uint16_t& uncompressedSize) {
    // A block split between two cabinets comes as a first part with no
    // uncompressed size, then the rest at the start of the next cabinet's
    // folder; each part carries its own checksum.
    gathered = 0;
    uncompressedSize = 0;
    for (;;) {
        if (blocksLeft_ == 0) {
            if (!continuation_)
                return FDIERROR_CORRUPT_CABINET;
            FolderEntry next{};
            bool continuesAgain = false;
            int error = continuation_->Continue(hf_, next, dataReserve_, continuesAgain);
            if (error != FDIERROR_NONE)
                return error;
            if (CompressionTypeFromTCOMP(next.type) != type_)
                return FDIERROR_BAD_COMPR_TYPE;
            if (!continuesAgain)
                continuation_ = nullptr;
            nextBlock_ = next.dataOffset;
            blocksLeft_ = next.blocks;
            continue;
        }
        uint8_t header[kDataHeaderSize + kMaxDataReserve];
        uint32_t headerSize = kDataHeaderSize + dataReserve_;
        if (!SeekTo(fdi_, hf_, nextBlock_) || !ReadExactly(fdi_, hf_, header, headerSize))
            return FDIERROR_CORRUPT_CABINET;
        uint32_t checksum = ReadLe32(header);
        uint16_t compressedSize = ReadLe16(header + 4);
        uncompressedSize = ReadLe16(header + 6);
        if (gathered + compressedSize > kInputCapacity)
            return FDIERROR_CORRUPT_CABINET;
        uint8_t* payload = input_ + gathered;
        if (!ReadExactly(fdi_, hf_, payload, compressedSize))
            return FDIERROR_CORRUPT_CABINET;
        if (checksum != 0 &&
            DataBlockChecksum(payload, compressedSize, uncompressedSize) != checksum)
            return FDIERROR_CORRUPT_CABINET;
        nextBlock_ += headerSize + compressedSize;
        --blocksLeft_;
        gathered += compressedSize;
        if (uncompressedSize != 0)
            break;
        // Only the last block of a cabinet may be split; a small block may
        // go on through several cabinets that hold nothing else.
        if (blocksLeft_ != 0 || !continuation_)
            return FDIERROR_CORRUPT_CABINET;
    }
    if (uncompressedSize > kMaxBlockSize)
        return FDIERROR_CORRUPT_CABINET;
    return FDIERROR_NONE;
}

int FolderDecoder::NextBlock(const uint8_t*& data, uint32_t& compressedSize,
                             uint32_t& uncompressedSize) {
    uint16_t size = 0;
    int error = ReadNextBlock(compressedSize, size);
    data = input_;
    uncompressedSize = size;
    return error;
}

uint32_t FolderDecoder::BlocksAhead() const {
    return blocksLeft_ + (continuation_ ? 1u : 0u);
}

int FolderDecoder::DecodeNextBlock(uint64_t wanted) {
    if (mspack_) {
        // libmspack reads blocks as it needs them, so output is asked for
        // by size: never past what the file being copied or skipped needs.
        auto size = static_cast<uint32_t>(std::min<uint64_t>(wanted, kMaxBlockSize));
        int error = mspack_->Decode(output_, size);
        if (error != FDIERROR_NONE)
            return error;
        outputSize_ = size;
        outputUsed_ = 0;
        return FDIERROR_NONE;
    }
    uint32_t gathered = 0;
    uint16_t uncompressedSize = 0;
    int readError = ReadNextBlock(gathered, uncompressedSize);
    if (readError != FDIERROR_NONE)
        return readError;
    if (type_ == tcompTYPE_MSZIP) {
        int error = Inflate(gathered, uncompressedSize);
        if (error != FDIERROR_NONE)
            return error;
        KeepHistory(uncompressedSize);
    } else {
        if (gathered != uncompressedSize)
            return FDIERROR_CORRUPT_CABINET;
        std::memcpy(output_, input_, uncompressedSize);
    }
    outputSize_ = uncompressedSize;
    outputUsed_ = 0;
    return FDIERROR_NONE;
}

int FolderDecoder::Skip(uint64_t offset) {
    while (position_ < offset) {
        if (outputUsed_ == outputSize_) {
            int error = DecodeNextBlock(offset - position_);
            if (error != FDIERROR_NONE)
                return error;
        }
        auto n = static_cast<uint32_t>(
            std::min<uint64_t>(outputSize_ - outputUsed_, offset - position_));
        outputUsed_ += n;
        position_ += n;
    }
    return FDIERROR_NONE;
}

int FolderDecoder::CopyTo(INT_PTR target, uint64_t size) {
    while (size > 0) {
        if (outputUsed_ == outputSize_) {
            int error = DecodeNextBlock(size);
            if (error != FDIERROR_NONE)
                return error;
        }
        auto n = static_cast<uint32_t>(std::min<uint64_t>(outputSize_ - outputUsed_, size));
        if (fdi_.write(target, output_ + outputUsed_, n) != n)
            return FDIERROR_TARGET_FILE;
        outputUsed_ += n;
        position_ += n;
        size -= n;
    }
    return FDIERROR_NONE;
}

}  // namespace winsys::cabinet
