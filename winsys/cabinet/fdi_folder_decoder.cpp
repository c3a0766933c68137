// Decoding a folder's data blocks: checksums, MSZIP blocks read ahead into
// the inflate pipeline, stored data, blocks split between cabinets, and the
// hand-over of LZX and Quantum blocks to libmspack.
#include <algorithm>
#include <cstring>

#include "checksum.h"
#include "fdi_context.h"
#include "fdi_io.h"

namespace winsys::cabinet {

FolderDecoder::~FolderDecoder() {
    MspackFolder::Destroy(mspack_);
    fdi_.memory.Delete(pipeline_);
    fdi_.memory.Free(input_);
    fdi_.memory.Free(output_);
}

bool FolderDecoder::Init() {
    input_ = static_cast<uint8_t*>(fdi_.memory.Allocate(InflatePipeline::kInputCapacity));
    output_ = static_cast<uint8_t*>(fdi_.memory.Allocate(kMaxBlockSize));
    return input_ && output_;
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
    outputData_ = nullptr;
    outputSize_ = 0;
    outputUsed_ = 0;
    readAheadFailed_ = false;
    handleAtNextBlock_ = false;
    if (type == tcompTYPE_MSZIP) {
        if (!pipeline_) {
            pipeline_ = fdi_.memory.New<InflatePipeline>(fdi_.memory);
            if (!pipeline_)
                return FDIERROR_ALLOC_FAIL;
            if (!pipeline_->Init()) {
                fdi_.memory.Delete(pipeline_);
                pipeline_ = nullptr;
                return FDIERROR_ALLOC_FAIL;
            }
        }
        pipeline_->Reset();
    } else if (pipeline_) {
        pipeline_->Reset();
    }
    if (type == tcompTYPE_LZX || type == tcompTYPE_QUANTUM) {
        mspack_ = MspackFolder::Create(fdi_.memory, *this, folder.type);
        if (!mspack_)
            return FDIERROR_ALLOC_FAIL;
    }
    return FDIERROR_NONE;
}

int FolderDecoder::ReadNextBlock(uint8_t* into, uint32_t& gathered, uint16_t& uncompressedSize,
                                 uint32_t* deferredChecksum) {
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
            handleAtNextBlock_ = false;
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
        bool positioned = handleAtNextBlock_ || SeekTo(fdi_, hf_, nextBlock_);
        handleAtNextBlock_ = false;
        if (!positioned || !ReadExactly(fdi_, hf_, header, headerSize))
            return FDIERROR_CORRUPT_CABINET;
        uint32_t checksum = ReadLe32(header);
        uint16_t compressedSize = ReadLe16(header + 4);
        uncompressedSize = ReadLe16(header + 6);
        if (gathered + compressedSize > InflatePipeline::kInputCapacity)
            return FDIERROR_CORRUPT_CABINET;
        uint8_t* payload = into + gathered;
        if (!ReadExactly(fdi_, hf_, payload, compressedSize))
            return FDIERROR_CORRUPT_CABINET;
        // A whole block's checksum may be left to whoever inflates it.
        bool whole = gathered == 0 && uncompressedSize != 0;
        if (deferredChecksum && whole)
            *deferredChecksum = checksum;
        else if (checksum != 0 &&
                 DataBlockChecksum(payload, compressedSize, uncompressedSize) != checksum)
            return FDIERROR_CORRUPT_CABINET;
        nextBlock_ += headerSize + compressedSize;
        handleAtNextBlock_ = true;
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
    int error = ReadNextBlock(input_, compressedSize, size);
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
        HandOut(output_, size);
        return FDIERROR_NONE;
    }
    if (type_ == tcompTYPE_MSZIP)
        return NextMszipBlock();
    uint32_t gathered = 0;
    uint16_t uncompressedSize = 0;
    int readError = ReadNextBlock(input_, gathered, uncompressedSize);
    if (readError != FDIERROR_NONE)
        return readError;
    if (gathered != uncompressedSize)
        return FDIERROR_CORRUPT_CABINET;
    HandOut(input_, uncompressedSize);
    return FDIERROR_NONE;
}

void FolderDecoder::ReadAhead() {
    while (!readAheadFailed_ && (blocksLeft_ > 1 || (blocksLeft_ == 1 && !continuation_))) {
        InflateSlot* slot = pipeline_->FreeSlot();
        if (!slot)
            return;
        uint16_t uncompressedSize = 0;
        slot->error = ReadNextBlock(slot->input, slot->compressedSize, uncompressedSize,
                                    &slot->checksum);
        slot->uncompressedSize = uncompressedSize;
        // The error waits in its slot until the block is wanted; nothing
        // after it is read.
        readAheadFailed_ = slot->error != FDIERROR_NONE;
        pipeline_->Submit();
    }
}

int FolderDecoder::NextMszipBlock() {
    ReadAhead();
    if (pipeline_->InFlight() == 0) {
        // Nothing read ahead: the next block is the last of this cabinet
        // and may go on in the next one.
        InflateSlot* slot = pipeline_->FreeSlot();
        if (!slot)
            return FDIERROR_CORRUPT_CABINET;
        uint16_t uncompressedSize = 0;
        int error = ReadNextBlock(slot->input, slot->compressedSize, uncompressedSize,
                                  &slot->checksum);
        if (error != FDIERROR_NONE)
            return error;
        slot->uncompressedSize = uncompressedSize;
        pipeline_->Submit();
    }
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    int error = pipeline_->Take(data, size);
    if (error != FDIERROR_NONE)
        return error;
    HandOut(data, size);
    // Read the blocks after it while this one is written.
    ReadAhead();
    return FDIERROR_NONE;
}

int FolderDecoder::Skip(uint64_t offset) {
    // Between calls the caller may have moved the cabinet's handle.
    handleAtNextBlock_ = false;
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
    handleAtNextBlock_ = false;
    while (size > 0) {
        if (outputUsed_ == outputSize_) {
            int error = DecodeNextBlock(size);
            if (error != FDIERROR_NONE)
                return error;
        }
        auto n = static_cast<uint32_t>(std::min<uint64_t>(outputSize_ - outputUsed_, size));
        if (fdi_.write(target, const_cast<uint8_t*>(outputData_ + outputUsed_), n) != n)
            return FDIERROR_TARGET_FILE;
        outputUsed_ += n;
        position_ += n;
        size -= n;
    }
    return FDIERROR_NONE;
}

}  // namespace winsys::cabinet
