// The state of one compression context (HFCI): the caller's callbacks, the
// parameters of the cabinet being built, its temporary files and the folder
// whose data blocks are being encoded.
#pragma once

#include <cstdint>

#include "cab_format.h"
#include "client_memory.h"
#include "compression_pipeline.h"
#include "fci.h"

namespace winsys::cabinet {

inline constexpr uint32_t kFciMagic = 0x46434943;  // "FCIC"

// Scratch storage for what a cabinet holds until it is written: its first
// `memoryBudget` bytes in client memory, the rest in a temporary file reached
// only through the caller's callbacks. Compressed data that fits the budget
// is thus written once, into the cabinet. The logical size is tracked here,
// so that both parts are reused from the start for the next cabinet without
// truncating the file.
struct TempFile {
    static constexpr uint32_t kChunkSize = 1u << 20;
    static constexpr size_t kMaxChunks = 16;

    char name[CB_MAX_FILENAME] = {};
    INT_PTR handle = -1;
    uint64_t size = 0;      // logical: memory part and file part
    bool atEnd = true;      // the file position is at the end of the file part
    uint64_t memorySize = 0;  // bytes of the content held in memory
    uint64_t memoryBudget = 0;  // never more in memory than this
    uint8_t* chunks[kMaxChunks] = {};  // the memory part, in client memory
    // Where the file part goes: the temporary file from its start, or, for
    // data blocks past the budget, the cabinet file itself from `partBase`.
    INT_PTR partHandle = -1;
    uint64_t partBase = 0;
};

// Data blocks past the memory budget are written into the cabinet file at
// once, this far into it: room for the header and the tables, which are
// written in front of them when the cabinet is finished. The header's
// reserve takes up what the tables leave of that room, so the cabinet stays
// a plain one; tables that outgrow it move the data once.
inline constexpr uint64_t kSpilledDataStart = kHeaderSize + kReserveFieldsSize + kMaxHeaderReserve;

// Memory budgets of the two scratch stores of a cabinet writer.
inline constexpr uint64_t kDataMemoryBudget = uint64_t(TempFile::kChunkSize) * 16;
inline constexpr uint64_t kFilesMemoryBudget = uint64_t(TempFile::kChunkSize) * 1;

struct FolderRecord {
    uint64_t dataOffset;  // in the data temporary file
    uint16_t blocks;
    uint16_t type;
};

struct FciContext {
    explicit FciContext(const ClientMemory& mem) : memory(mem), folders(memory), pipeline(memory) {}

    uint32_t magic = kFciMagic;
    PERF erf = nullptr;
    PFNFCIFILEPLACED filePlaced = nullptr;
    PFNFCIOPEN open = nullptr;
    PFNFCIREAD read = nullptr;
    PFNFCIWRITE write = nullptr;
    PFNFCICLOSE close = nullptr;
    PFNFCISEEK seek = nullptr;
    PFNFCIDELETE remove = nullptr;
    PFNFCIGETTEMPFILE getTempFile = nullptr;
    void* pv = nullptr;
    ClientMemory memory;

    CCAB ccab{};
    bool hasPrev = false;
    char prevCab[CB_MAX_CABINET_NAME] = {};
    char prevDisk[CB_MAX_DISK_NAME] = {};

    TempFile data;   // data block records of every folder in the cabinet
    TempFile files;  // file entries of the cabinet, in the order added
    ClientArray<FolderRecord> folders;
    uint32_t fileCount = 0;

    // The folder being filled.
    bool folderOpen = false;
    uint16_t folderType = 0;
    uint64_t folderUncompressed = 0;
    uint64_t folderDataStart = 0;
    uint32_t folderBlocks = 0;
    uint64_t folderPendingBytes = 0;  // upper bound of queued blocks' records
    bool folderHasFiles = false;
    uint8_t history[kMaxBlockSize];  // the open folder's last submitted block
    uint32_t historySize = 0;

    CompressionPipeline pipeline;
    DataBlock* fill = nullptr;      // the block being filled, or null
    PFNFCISTATUS status = nullptr;  // the status callback of the running call
    int retireError = 0;            // FCIERR_* of a failed retire
    bool broken = false;            // a failure left the cabinet half built
};

// Limits of the current cabinet; zero in the parameters means no limit.
inline uint64_t CabinetSizeLimit(const CCAB& c) {
    return c.cb ? c.cb : 0x7FFFFFFF;
}
inline uint64_t FolderSizeThreshold(const CCAB& c) {
    return c.cbFolderThresh ? c.cbFolderThresh : UINT64_MAX;
}

FciContext* FciFromHandle(HFCI hfci);
void SetFciError(FciContext& fci, int oper, int type);

// The cabinet file's full path from the parameters; false when it does not fit.
bool CabinetFilePath(const CCAB& c, char* path, size_t capacity);
// Closes a cabinet file that data blocks went into before the cabinet was
// finished; with `remove`, deletes the unfinished file too.
void CloseSpilledCabinet(FciContext& fci, bool remove);

bool CreateTempFile(FciContext& fci, TempFile& temp);
void DestroyTempFile(FciContext& fci, TempFile& temp);
bool AppendToTemp(FciContext& fci, TempFile& temp, const void* bytes, uint32_t size);

// Adds one file's data and entry to the current folder.
bool AddFileToFolder(FciContext& fci, char* sourcePath, char* nameInCabinet, BOOL execute,
                     PFNFCIGETOPENINFO getOpenInfo, TCOMP type);
// Closes the current folder: its last block is written and its record kept.
bool CloseFolder(FciContext& fci);
// Writes the cabinet file from the temporary files and starts a new cabinet.
bool WriteCabinet(FciContext& fci, BOOL getNextCabinet, PFNFCIGETNEXTCABINET getNext);
// Size the cabinet would have if written now, queued blocks included.
uint64_t EstimatedCabinetSize(const FciContext& fci);

}  // namespace winsys::cabinet
