// FDICopy's walk through one cabinet: the notifications, the files chosen by
// the caller, and the next cabinet of a set when a folder goes on there.
#include <cstring>

#include "crt_flags.h"
#include "fdi_context.h"
#include "names.h"
#include "win_errors.h"

namespace winsys::cabinet {
namespace {

// Everything one FDICopy call holds open, released on every way out. It also
// finds the next cabinet when a folder goes on there.
struct CopySession final : FolderContinuation {
    // A caller that answers every next-cabinet notification without fixing
    // the problem would otherwise be asked forever.
    static constexpr int kNextCabinetAttempts = 16;

    explicit CopySession(FdiContext& f) : fdi(f) {}
    CopySession(const CopySession&) = delete;
    CopySession& operator=(const CopySession&) = delete;
    ~CopySession() {
        if (target != 0 && target != -1)
            fdi.close(target);
        if (decoder)
            fdi.memory.Delete(decoder);
        if (table)
            fdi.memory.Delete(table);
        CloseSpan();
        fdi.memory.Delete(spanHeader);
        fdi.memory.Delete(candidate);
        fdi.memory.Delete(header);
        if (cabinet != -1)
            fdi.close(cabinet);
    }

    void CloseSpan() {
        if (spanHandle != -1)
            fdi.close(spanHandle);
        spanHandle = -1;
    }

    int Continue(INT_PTR& hf, FolderEntry& folder, uint8_t& dataReserve,
                 bool& continuesAgain) override;

