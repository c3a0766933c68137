// Reading a cabinet's header, folder entries and file table through the
// caller's callbacks. Every count and offset comes from the file and is
// checked before it is used.
#include <algorithm>
#include <cstring>

#include "crt_flags.h"
#include "fdi_context.h"
#include "fdi_io.h"

namespace winsys::cabinet {
namespace {

// Reads a terminated string of at most kMaxNameBytes bytes, one byte at a
// time (header strings are few and short).
bool ReadHeaderString(FdiContext& fdi, INT_PTR hf, char* out, uint32_t& consumed) {
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

}  // namespace

int ReadCabinetHeader(FdiContext& fdi, INT_PTR hf, CabinetHeader& header) {
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

int ReadFolderEntry(FdiContext& fdi, INT_PTR hf, const CabinetHeader& header, uint16_t index,
                    FolderEntry& entry) {
    if (index >= header.cFolders)
        return FDIERROR_CORRUPT_CABINET;
    uint64_t offset = header.headerBytes +
                      static_cast<uint64_t>(index) * (kFolderEntrySize + header.folderReserve);
    uint8_t raw[kFolderEntrySize];
    if (!SeekTo(fdi, hf, offset) || !ReadExactly(fdi, hf, raw, sizeof raw))
        return FDIERROR_CORRUPT_CABINET;
    entry.dataOffset = ReadLe32(raw);
    entry.blocks = ReadLe16(raw + 4);
    entry.type = ReadLe16(raw + 6);
    return FDIERROR_NONE;
}

bool FileTableReader::Fill(uint64_t offset) {
    if (!SeekTo(fdi_, hf_, offset))
        return false;
    UINT got = fdi_.read(hf_, buffer_, sizeof buffer_);
    if (got == static_cast<UINT>(-1) || got > sizeof buffer_)
        return false;
    start_ = offset;
    size_ = got;
    return true;
}

int FileTableReader::Read(uint64_t offset, FileEntry& entry, uint64_t& next) {
    // An entry is at most its fixed part and a 256-byte name.
    constexpr uint32_t kLongest = kFileEntrySize + kMaxNameBytes;
    if (offset < start_ || offset + kLongest > start_ + size_) {
        if (!Fill(offset))
            return FDIERROR_CORRUPT_CABINET;
    }
    const uint8_t* p = buffer_ + (offset - start_);
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
    const void* end = std::memchr(p + kFileEntrySize, '\0', nameRoom);
    if (!end)
        return FDIERROR_CORRUPT_CABINET;
    auto nameBytes =
        static_cast<uint32_t>(static_cast<const uint8_t*>(end) - (p + kFileEntrySize)) + 1;
    std::memcpy(entry.name, p + kFileEntrySize, nameBytes);
    next = offset + kFileEntrySize + nameBytes;
    return FDIERROR_NONE;
}

}  // namespace winsys::cabinet
