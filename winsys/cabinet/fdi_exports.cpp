// The exported decompression entry points (FDI): FDICopy walks the file table
// of one cabinet, asks the caller about each file and writes the chosen ones
// to the handles the caller returns.
#include <cstring>

#include "crt_flags.h"
#include "fdi_context.h"
#include "names.h"
#include "win_errors.h"

namespace winsys::cabinet {

FdiContext *FdiFromHandle(HFDI hfdi)
{
    auto *fdi = static_cast<FdiContext *>(hfdi);
    return fdi && fdi->magic == kFdiMagic ? fdi : nullptr;
}

void SetFdiError(FdiContext &fdi, int oper, int type)
{
    fdi.erf->erfOper = oper;
    fdi.erf->erfType = type;
    fdi.erf->fError = TRUE;
}

namespace {

// Everything one FDICopy call holds open, released on every way out.
struct CopySession {
    explicit CopySession(FdiContext &f) : fdi(f) {}
    ~CopySession()
    {
        if (target != 0 && target != -1)
            fdi.close(target);
        if (decoder)
            fdi.memory.Delete(decoder);
        if (table)
            fdi.memory.Delete(table);
        if (header)
            fdi.memory.Delete(header);
        if (cabinet != -1)
            fdi.close(cabinet);
    }

