// Writing a finished cabinet: header, folder and file tables, then the data
// blocks, copied from memory and the temporary files through the caller's
// callbacks, or, past the memory budget, already in the cabinet file.
#include <algorithm>
#include <cstring>

#include "cab_format.h"
#include "crt_flags.h"
#include "fci_context.h"
#include "win_errors.h"

namespace winsys::cabinet {
namespace {

constexpr uint32_t kStagingSize = 64 * 1024;

// Collects small pieces and hands them to the write callback in large ones.
class CabinetOutput {
  public:
    CabinetOutput(FciContext& fci, INT_PTR handle, uint8_t* staging)
        : fci_(fci), handle_(handle), staging_(staging) {}

    bool Put(const void* bytes, size_t size) {
        const auto* p = static_cast<const uint8_t*>(bytes);
        while (size > 0) {
            size_t n = std::min<size_t>(size, kStagingSize - used_);
            std::memcpy(staging_ + used_, p, n);
            used_ += n;
            p += n;
            size -= n;
            if (used_ == kStagingSize && !Flush())
                return false;
        }
        return true;
    }
    bool PutZeros(size_t size) {
        static const uint8_t kZeros[256] = {};
        while (size > 0) {
            size_t n = std::min(size, sizeof kZeros);
            if (!Put(kZeros, n))
                return false;
            size -= n;
        }
        return true;
    }
    bool Flush() {
        if (used_ == 0)
            return true;
        int err = 0;
        if (fci_.write(handle_, staging_, static_cast<UINT>(used_), &err, fci_.pv) != used_) {
            SetFciError(fci_, FCIERR_CAB_FILE, err);
            return false;
        }
        used_ = 0;
        return true;
    }
    // Appends the whole content of a scratch store: its memory part straight
    // from memory, then its file part.
    bool CopyTemp(TempFile& temp) {
        if (!Flush())
            return false;
        int err = 0;
        for (uint64_t at = 0; at < temp.memorySize; at += TempFile::kChunkSize) {
            auto n = static_cast<UINT>(std::min<uint64_t>(temp.memorySize - at, TempFile::kChunkSize));
            if (fci_.write(handle_, temp.chunks[at / TempFile::kChunkSize], n, &err, fci_.pv) != n) {
                SetFciError(fci_, FCIERR_CAB_FILE, err);
                return false;
            }
        }
        uint64_t left = temp.size - temp.memorySize;
        // Data written into the cabinet already is where it belongs.
        if (left == 0 || temp.partHandle == handle_)
            return true;
        temp.atEnd = false;
        if (fci_.seek(temp.handle, 0, kSeekSet, &err, fci_.pv) != 0) {
            SetFciError(fci_, FCIERR_TEMP_FILE, err);
            return false;
        }
        while (left > 0) {
            auto n = static_cast<UINT>(std::min<uint64_t>(left, kStagingSize));
            if (fci_.read(temp.handle, staging_, n, &err, fci_.pv) != n) {
                SetFciError(fci_, FCIERR_TEMP_FILE, err);
                return false;
            }
            used_ = n;
            if (!Flush())
                return false;
            left -= n;
        }
        return true;
    }

    // Moves `size` bytes of the cabinet file from `from` to the later offset
    // `to`, last piece first so that nothing is overwritten before it moved.
    bool MoveLater(uint64_t from, uint64_t to, uint64_t size) {
        int err = 0;
        while (size > 0) {
            auto n = static_cast<UINT>(std::min<uint64_t>(size, kStagingSize));
            size -= n;
            if (!SeekTo(from + size) ||
                fci_.read(handle_, staging_, n, &err, fci_.pv) != n || !SeekTo(to + size) ||
                fci_.write(handle_, staging_, n, &err, fci_.pv) != n) {
                SetFciError(fci_, FCIERR_CAB_FILE, err);
                return false;
            }
        }
        return true;
    }
    bool SeekTo(uint64_t offset) {
        int err = 0;
        if (offset > 0x7FFFFFFF ||
            fci_.seek(handle_, static_cast<long>(offset), kSeekSet, &err, fci_.pv) !=
                static_cast<long>(offset)) {
            SetFciError(fci_, FCIERR_CAB_FILE, err);
            return false;
        }
        return true;
    }

