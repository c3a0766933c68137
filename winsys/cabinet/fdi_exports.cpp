// The exported decompression entry points (FDI) with the SDK's contracts.
#include <cstring>

#include "crt_flags.h"
#include "fdi_context.h"
#include "win_errors.h"

namespace winsys::cabinet {

FdiContext* FdiFromHandle(HFDI hfdi) {
    auto* fdi = static_cast<FdiContext*>(hfdi);
    return fdi && fdi->magic == kFdiMagic ? fdi : nullptr;
}

void SetFdiError(FdiContext& fdi, int oper, int type) {
    fdi.erf->erfOper = oper;
    fdi.erf->erfType = type;
    fdi.erf->fError = TRUE;
}

namespace {

BOOL Fail(FdiContext& fdi, int oper) {
    SetFdiError(fdi, oper, oper == FDIERROR_ALLOC_FAIL ? kErrorNotEnoughMemory : 0);
    return FALSE;
}

}  // namespace
}  // namespace winsys::cabinet

using namespace winsys::cabinet;

extern "C" {

WINSYS_EXPORT HFDI DIAMONDAPI FDICreate(PFNALLOC pfnalloc, PFNFREE pfnfree, PFNOPEN pfnopen,
                                        PFNREAD pfnread, PFNWRITE pfnwrite, PFNCLOSE pfnclose,
                                        PFNSEEK pfnseek, int cpuType, PERF perf) {
    if (!perf)
        return nullptr;
    *perf = ERF{FDIERROR_NONE, 0, FALSE};
    if (!pfnalloc || !pfnfree || !pfnopen || !pfnread || !pfnwrite || !pfnclose || !pfnseek) {
        *perf = ERF{FDIERROR_NONE, kErrorBadArguments, TRUE};
        return nullptr;
    }
    ClientMemory memory{pfnalloc, pfnfree};
    FdiContext* fdi = memory.New<FdiContext>();
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

WINSYS_EXPORT BOOL DIAMONDAPI FDIIsCabinet(HFDI hfdi, INT_PTR hf, PFDICABINETINFO pfdici) {
    FdiContext* fdi = FdiFromHandle(hfdi);
    if (!fdi)
        return FALSE;
    if (!pfdici) {
        SetFdiError(*fdi, FDIERROR_NONE, kErrorBadArguments);
        return FALSE;
    }
    CabinetHeader* header = fdi->memory.New<CabinetHeader>();
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

WINSYS_EXPORT BOOL DIAMONDAPI FDICopy(HFDI hfdi, char* pszCabinet, char* pszCabPath, int flags,
                                      PFNFDINOTIFY pfnfdin, PFNFDIDECRYPT pfnfdid, void* pvUser) {
    (void)flags;
    (void)pfnfdid;  // cabinets are not encrypted; the decrypt hook has nothing to do
    FdiContext* fdi = FdiFromHandle(hfdi);
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
    return CopyCabinetFiles(*fdi, path, directory, pfnfdin, pvUser);
}

WINSYS_EXPORT BOOL DIAMONDAPI FDIDestroy(HFDI hfdi) {
    FdiContext* fdi = FdiFromHandle(hfdi);
    if (!fdi)
        return FALSE;
    fdi->magic = 0;
    ClientMemory memory = fdi->memory;
    memory.Delete(fdi);
    return TRUE;
}

}  // extern "C"
