// Filling a folder: temporary files, reading each added file through the
// caller's callbacks into 32 KiB blocks, and retiring encoded blocks into the
// data temporary file in order.
#include <algorithm>
#include <cstring>

#include "cab_format.h"
#include "crt_flags.h"
#include "fci_context.h"
#include "names.h"
#include "win_errors.h"

namespace winsys::cabinet {
namespace {

// Room kept per queued block when estimating sizes before it is encoded.
constexpr uint64_t kBlockEstimateSlack = 80;

uint64_t QueuedBlockEstimate(const FciContext& fci, uint32_t inputSize) {
    return kDataHeaderSize + fci.ccab.cbReserveCFData + inputSize + kBlockEstimateSlack;
}

bool RetireBlock(void* context, DataBlock& block) {
    auto& fci = *static_cast<FciContext*>(context);
    fci.folderPendingBytes -=
        std::min(fci.folderPendingBytes, QueuedBlockEstimate(fci, block.inputSize));
    if (block.failed) {
        fci.retireError = FCIERR_MCI_FAIL;
        return false;
    }
    if (fci.ccab.fFailOnIncompressible && block.type == tcompTYPE_MSZIP &&
        block.compressedSize >= block.inputSize) {
        fci.retireError = FCIERR_MCI_FAIL;
        return false;
    }
    if (fci.folderBlocks >= 0xFFFF) {
        fci.retireError = FCIERR_CAB_FILE;
        return false;
    }
    if (!AppendToTemp(fci, fci.data, block.record, block.recordSize)) {
        fci.retireError = FCIERR_TEMP_FILE;
        return false;
    }
    ++fci.folderBlocks;
    if (EstimatedCabinetSize(fci) > CabinetSizeLimit(fci.ccab)) {
        fci.retireError = FCIERR_CAB_FILE;
        return false;
    }
    if (fci.status && fci.status(statusFile, block.compressedSize, block.inputSize, fci.pv) == -1) {
        fci.retireError = FCIERR_USER_ABORT;
        return false;
    }
    return true;
}

bool ReportRetireFailure(FciContext& fci) {
    // A failed retire of the data temporary file already stored its errno.
    if (fci.retireError != FCIERR_TEMP_FILE)
        SetFciError(fci, fci.retireError, 0);
    fci.pipeline.Discard();
    fci.fill = nullptr;
    fci.broken = true;
    return false;
}

bool TakeFreeBlock(FciContext& fci) {
    bool retireFailed = false;
    fci.fill = fci.pipeline.NextFree(RetireBlock, &fci, retireFailed);
    if (!fci.fill) {
        if (retireFailed)
            return ReportRetireFailure(fci);
        SetFciError(fci, FCIERR_ALLOC_FAIL, kErrorNotEnoughMemory);
        fci.broken = true;
        return false;
    }
    fci.fill->type = fci.folderType;
    fci.fill->reserve = static_cast<uint16_t>(fci.ccab.cbReserveCFData);
    fci.fill->historySize = fci.historySize;
    std::memcpy(fci.fill->history, fci.history, fci.historySize);
    return true;
}

void SubmitFill(FciContext& fci) {
    fci.folderPendingBytes += QueuedBlockEstimate(fci, fci.fill->inputSize);
    // Only the last block of a folder is short, so one block is the whole
    // 32 KiB window the next one may refer back into.
    fci.historySize = fci.fill->inputSize;
    std::memcpy(fci.history, fci.fill->input, fci.historySize);
    fci.pipeline.Submit(fci.fill);
    fci.fill = nullptr;
}

// Compressed bytes of the open folder, its unfinished block counted raw.
uint64_t FolderBytesSoFar(const FciContext& fci) {
    return (fci.data.size - fci.folderDataStart) + fci.folderPendingBytes +
           (fci.fill ? fci.fill->inputSize : 0);
}

bool FolderReachedThreshold(FciContext& fci) {
    if (FolderBytesSoFar(fci) < FolderSizeThreshold(fci.ccab))
        return false;
    // The estimate counts queued blocks at their largest; settle them so that
    // the decision does not depend on how far the helpers have got.
    if (!fci.pipeline.Drain(RetireBlock, &fci)) {
        ReportRetireFailure(fci);
        return false;
    }
    return FolderBytesSoFar(fci) >= FolderSizeThreshold(fci.ccab);
}

}  // namespace

void SetFciError(FciContext& fci, int oper, int type) {
    fci.erf->erfOper = oper;
    fci.erf->erfType = type;
    fci.erf->fError = TRUE;
}

bool CreateTempFile(FciContext& fci, TempFile& temp) {
    std::memset(temp.name, 0, sizeof temp.name);
    if (!fci.getTempFile(temp.name, sizeof temp.name, fci.pv)) {
        SetFciError(fci, FCIERR_TEMP_FILE, 0);
        return false;
    }
    temp.name[sizeof temp.name - 1] = '\0';
    int err = 0;
    temp.handle = fci.open(temp.name, kCrtReadWrite | kCrtCreate | kCrtExclusive | kCrtBinary,
                           kCrtModeReadWrite, &err, fci.pv);
    if (temp.handle == -1) {
        SetFciError(fci, FCIERR_TEMP_FILE, err);
        return false;
    }
    temp.size = 0;
    temp.atEnd = true;
    temp.memorySize = 0;
    return true;
}

bool CabinetFilePath(const CCAB& c, char* path, size_t capacity) {
    size_t dirLength = strnlen(c.szCabPath, sizeof c.szCabPath);
    size_t nameLength = strnlen(c.szCab, sizeof c.szCab);
    if (dirLength == sizeof c.szCabPath || nameLength == sizeof c.szCab ||
        dirLength + nameLength >= capacity)
        return false;
    std::memcpy(path, c.szCabPath, dirLength);
    std::memcpy(path + dirLength, c.szCab, nameLength);
    path[dirLength + nameLength] = '\0';
    return true;
}

void CloseSpilledCabinet(FciContext& fci, bool remove) {
    TempFile& data = fci.data;
    if (data.partHandle == -1)
        return;
    int err = 0;
    fci.close(data.partHandle, &err, fci.pv);
    data.partHandle = -1;
    data.partBase = 0;
    data.atEnd = false;  // the temporary file's position is not known
    char path[CB_MAX_CAB_PATH + CB_MAX_CABINET_NAME];
    if (remove && CabinetFilePath(fci.ccab, path, sizeof path))
        fci.remove(path, &err, fci.pv);
}

void DestroyTempFile(FciContext& fci, TempFile& temp) {
    for (uint8_t*& chunk : temp.chunks) {
        fci.memory.Free(chunk);
        chunk = nullptr;
    }
    temp.memorySize = 0;
    if (temp.handle == -1)
        return;
    int err = 0;
    fci.close(temp.handle, &err, fci.pv);
    fci.remove(temp.name, &err, fci.pv);
    temp.handle = -1;
}

namespace {

// Appends to the memory part when the whole of `size` fits its budget and
// nothing has gone to the file yet; false leaves the bytes to the file.
bool AppendToMemory(FciContext& fci, TempFile& temp, const void* bytes, uint32_t size) {
    if (temp.size != temp.memorySize || temp.memorySize + size > temp.memoryBudget)
        return false;
    const uint64_t end = temp.memorySize + size;
    for (uint64_t c = temp.memorySize / TempFile::kChunkSize; c * TempFile::kChunkSize < end; ++c)
        if (!temp.chunks[c] &&
            !(temp.chunks[c] = static_cast<uint8_t*>(fci.memory.Allocate(TempFile::kChunkSize))))
            return false;  // short of memory: the file takes the rest
    const auto* from = static_cast<const uint8_t*>(bytes);
    for (uint64_t at = temp.memorySize; at < end;) {
        const uint64_t offset = at % TempFile::kChunkSize;
        const uint64_t n = std::min<uint64_t>(end - at, TempFile::kChunkSize - offset);
        std::memcpy(temp.chunks[at / TempFile::kChunkSize] + offset, from, n);
        from += n;
        at += n;
    }
    temp.memorySize = end;
    temp.size = end;
    return true;
}

// The first data block past the memory budget: opens the cabinet file and
// goes to where that block belongs in it. When the file cannot be had, the
// temporary file takes the blocks as before and the cabinet is opened when
// it is written.
void SpillIntoCabinet(FciContext& fci) {
    char path[CB_MAX_CAB_PATH + CB_MAX_CABINET_NAME];
    if (!CabinetFilePath(fci.ccab, path, sizeof path))
        return;
    int err = 0;
    INT_PTR handle = fci.open(path, kCrtReadWrite | kCrtCreate | kCrtTruncate | kCrtBinary,
                              kCrtModeReadWrite, &err, fci.pv);
    if (handle == -1)
        return;
    const uint64_t base = kSpilledDataStart + fci.data.memorySize;
    if (fci.seek(handle, static_cast<long>(base), kSeekSet, &err, fci.pv) !=
        static_cast<long>(base)) {
        fci.close(handle, &err, fci.pv);
        fci.remove(path, &err, fci.pv);
        return;
    }
    fci.data.partHandle = handle;
    fci.data.partBase = base;
    fci.data.atEnd = true;
}

}  // namespace

bool AppendToTemp(FciContext& fci, TempFile& temp, const void* bytes, uint32_t size) {
    if (size == 0)
        return true;
    if (AppendToMemory(fci, temp, bytes, size))
        return true;
    int err = 0;
    const uint64_t fileSize = temp.size - temp.memorySize;
    if (&temp == &fci.data && fileSize == 0 && temp.partHandle == -1)
        SpillIntoCabinet(fci);
    const INT_PTR handle = temp.partHandle != -1 ? temp.partHandle : temp.handle;
    const uint64_t at = temp.partBase + fileSize;
    if (!temp.atEnd) {
        if (at > 0x7FFFFFFF ||
            fci.seek(handle, static_cast<long>(at), kSeekSet, &err, fci.pv) != static_cast<long>(at)) {
            SetFciError(fci, FCIERR_TEMP_FILE, err);
            return false;
        }
        temp.atEnd = true;
    }
    if (fci.write(handle, const_cast<void*>(bytes), size, &err, fci.pv) != size) {
        SetFciError(fci, FCIERR_TEMP_FILE, err);
        return false;
    }
    temp.size += size;
    return true;
}

uint64_t EstimatedCabinetSize(const FciContext& fci) {
    const CCAB& c = fci.ccab;
    uint64_t header = kHeaderSize;
    if (c.cbReserveCFHeader || c.cbReserveCFFolder || c.cbReserveCFData)
        header += kReserveFieldsSize + c.cbReserveCFHeader;
    if (fci.hasPrev)
        header += strnlen(fci.prevCab, sizeof fci.prevCab) +
                  strnlen(fci.prevDisk, sizeof fci.prevDisk) + 2;
    uint64_t folders = fci.folders.Size() + (fci.folderOpen ? 1 : 0);
    uint64_t tables = header + folders * (kFolderEntrySize + c.cbReserveCFFolder) + fci.files.size;
    // Data written into the cabinet already sits behind the room for tables.
    if (fci.data.partHandle != -1)
        tables = std::max(tables, kSpilledDataStart);
    return tables + fci.data.size + fci.folderPendingBytes +
           (fci.fill ? fci.fill->inputSize : 0);
}

bool AddFileToFolder(FciContext& fci, char* sourcePath, char* nameInCabinet, BOOL execute,
                     PFNFCIGETOPENINFO getOpenInfo, TCOMP typeCompress) {
    size_t nameLength = strnlen(nameInCabinet, CB_MAX_FILENAME);
    if (nameLength == 0 || nameLength >= CB_MAX_FILENAME) {
        SetFciError(fci, FCIERR_NONE, kErrorInvalidData);
        return false;
    }
    auto type = static_cast<uint16_t>(CompressionTypeFromTCOMP(typeCompress));
    if (type != tcompTYPE_NONE && type != tcompTYPE_MSZIP) {
        SetFciError(fci, FCIERR_BAD_COMPR_TYPE, 0);
        return false;
    }
    if (fci.fileCount >= 0xFFFF) {
        SetFciError(fci, FCIERR_CAB_FILE, 0);
        return false;
    }
    if (fci.folderOpen && fci.folderType != type && !CloseFolder(fci))
        return false;

    USHORT date = 0, time = 0, attribs = 0;
    int err = 0;
    INT_PTR source = getOpenInfo(sourcePath, &date, &time, &attribs, &err, fci.pv);
    if (source == -1) {
        SetFciError(fci, FCIERR_OPEN_SRC, err);
        return false;
    }
    auto closeSource = [&] {
        int ignored = 0;
        fci.close(source, &ignored, fci.pv);
    };
    // The size, when the source can tell it, lets a file that would overfill
    // the folder start a new one instead.
    long end = fci.seek(source, 0, kSeekEnd, &err, fci.pv);
    if (end >= 0 && fci.seek(source, 0, kSeekSet, &err, fci.pv) != 0) {
        closeSource();
        SetFciError(fci, FCIERR_READ_SRC, err);
        return false;
    }
    if (end >= 0 && fci.folderOpen &&
        fci.folderUncompressed + static_cast<uint64_t>(end) > kMaxFolderBytes &&
        !CloseFolder(fci)) {
        closeSource();
        return false;
    }
    if (!fci.folderOpen) {
        if (fci.folders.Size() >= 0xFFFC) {
            closeSource();
            SetFciError(fci, FCIERR_CAB_FILE, 0);
            return false;
        }
        fci.folderOpen = true;
        fci.folderType = type;
        fci.folderUncompressed = 0;
        fci.folderDataStart = fci.data.size;
        fci.folderBlocks = 0;
        fci.folderPendingBytes = 0;
        fci.historySize = 0;
        fci.fill = nullptr;
    }

    uint64_t fileOffset = fci.folderUncompressed;
    uint64_t total = 0;
    for (;;) {
        if (!fci.fill && !TakeFreeBlock(fci)) {
            closeSource();
            return false;
        }
        uint32_t room = kMaxBlockSize - fci.fill->inputSize;
        UINT got = fci.read(source, fci.fill->input + fci.fill->inputSize, room, &err, fci.pv);
        if (got == 0)
            break;
        if (got == static_cast<UINT>(-1) || got > room) {
            closeSource();
            SetFciError(fci, FCIERR_READ_SRC, err);
            fci.broken = true;
            return false;
        }
        fci.fill->inputSize += got;
        total += got;
        if (fileOffset + total > kMaxFolderBytes) {
            closeSource();
            SetFciError(fci, FCIERR_CAB_FILE, 0);
            fci.broken = true;
            return false;
        }
        if (fci.fill->inputSize == kMaxBlockSize)
            SubmitFill(fci);
    }
    closeSource();
    fci.folderUncompressed += total;

    if (execute)
        attribs |= _A_EXEC;
    if (!IsAscii(nameInCabinet, nameLength) && IsValidUtf8(nameInCabinet, nameLength))
        attribs |= _A_NAME_IS_UTF;
    uint8_t entry[kFileEntrySize + CB_MAX_FILENAME];
    WriteLe32(entry, static_cast<uint32_t>(total));
    WriteLe32(entry + 4, static_cast<uint32_t>(fileOffset));
    WriteLe16(entry + 8, static_cast<uint16_t>(fci.folders.Size()));
    WriteLe16(entry + 10, date);
    WriteLe16(entry + 12, time);
    WriteLe16(entry + 14, attribs);
    std::memcpy(entry + kFileEntrySize, nameInCabinet, nameLength + 1);
    if (!AppendToTemp(fci, fci.files, entry,
                      static_cast<uint32_t>(kFileEntrySize + nameLength + 1))) {
        fci.broken = true;
        return false;
    }
    ++fci.fileCount;

    if (fci.filePlaced(&fci.ccab, nameInCabinet, static_cast<long>(total), FALSE, fci.pv) == -1) {
        SetFciError(fci, FCIERR_USER_ABORT, 0);
        fci.broken = true;
        return false;
    }
    if (fci.broken)
        return false;
    if (FolderReachedThreshold(fci))
        return CloseFolder(fci);
    return !fci.broken;
}

bool CloseFolder(FciContext& fci) {
    if (fci.broken)
        return false;
    if (!fci.folderOpen)
        return true;
    if (fci.fill && fci.fill->inputSize > 0)
        SubmitFill(fci);
    fci.fill = nullptr;
    if (!fci.pipeline.Drain(RetireBlock, &fci))
        return ReportRetireFailure(fci);
    if (!fci.folders.Push(FolderRecord{fci.folderDataStart, static_cast<uint16_t>(fci.folderBlocks),
                                       fci.folderType})) {
        SetFciError(fci, FCIERR_ALLOC_FAIL, kErrorNotEnoughMemory);
        fci.broken = true;
        return false;
    }
    fci.folderOpen = false;
    auto folderBytes = static_cast<ULONG>(fci.data.size - fci.folderDataStart);
    if (fci.status && fci.status(statusFolder, folderBytes, folderBytes, fci.pv) == -1) {
        SetFciError(fci, FCIERR_USER_ABORT, 0);
        fci.broken = true;
        return false;
    }
    return true;
}

}  // namespace winsys::cabinet