  private:
    FciContext& fci_;
    INT_PTR handle_;
    uint8_t* staging_;
    size_t used_ = 0;
};

size_t NameBytes(const char* name, size_t capacity) {
    return strnlen(name, capacity - 1) + 1;
}

// Where the parts of a cabinet go: the header's reserve and where the data
// starts, which for data already in the cabinet file is fixed.
struct Layout {
    bool reserves = false;       // the reserve sizes are in the header
    uint32_t headerReserve = 0;  // bytes of header reserve
    uint32_t headerSize = 0;     // up to the folder table
    uint32_t dataStart = 0;
    uint32_t total = 0;
};

bool WriteTables(FciContext& fci, CabinetOutput& out, const CCAB* next, const Layout& layout) {
    const CCAB& c = fci.ccab;
    uint32_t folderTable =
        static_cast<uint32_t>(fci.folders.Size()) * (kFolderEntrySize + c.cbReserveCFFolder);

    uint8_t header[kHeaderSize] = {'M', 'S', 'C', 'F'};
    WriteLe32(header + 8, layout.total);
    WriteLe32(header + 16, layout.headerSize + folderTable);
    header[24] = kVersionMinor;
    header[25] = kVersionMajor;
    WriteLe16(header + 26, static_cast<uint16_t>(fci.folders.Size()));
    WriteLe16(header + 28, static_cast<uint16_t>(fci.fileCount));
    uint16_t flags = (fci.hasPrev ? kFlagPrevCabinet : 0) | (next ? kFlagNextCabinet : 0) |
                     (layout.reserves ? kFlagReservePresent : 0);
    WriteLe16(header + 30, flags);
    WriteLe16(header + 32, c.setID);
    WriteLe16(header + 34, static_cast<uint16_t>(c.iCab));
    if (!out.Put(header, sizeof header))
        return false;
    if (layout.reserves) {
        uint8_t sizes[kReserveFieldsSize];
        WriteLe16(sizes, static_cast<uint16_t>(layout.headerReserve));
        sizes[2] = static_cast<uint8_t>(c.cbReserveCFFolder);
        sizes[3] = static_cast<uint8_t>(c.cbReserveCFData);
        if (!out.Put(sizes, sizeof sizes) || !out.PutZeros(layout.headerReserve))
            return false;
    }
    if (fci.hasPrev && (!out.Put(fci.prevCab, NameBytes(fci.prevCab, sizeof fci.prevCab)) ||
                        !out.Put(fci.prevDisk, NameBytes(fci.prevDisk, sizeof fci.prevDisk))))
        return false;
    if (next && (!out.Put(next->szCab, NameBytes(next->szCab, sizeof next->szCab)) ||
                 !out.Put(next->szDisk, NameBytes(next->szDisk, sizeof next->szDisk))))
        return false;
    for (size_t i = 0; i < fci.folders.Size(); ++i) {
        const FolderRecord& f = fci.folders[i];
        uint8_t entry[kFolderEntrySize];
        WriteLe32(entry, layout.dataStart + static_cast<uint32_t>(f.dataOffset));
        WriteLe16(entry + 4, f.blocks);
        WriteLe16(entry + 6, f.type);
        if (!out.Put(entry, sizeof entry) || !out.PutZeros(c.cbReserveCFFolder))
            return false;
    }
    return out.CopyTemp(fci.files) && out.CopyTemp(fci.data) && out.Flush();
}

}  // namespace

bool WriteCabinet(FciContext& fci, BOOL getNextCabinet, PFNFCIGETNEXTCABINET getNext) {
    if (!CloseFolder(fci))
        return false;
    CCAB next{};
    if (getNextCabinet) {
        // The next cabinet's names go into this one's header.
        next = fci.ccab;
        ++next.iCab;
        if (!getNext) {
            SetFciError(fci, FCIERR_NONE, kErrorBadArguments);
            return false;
        }
        if (!getNext(&next, static_cast<ULONG>(EstimatedCabinetSize(fci)), fci.pv)) {
            SetFciError(fci, FCIERR_USER_ABORT, 0);
            return false;
        }
        next.szCab[sizeof next.szCab - 1] = '\0';
        next.szDisk[sizeof next.szDisk - 1] = '\0';
    }
    const CCAB& c = fci.ccab;
    TempFile& data = fci.data;
    const bool spilled = data.partHandle != -1;
    Layout layout;
    layout.reserves = spilled || c.cbReserveCFHeader || c.cbReserveCFFolder || c.cbReserveCFData;
    layout.headerReserve = c.cbReserveCFHeader;
    uint64_t names = 0;
    if (fci.hasPrev)
        names += NameBytes(fci.prevCab, sizeof fci.prevCab) +
                 NameBytes(fci.prevDisk, sizeof fci.prevDisk);
    if (getNextCabinet)
        names += NameBytes(next.szCab, sizeof next.szCab) + NameBytes(next.szDisk, sizeof next.szDisk);
    const uint64_t folderTable = fci.folders.Size() * (kFolderEntrySize + c.cbReserveCFFolder);
    uint64_t headerSize =
        kHeaderSize + (layout.reserves ? kReserveFieldsSize + layout.headerReserve : 0) + names;
    uint64_t dataStart = headerSize + folderTable + fci.files.size;
    uint64_t moveBy = 0;
    if (spilled && dataStart <= kSpilledDataStart) {
        // The header's reserve fills the room up to the data.
        layout.headerReserve += static_cast<uint32_t>(kSpilledDataStart - dataStart);
        headerSize += kSpilledDataStart - dataStart;
        dataStart = kSpilledDataStart;
    } else if (spilled) {
        moveBy = dataStart - kSpilledDataStart;
    }
    uint64_t total = dataStart + data.size;
    if (total > CabinetSizeLimit(c) || total > 0x7FFFFFFF) {
        SetFciError(fci, FCIERR_CAB_FILE, 0);
        return false;
    }
    layout.headerSize = static_cast<uint32_t>(headerSize);
    layout.dataStart = static_cast<uint32_t>(dataStart);
    layout.total = static_cast<uint32_t>(total);

    char path[CB_MAX_CAB_PATH + CB_MAX_CABINET_NAME];
    if (!CabinetFilePath(c, path, sizeof path)) {
        SetFciError(fci, FCIERR_CAB_FILE, kErrorInvalidData);
        return false;
    }
    auto* staging = static_cast<uint8_t*>(fci.memory.Allocate(kStagingSize));
    if (!staging) {
        SetFciError(fci, FCIERR_ALLOC_FAIL, kErrorNotEnoughMemory);
        return false;
    }
    int err = 0;
    INT_PTR handle = data.partHandle;
    if (!spilled)
        handle = fci.open(path, kCrtReadWrite | kCrtCreate | kCrtTruncate | kCrtBinary,
                          kCrtModeReadWrite, &err, fci.pv);
    if (handle == -1) {
        fci.memory.Free(staging);
        SetFciError(fci, FCIERR_CAB_FILE, err);
        return false;
    }
    CabinetOutput out(fci, handle, staging);
    bool written = true;
    if (spilled) {
        written = (moveBy == 0 ||
                   out.MoveLater(data.partBase, data.partBase + moveBy, data.size - data.memorySize)) &&
                  out.SeekTo(0);
    }
    written = written && WriteTables(fci, out, getNextCabinet ? &next : nullptr, layout);
    fci.memory.Free(staging);
    data.partHandle = -1;
    data.partBase = 0;
    data.atEnd = false;
    int closeErr = 0;
    if (fci.close(handle, &closeErr, fci.pv) != 0 && written) {
        SetFciError(fci, FCIERR_CAB_FILE, closeErr);
        written = false;
    }
    if (!written) {
        // The blocks that went into the cabinet file are gone with it.
        if (spilled)
            fci.broken = true;
        return false;
    }

    // The next cabinet starts empty; the temporary files are reused.
    fci.files.size = 0;
    fci.files.memorySize = 0;
    fci.data.size = 0;
    fci.data.memorySize = 0;
    fci.folders.Clear();
    fci.fileCount = 0;
    if (getNextCabinet) {
        fci.hasPrev = true;
        std::memcpy(fci.prevCab, fci.ccab.szCab, sizeof fci.prevCab);
        std::memcpy(fci.prevDisk, fci.ccab.szDisk, sizeof fci.prevDisk);
        fci.ccab = next;
    }
    if (fci.status && fci.status(statusCabinet, static_cast<ULONG>(total),
                                 static_cast<ULONG>(total), fci.pv) == -1) {
        SetFciError(fci, FCIERR_USER_ABORT, 0);
        return false;
    }
    return true;
}

}  // namespace winsys::cabinet