    FdiContext& fdi;
    PFNFDINOTIFY notify = nullptr;
    void* pvUser = nullptr;
    char* directory = nullptr;  // CB_MAX_CAB_PATH bytes the caller may rewrite
    INT_PTR cabinet = -1;
    INT_PTR target = 0;
    CabinetHeader* header = nullptr;
    FileTableReader* table = nullptr;
    FolderDecoder* decoder = nullptr;
    int currentFolder = -1;
    // The continuation cabinet now supplying data, when a folder spans.
    INT_PTR spanHandle = -1;
    CabinetHeader* spanHeader = nullptr;
    CabinetHeader* candidate = nullptr;
};

int CopySession::Continue(INT_PTR& hf, FolderEntry& folder, uint8_t& dataReserve,
                          bool& continuesAgain) {
    if (!spanHeader)
        spanHeader = fdi.memory.New<CabinetHeader>(*header);
    if (!candidate)
        candidate = fdi.memory.New<CabinetHeader>();
    if (!spanHeader || !candidate)
        return FDIERROR_ALLOC_FAIL;
    const CabinetHeader& current = *spanHeader;
    int lastError = FDIERROR_NONE;
    for (int attempt = 0; attempt < kNextCabinetAttempts; ++attempt) {
        FDINOTIFICATION note{};
        note.pv = pvUser;
        note.psz1 = const_cast<char*>(current.nextCab);
        note.psz2 = const_cast<char*>(current.nextDisk);
        note.psz3 = directory;
        note.fdie = static_cast<FDIERROR>(lastError);
        note.setID = current.setID;
        note.iCabinet = current.iCabinet;
        if (notify(fdintNEXT_CABINET, &note) == -1)
            return FDIERROR_USER_ABORT;
        directory[CB_MAX_CAB_PATH - 1] = '\0';
        char path[CB_MAX_CAB_PATH + kMaxNameBytes];
        size_t dirLength = std::strlen(directory);
        size_t nameLength = std::strlen(current.nextCab);
        std::memcpy(path, directory, dirLength);
        std::memcpy(path + dirLength, current.nextCab, nameLength + 1);
        INT_PTR h = fdi.open(path, kCrtReadOnly | kCrtBinary, kCrtModeReadWrite);
        if (h == -1) {
            lastError = FDIERROR_CABINET_NOT_FOUND;
            continue;
        }
        *candidate = CabinetHeader{};
        int error = ReadCabinetHeader(fdi, h, *candidate);
        if (error == FDIERROR_NONE &&
            (candidate->setID != current.setID || candidate->iCabinet != current.iCabinet + 1))
            error = FDIERROR_WRONG_CABINET;
        if (error == FDIERROR_NONE)
            error = ReadFolderEntry(fdi, h, *candidate, 0, folder);
        if (error != FDIERROR_NONE) {
            fdi.close(h);
            lastError = error;
            continue;
        }
        note = FDINOTIFICATION{};
        note.pv = pvUser;
        note.psz1 = candidate->nextCab;
        note.psz2 = candidate->nextDisk;
        note.psz3 = directory;
        note.setID = candidate->setID;
        note.iCabinet = candidate->iCabinet;
        if (notify(fdintCABINET_INFO, &note) == -1) {
            fdi.close(h);
            return FDIERROR_USER_ABORT;
        }
        CloseSpan();
        spanHandle = h;
        *spanHeader = *candidate;
        hf = h;
        dataReserve = spanHeader->dataReserve;
        continuesAgain = spanHeader->cFolders == 1 && (spanHeader->flags & kFlagNextCabinet);
        return FDIERROR_NONE;
    }
    return lastError;
}

// Names are handed out in the narrow code page, UTF-8 here.
const char* NarrowName(const FileEntry& entry, char* converted, size_t size) {
    size_t length = std::strlen(entry.name);
    if ((entry.attribs & _A_NAME_IS_UTF) || IsAscii(entry.name, length))
        return entry.name;
    return Latin1ToUtf8(entry.name, length, converted, size) ? converted : entry.name;
}

int ExtractFile(CopySession& session, const FileEntry& entry, uint16_t folderIndex) {
    FdiContext& fdi = session.fdi;
    if (!session.decoder) {
        session.decoder = fdi.memory.New<FolderDecoder>(fdi);
        if (!session.decoder || !session.decoder->Init())
            return FDIERROR_ALLOC_FAIL;
    }
    FolderDecoder& decoder = *session.decoder;
    if (session.currentFolder != folderIndex || entry.folderOffset < decoder.Position()) {
        FolderEntry folder{};
        const CabinetHeader& header = *session.header;
        // The last folder of a cabinet that has a successor may go on there.
        bool spans = folderIndex + 1 == header.cFolders && (header.flags & kFlagNextCabinet);
        session.CloseSpan();
        if (session.spanHeader)
            *session.spanHeader = header;
        int error = ReadFolderEntry(fdi, session.cabinet, header, folderIndex, folder);
        if (error == FDIERROR_NONE)
            error = decoder.Start(session.cabinet, folder, header.dataReserve,
                                  spans ? &session : nullptr);
        if (error != FDIERROR_NONE) {
            session.currentFolder = -1;
            return error;
        }
        session.currentFolder = folderIndex;
    }
    int error = decoder.Skip(entry.folderOffset);
    if (error == FDIERROR_NONE)
        error = decoder.CopyTo(session.target, entry.size);
    if (error != FDIERROR_NONE)
        session.currentFolder = -1;
    return error;
}

BOOL Fail(FdiContext& fdi, int oper) {
    SetFdiError(fdi, oper, oper == FDIERROR_ALLOC_FAIL ? kErrorNotEnoughMemory : 0);
    return FALSE;
}

BOOL WalkCabinet(CopySession& session, char* cabinetPath, char* cabinetDirectory,
                 PFNFDINOTIFY notify, void* pvUser) {
    FdiContext& fdi = session.fdi;
    session.notify = notify;
    session.pvUser = pvUser;
    session.directory = cabinetDirectory;
    session.cabinet = fdi.open(cabinetPath, kCrtReadOnly | kCrtBinary, kCrtModeReadWrite);
    if (session.cabinet == -1)
        return Fail(fdi, FDIERROR_CABINET_NOT_FOUND);
    session.header = fdi.memory.New<CabinetHeader>();
    session.table = fdi.memory.New<FileTableReader>(fdi, session.cabinet);
    if (!session.header || !session.table)
        return Fail(fdi, FDIERROR_ALLOC_FAIL);
    CabinetHeader& header = *session.header;
    int error = ReadCabinetHeader(fdi, session.cabinet, header);
    if (error != FDIERROR_NONE)
        return Fail(fdi, error);
    // No writer makes a cabinet without files; one that claims so is damaged.
    if (header.cFiles == 0)
        return Fail(fdi, FDIERROR_CORRUPT_CABINET);

    FDINOTIFICATION note{};
    note.pv = pvUser;
    note.psz1 = header.nextCab;
    note.psz2 = header.nextDisk;
    note.psz3 = cabinetDirectory;
    note.setID = header.setID;
    note.iCabinet = header.iCabinet;
    if (notify(fdintCABINET_INFO, &note) == -1)
        return Fail(fdi, FDIERROR_USER_ABORT);

    // The caller may move the walk through the file table, or end it, here.
    note = FDINOTIFICATION{};
    note.pv = pvUser;
    note.cb = static_cast<long>(header.coffFiles);
    note.iFolder = header.cFiles;
    note.setID = header.setID;
    note.iCabinet = header.iCabinet;
    if (notify(fdintENUMERATE, &note) == -1)
        return Fail(fdi, FDIERROR_USER_ABORT);
    uint64_t cursor = static_cast<uint64_t>(static_cast<uint32_t>(note.cb));
    uint32_t remaining = note.iFolder;

    FileEntry* entry = fdi.memory.New<FileEntry>();
    if (!entry)
        return Fail(fdi, FDIERROR_ALLOC_FAIL);
    struct EntryRelease {
        FdiContext& fdi;
        FileEntry* entry;
        ~EntryRelease() { fdi.memory.Delete(entry); }
    } entryRelease{fdi, entry};
    char converted[kMaxNameBytes * 2];

    for (; remaining > 0; --remaining) {
        uint64_t next = 0;
        error = session.table->Read(cursor, *entry, next);
        if (error != FDIERROR_NONE)
            return Fail(fdi, error);
        cursor = next;
        char* name = const_cast<char*>(NarrowName(*entry, converted, sizeof converted));

        if (entry->folderIndex == kFolderContinuedFromPrev ||
            entry->folderIndex == kFolderContinuedPrevAndNext) {
            note = FDINOTIFICATION{};
            note.pv = pvUser;
            note.psz1 = name;
            note.psz2 = header.prevCab;
            note.psz3 = header.prevDisk;
            note.setID = header.setID;
            note.iCabinet = header.iCabinet;
            if (notify(fdintPARTIAL_FILE, &note) == -1)
                return Fail(fdi, FDIERROR_USER_ABORT);
            continue;
        }
        uint16_t folderIndex = entry->folderIndex;
        if (folderIndex == kFolderContinuedToNext) {
            if (header.cFolders == 0)
                return Fail(fdi, FDIERROR_CORRUPT_CABINET);
            folderIndex = static_cast<uint16_t>(header.cFolders - 1);
        } else if (folderIndex >= header.cFolders) {
            return Fail(fdi, FDIERROR_CORRUPT_CABINET);
        }

        note = FDINOTIFICATION{};
        note.pv = pvUser;
        note.psz1 = name;
        note.cb = static_cast<long>(entry->size);
        note.date = entry->date;
        note.time = entry->time;
        note.attribs = entry->attribs;
        note.iFolder = entry->folderIndex;
        note.setID = header.setID;
        note.iCabinet = header.iCabinet;
        INT_PTR target = notify(fdintCOPY_FILE, &note);
        if (target == -1)
            return Fail(fdi, FDIERROR_USER_ABORT);
        if (target == 0)
            continue;
        session.target = target;
        error = ExtractFile(session, *entry, folderIndex);
        if (error != FDIERROR_NONE)
            return Fail(fdi, error);

        // From here on the handle is the caller's to close.
        session.target = 0;
        note = FDINOTIFICATION{};
        note.pv = pvUser;
        note.psz1 = name;
        note.hf = target;
        note.date = entry->date;
        note.time = entry->time;
        note.attribs = static_cast<USHORT>(entry->attribs & ~_A_EXEC);
        note.cb = (entry->attribs & _A_EXEC) ? 1 : 0;
        note.iFolder = entry->folderIndex;
        note.setID = header.setID;
        note.iCabinet = header.iCabinet;
        INT_PTR closed = notify(fdintCLOSE_FILE_INFO, &note);
        if (closed == -1)
            return Fail(fdi, FDIERROR_USER_ABORT);
        if (closed == FALSE)
            return Fail(fdi, FDIERROR_TARGET_FILE);
    }

    note = FDINOTIFICATION{};
    note.pv = pvUser;
    note.cb = static_cast<long>(cursor);
    note.iFolder = 0;
    note.setID = header.setID;
    note.iCabinet = header.iCabinet;
    if (notify(fdintENUMERATE, &note) == -1)
        return Fail(fdi, FDIERROR_USER_ABORT);
    return TRUE;
}

}  // namespace

BOOL CopyCabinetFiles(FdiContext& fdi, char* cabinetPath, char* cabinetDirectory,
                      PFNFDINOTIFY notify, void* pvUser) {
    CopySession session(fdi);
    return WalkCabinet(session, cabinetPath, cabinetDirectory, notify, pvUser);
}

}  // namespace winsys::cabinet