    FdiContext &fdi;
    INT_PTR cabinet = -1;
    INT_PTR target = 0;
    CabinetHeader *header = nullptr;
    FileTableReader *table = nullptr;
    FolderDecoder *decoder = nullptr;
    int currentFolder = -1;
};

// Names are handed out in the narrow code page, UTF-8 here.
const char *NarrowName(const FileEntry &entry, char *converted, size_t size)
{
    size_t length = std::strlen(entry.name);
    if ((entry.attribs & _A_NAME_IS_UTF) || IsAscii(entry.name, length))
        return entry.name;
    return Latin1ToUtf8(entry.name, length, converted, size) ? converted : entry.name;
}

int ExtractFile(CopySession &session, const FileEntry &entry, uint16_t folderIndex)
{
    FdiContext &fdi = session.fdi;
    if (!session.decoder) {
        session.decoder = fdi.memory.New<FolderDecoder>(fdi, session.cabinet);
        if (!session.decoder || !session.decoder->Init())
            return FDIERROR_ALLOC_FAIL;
    }
    FolderDecoder &decoder = *session.decoder;
    if (session.currentFolder != folderIndex || entry.folderOffset < decoder.Position()) {
        FolderEntry folder{};
        int error = ReadFolderEntry(fdi, session.cabinet, *session.header, folderIndex, folder);
        if (error == FDIERROR_NONE)
            error = decoder.Start(folder, session.header->dataReserve);
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

BOOL Fail(FdiContext &fdi, int oper)
{
    SetFdiError(fdi, oper, oper == FDIERROR_ALLOC_FAIL ? kErrorNotEnoughMemory : 0);
    return FALSE;
}

BOOL CopyCabinet(CopySession &session, char *cabinetPath, char *cabinetDirectory, PFNFDINOTIFY notify,
                 void *pvUser)
{
    FdiContext &fdi = session.fdi;
    session.cabinet = fdi.open(cabinetPath, kCrtReadOnly | kCrtBinary, kCrtModeReadWrite);
    if (session.cabinet == -1)
        return Fail(fdi, FDIERROR_CABINET_NOT_FOUND);
    session.header = fdi.memory.New<CabinetHeader>();
    session.table = fdi.memory.New<FileTableReader>(fdi, session.cabinet);
    if (!session.header || !session.table)
        return Fail(fdi, FDIERROR_ALLOC_FAIL);
    CabinetHeader &header = *session.header;
    int error = ReadCabinetHeader(fdi, session.cabinet, header);
    if (error != FDIERROR_NONE)
        return Fail(fdi, error);

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

    FileEntry *entry = fdi.memory.New<FileEntry>();
    if (!entry)
        return Fail(fdi, FDIERROR_ALLOC_FAIL);
    struct EntryRelease {
        FdiContext &fdi;
        FileEntry *entry;
        ~EntryRelease() { fdi.memory.Delete(entry); }
    } entryRelease{fdi, entry};
    char converted[kMaxNameBytes * 2];

    for (; remaining > 0; --remaining) {
        uint64_t next = 0;
        error = session.table->Read(cursor, *entry, next);
        if (error != FDIERROR_NONE)
            return Fail(fdi, error);
        cursor = next;
        char *name = const_cast<char *>(NarrowName(*entry, converted, sizeof converted));

        if (entry->folderIndex == kFolderContinuedFromPrev || entry->folderIndex == kFolderContinuedPrevAndNext) {
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

} // namespace
} // namespace winsys::cabinet

using namespace winsys::cabinet;

extern "C" {

WINSYS_EXPORT HFDI DIAMONDAPI FDICreate(PFNALLOC pfnalloc, PFNFREE pfnfree, PFNOPEN pfnopen, PFNREAD pfnread,
                                        PFNWRITE pfnwrite, PFNCLOSE pfnclose, PFNSEEK pfnseek, int cpuType,
                                        PERF perf)
{
    if (!perf)
        return nullptr;
    *perf = ERF{FDIERROR_NONE, 0, FALSE};
    if (!pfnalloc || !pfnfree || !pfnopen || !pfnread || !pfnwrite || !pfnclose || !pfnseek) {
        *perf = ERF{FDIERROR_NONE, kErrorBadArguments, TRUE};
        return nullptr;
    }
    ClientMemory memory{pfnalloc, pfnfree};
    FdiContext *fdi = memory.New<FdiContext>();
    if (!fdi) {
        *perf = ERF{FDIERROR_ALLOC_FAIL, kErrorNotEnoughMemory, TRUE};
        return nullptr;
    }
    fdi->memory = memory;
    fdi->open = pfnopen;
    fdi->read = pfnread;
    fdi->write = pfnwrite;
    fdi->close = pfnclose;
    fdi->seek = pfnseek;
    fdi->cpuType = cpuType;
    fdi->erf = perf;
    return fdi;
}

WINSYS_EXPORT BOOL DIAMONDAPI FDIIsCabinet(HFDI hfdi, INT_PTR hf, PFDICABINETINFO pfdici)
{
    FdiContext *fdi = FdiFromHandle(hfdi);
    if (!fdi)
        return FALSE;
    if (!pfdici) {
        SetFdiError(*fdi, FDIERROR_NONE, kErrorBadArguments);
        return FALSE;
    }
    CabinetHeader *header = fdi->memory.New<CabinetHeader>();
    if (!header)
        return Fail(*fdi, FDIERROR_ALLOC_FAIL);
    int error = ReadCabinetHeader(*fdi, hf, *header);
    if (error == FDIERROR_NONE) {
        pfdici->cbCabinet = static_cast<long>(header->cbCabinet);
        pfdici->cFolders = header->cFolders;
        pfdici->cFiles = header->cFiles;
        pfdici->setID = header->setID;
        pfdici->iCabinet = header->iCabinet;
        pfdici->fReserve = (header->flags & kFlagReservePresent) ? TRUE : FALSE;
        pfdici->hasprev = (header->flags & kFlagPrevCabinet) ? TRUE : FALSE;
        pfdici->hasnext = (header->flags & kFlagNextCabinet) ? TRUE : FALSE;
    }
    fdi->memory.Delete(header);
    if (error != FDIERROR_NONE)
        return Fail(*fdi, error);
    return TRUE;
}

WINSYS_EXPORT BOOL DIAMONDAPI FDICopy(HFDI hfdi, char *pszCabinet, char *pszCabPath, int flags,
                                      PFNFDINOTIFY pfnfdin, PFNFDIDECRYPT pfnfdid, void *pvUser)
{
    (void)flags;
    (void)pfnfdid; // cabinets are not encrypted; the decrypt hook has nothing to do
    FdiContext *fdi = FdiFromHandle(hfdi);
    if (!fdi)
        return FALSE;
    if (!pfnfdin) {
        SetFdiError(*fdi, FDIERROR_NONE, kErrorBadArguments);
        return FALSE;
    }
    // The directory is handed to the notifications in a buffer of the SDK's
    // size; the joined path must fit the same way.
    char directory[CB_MAX_CAB_PATH] = {};
    char path[CB_MAX_CAB_PATH + CB_MAX_CABINET_NAME] = {};
    size_t dirLength = pszCabPath ? strnlen(pszCabPath, sizeof directory) : 0;
    size_t nameLength = pszCabinet ? strnlen(pszCabinet, CB_MAX_CABINET_NAME) : 0;
    if (dirLength >= sizeof directory || nameLength >= CB_MAX_CABINET_NAME)
        return Fail(*fdi, FDIERROR_CABINET_NOT_FOUND);
    std::memcpy(directory, pszCabPath ? pszCabPath : "", dirLength);
    std::memcpy(path, directory, dirLength);
    std::memcpy(path + dirLength, pszCabinet ? pszCabinet : "", nameLength);
    CopySession session(*fdi);
    return CopyCabinet(session, path, directory, pfnfdin, pvUser);
}

WINSYS_EXPORT BOOL DIAMONDAPI FDIDestroy(HFDI hfdi)
{
    FdiContext *fdi = FdiFromHandle(hfdi);
    if (!fdi)
        return FALSE;
    fdi->magic = 0;
    ClientMemory memory = fdi->memory;
    memory.Delete(fdi);
    return TRUE;
}

} // extern "C"
