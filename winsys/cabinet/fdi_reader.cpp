// Reading cabinet structures through the caller's callbacks. Every count and
// offset comes from the file and is checked before it is used.
#include <algorithm>
#include <cstring>

#include "checksum.h"
#include "crt_flags.h"
#include "fdi_context.h"
#include "win_errors.h"

namespace winsys::cabinet {
namespace {

bool ReadExactly(FdiContext &fdi, INT_PTR hf, void *buffer, uint32_t size)
{
    return size == 0 || fdi.read(hf, buffer, size) == size;
}

bool SeekTo(FdiContext &fdi, INT_PTR hf, uint64_t offset)
{
    if (offset > 0x7FFFFFFF)
        return false;
    return fdi.seek(hf, static_cast<long>(offset), kSeekSet) == static_cast<long>(offset);
}

// Reads a terminated string of at most kMaxNameBytes bytes, one byte at a
// time (header strings are few and short).
bool ReadHeaderString(FdiContext &fdi, INT_PTR hf, char *out, uint32_t &consumed)
{
    for (uint32_t i = 0; i < kMaxNameBytes; ++i) {
        if (!ReadExactly(fdi, hf, out + i, 1))
            return false;
        if (out[i] == '\0') {
            consumed += i + 1;
            return true;
        }
    }
    return false;
}

voidpf ZAlloc(voidpf opaque, uInt items, uInt size)
{
    auto *memory = static_cast<const ClientMemory *>(opaque);
    uint64_t bytes = static_cast<uint64_t>(items) * size;
    return bytes > UINT32_MAX ? Z_NULL : memory->Allocate(static_cast<size_t>(bytes));
}

void ZFree(voidpf opaque, voidpf address) { static_cast<const ClientMemory *>(opaque)->Free(address); }

} // namespace

int ReadCabinetHeader(FdiContext &fdi, INT_PTR hf, CabinetHeader &header)
{
    uint8_t fixed[kHeaderSize];
    if (!ReadExactly(fdi, hf, fixed, sizeof fixed) || std::memcmp(fixed, "MSCF", 4) != 0)
        return FDIERROR_NOT_A_CABINET;
    if (fixed[25] != kVersionMajor || fixed[24] != kVersionMinor)
        return FDIERROR_UNKNOWN_CABINET_VERSION;
    header.cbCabinet = ReadLe32(fixed + 8);
    header.coffFiles = ReadLe32(fixed + 16);
    header.cFolders = ReadLe16(fixed + 26);
    header.cFiles = ReadLe16(fixed + 28);
    header.flags = ReadLe16(fixed + 30);
    header.setID = ReadLe16(fixed + 32);
    header.iCabinet = ReadLe16(fixed + 34);
    header.headerBytes = kHeaderSize;
    if (header.flags & kFlagReservePresent) {
        uint8_t sizes[kReserveFieldsSize];
        if (!ReadExactly(fdi, hf, sizes, sizeof sizes))
            return FDIERROR_CORRUPT_CABINET;
        header.headerReserve = ReadLe16(sizes);
        header.folderReserve = sizes[2];
        header.dataReserve = sizes[3];
        if (header.headerReserve > kMaxHeaderReserve)
            return FDIERROR_CORRUPT_CABINET;
        if (header.headerReserve > 0 && fdi.seek(hf, header.headerReserve, kSeekCur) == -1)
            return FDIERROR_CORRUPT_CABINET;
        header.headerBytes += kReserveFieldsSize + header.headerReserve;
    }
    if (header.flags & kFlagPrevCabinet) {
        if (!ReadHeaderString(fdi, hf, header.prevCab, header.headerBytes) ||
            !ReadHeaderString(fdi, hf, header.prevDisk, header.headerBytes))
            return FDIERROR_CORRUPT_CABINET;
    }
    if (header.flags & kFlagNextCabinet) {
        if (!ReadHeaderString(fdi, hf, header.nextCab, header.headerBytes) ||
            !ReadHeaderString(fdi, hf, header.nextDisk, header.headerBytes))
            return FDIERROR_CORRUPT_CABINET;
    }
    return FDIERROR_NONE;
}

int ReadFolderEntry(FdiContext &fdi, INT_PTR hf, const CabinetHeader &header, uint16_t index, FolderEntry &entry)
{
    if (index >= header.cFolders)
        return FDIERROR_CORRUPT_CABINET;
    uint64_t offset = header.headerBytes + static_cast<uint64_t>(index) * (kFolderEntrySize + header.folderReserve);
    uint8_t raw[kFolderEntrySize];
    if (!SeekTo(fdi, hf, offset) || !ReadExactly(fdi, hf, raw, sizeof raw))
        return FDIERROR_CORRUPT_CABINET;
    entry.dataOffset = ReadLe32(raw);
    entry.blocks = ReadLe16(raw + 4);
    entry.type = ReadLe16(raw + 6);
    return FDIERROR_NONE;
}

bool FileTableReader::Fill(uint64_t offset)
{
    if (!SeekTo(fdi_, hf_, offset))
        return false;
    UINT got = fdi_.read(hf_, buffer_, sizeof buffer_);
    if (got == static_cast<UINT>(-1) || got > sizeof buffer_)
        return false;
    start_ = offset;
    size_ = got;
    return true;
}

int FileTableReader::Read(uint64_t offset, FileEntry &entry, uint64_t &next)
{
    // An entry is at most its fixed part and a 256-byte name.
    constexpr uint32_t kLongest = kFileEntrySize + kMaxNameBytes;
    if (offset < start_ || offset + kLongest > start_ + size_) {
        if (!Fill(offset))
            return FDIERROR_CORRUPT_CABINET;
    }
    const uint8_t *p = buffer_ + (offset - start_);
    auto available = static_cast<uint32_t>(start_ + size_ - offset);
    if (available < kFileEntrySize + 1)
        return FDIERROR_CORRUPT_CABINET;
    entry.size = ReadLe32(p);
    entry.folderOffset = ReadLe32(p + 4);
    entry.folderIndex = ReadLe16(p + 8);
    entry.date = ReadLe16(p + 10);
    entry.time = ReadLe16(p + 12);
    entry.attribs = ReadLe16(p + 14);
    uint32_t nameRoom = std::min(available - kFileEntrySize, kMaxNameBytes);
    const void *end = std::memchr(p + kFileEntrySize, '\0', nameRoom);
    if (!end)
        return FDIERROR_CORRUPT_CABINET;
    auto nameBytes = static_cast<uint32_t>(static_cast<const uint8_t *>(end) - (p + kFileEntrySize)) + 1;
    std::memcpy(entry.name, p + kFileEntrySize, nameBytes);
    next = offset + kFileEntrySize + nameBytes;
    return FDIERROR_NONE;
}

FolderDecoder::~FolderDecoder()
{
    if (streamReady_)
        inflateEnd(&stream_);
    fdi_.memory.Free(input_);
    fdi_.memory.Free(output_);
    fdi_.memory.Free(history_);
}

bool FolderDecoder::Init()
{
    input_ = static_cast<uint8_t *>(fdi_.memory.Allocate(0xFFFF + kMaxDataReserve + kDataHeaderSize));
    output_ = static_cast<uint8_t *>(fdi_.memory.Allocate(kMaxBlockSize));
    history_ = static_cast<uint8_t *>(fdi_.memory.Allocate(kMaxBlockSize));
    if (!input_ || !output_ || !history_)
        return false;
    std::memset(&stream_, 0, sizeof stream_);
    stream_.zalloc = ZAlloc;
    stream_.zfree = ZFree;
    stream_.opaque = &fdi_.memory;
    streamReady_ = inflateInit2(&stream_, -MAX_WBITS) == Z_OK;
    return streamReady_;
}

int FolderDecoder::Start(const FolderEntry &folder, uint8_t dataReserve)
{
    uint16_t type = CompressionTypeFromTCOMP(folder.type);
    if (type != tcompTYPE_NONE && type != tcompTYPE_MSZIP)
        return FDIERROR_BAD_COMPR_TYPE;
    type_ = type;
    dataReserve_ = dataReserve;
    nextBlock_ = folder.dataOffset;
    blocksLeft_ = folder.blocks;
    position_ = 0;
    outputSize_ = 0;
    outputUsed_ = 0;
    historySize_ = 0;
    return FDIERROR_NONE;
}

void FolderDecoder::KeepHistory(uint32_t size)
{
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

int FolderDecoder::Inflate(uint32_t compressedSize, uint32_t uncompressedSize)
{
    const uint8_t *payload = input_ + kDataHeaderSize + dataReserve_;
    if (compressedSize < 2 || payload[0] != kMszipSignature[0] || payload[1] != kMszipSignature[1])
        return FDIERROR_MDI_FAIL;
    if (inflateReset(&stream_) != Z_OK)
        return FDIERROR_MDI_FAIL;
    if (historySize_ > 0 && inflateSetDictionary(&stream_, history_, historySize_) != Z_OK)
        return FDIERROR_MDI_FAIL;
    stream_.next_in = const_cast<uint8_t *>(payload + 2);
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

int FolderDecoder::DecodeNextBlock()
{
    if (blocksLeft_ == 0)
        return FDIERROR_CORRUPT_CABINET;
    uint32_t headerSize = kDataHeaderSize + dataReserve_;
    if (!SeekTo(fdi_, hf_, nextBlock_) || !ReadExactly(fdi_, hf_, input_, headerSize))
        return FDIERROR_CORRUPT_CABINET;
    uint32_t checksum = ReadLe32(input_);
    uint16_t compressedSize = ReadLe16(input_ + 4);
    uint16_t uncompressedSize = ReadLe16(input_ + 6);
    // A zero size marks a block split across cabinets, not read here.
    if (uncompressedSize == 0 || uncompressedSize > kMaxBlockSize)
        return FDIERROR_CORRUPT_CABINET;
    if (type_ == tcompTYPE_NONE && compressedSize != uncompressedSize)
        return FDIERROR_CORRUPT_CABINET;
    uint8_t *payload = input_ + headerSize;
    if (!ReadExactly(fdi_, hf_, payload, compressedSize))
        return FDIERROR_CORRUPT_CABINET;
    if (checksum != 0 && DataBlockChecksum(payload, compressedSize, uncompressedSize) != checksum)
        return FDIERROR_CORRUPT_CABINET;
    nextBlock_ += headerSize + compressedSize;
    --blocksLeft_;
    if (type_ == tcompTYPE_MSZIP) {
        int error = Inflate(compressedSize, uncompressedSize);
        if (error != FDIERROR_NONE)
            return error;
    } else {
        std::memcpy(output_, payload, uncompressedSize);
    }
    if (type_ == tcompTYPE_MSZIP)
        KeepHistory(uncompressedSize);
    outputSize_ = uncompressedSize;
    outputUsed_ = 0;
    return FDIERROR_NONE;
}

int FolderDecoder::Skip(uint64_t offset)
{
    while (position_ < offset) {
        if (outputUsed_ == outputSize_) {
            int error = DecodeNextBlock();
            if (error != FDIERROR_NONE)
                return error;
        }
        auto n = static_cast<uint32_t>(std::min<uint64_t>(outputSize_ - outputUsed_, offset - position_));
        outputUsed_ += n;
        position_ += n;
    }
    return FDIERROR_NONE;
}

int FolderDecoder::CopyTo(INT_PTR target, uint64_t size)
{
    while (size > 0) {
        if (outputUsed_ == outputSize_) {
            int error = DecodeNextBlock();
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

} // namespace winsys::cabinet
