// The exported compression entry points (FCI) with the SDK's contracts.
#include <cstring>

#include "cab_format.h"
#include "fci_context.h"
#include "win_errors.h"

namespace winsys::cabinet {

FciContext* FciFromHandle(HFCI hfci) {
    auto* fci = static_cast<FciContext*>(hfci);
    return fci && fci->magic == kFciMagic ? fci : nullptr;
}

}  // namespace winsys::cabinet

using namespace winsys::cabinet;

extern "C" {

WINSYS_EXPORT HFCI DIAMONDAPI FCICreate(PERF perf, PFNFCIFILEPLACED pfnfcifp, PFNFCIALLOC pfna,
                                        PFNFCIFREE pfnf, PFNFCIOPEN pfnopen, PFNFCIREAD pfnread,
                                        PFNFCIWRITE pfnwrite, PFNFCICLOSE pfnclose,
                                        PFNFCISEEK pfnseek, PFNFCIDELETE pfndelete,
                                        PFNFCIGETTEMPFILE pfnfcigtf, PCCAB pccab, void* pv) {
    if (!perf)
        return nullptr;
    perf->erfOper = FCIERR_NONE;
    perf->erfType = 0;
    perf->fError = FALSE;
    if (!pfnfcifp || !pfna || !pfnf || !pfnopen || !pfnread || !pfnwrite || !pfnclose || !pfnseek ||
        !pfndelete || !pfnfcigtf || !pccab) {
        *perf = ERF{FCIERR_NONE, kErrorBadArguments, TRUE};
        return nullptr;
    }
    if (pccab->cbReserveCFHeader > kMaxHeaderReserve ||
        pccab->cbReserveCFFolder > kMaxFolderReserve || pccab->cbReserveCFData > kMaxDataReserve) {
        *perf = ERF{FCIERR_NONE, kErrorInvalidParameter, TRUE};
        return nullptr;
    }
    ClientMemory memory{pfna, pfnf};
    FciContext* fci = memory.New<FciContext>(memory);
    if (!fci) {
        *perf = ERF{FCIERR_ALLOC_FAIL, kErrorNotEnoughMemory, TRUE};
        return nullptr;
    }
    fci->erf = perf;
    fci->filePlaced = pfnfcifp;
    fci->open = pfnopen;
    fci->read = pfnread;
    fci->write = pfnwrite;
    fci->close = pfnclose;
    fci->seek = pfnseek;
    fci->remove = pfndelete;
    fci->getTempFile = pfnfcigtf;
    fci->pv = pv;
    fci->ccab = *pccab;
    if (!CreateTempFile(*fci, fci->data) || !CreateTempFile(*fci, fci->files)) {
        DestroyTempFile(*fci, fci->data);
        DestroyTempFile(*fci, fci->files);
        fci->magic = 0;
        ClientMemory release = fci->memory;
        release.Delete(fci);
        return nullptr;
    }
    fci->data.memoryBudget = kDataMemoryBudget;
    fci->files.memoryBudget = kFilesMemoryBudget;
    return fci;
}

WINSYS_EXPORT BOOL DIAMONDAPI FCIAddFile(HFCI hfci, char* pszSourceFile, char* pszFileName,
                                         BOOL fExecute, PFNFCIGETNEXTCABINET pfnfcignc,
                                         PFNFCISTATUS pfnfcis, PFNFCIGETOPENINFO pfnfcigoi,
                                         TCOMP typeCompress) {
    (void)pfnfcignc;  // a file never spans cabinets here, so no next one is asked for
    FciContext* fci = FciFromHandle(hfci);
    if (!fci)
        return FALSE;
    if (!pszSourceFile || !pszFileName || !pfnfcigoi) {
        SetFciError(*fci, FCIERR_NONE, kErrorBadArguments);
        return FALSE;
    }
    if (fci->broken) {
        SetFciError(*fci, FCIERR_NONE, kErrorInvalidData);
        return FALSE;
    }
    fci->status = pfnfcis;
    return AddFileToFolder(*fci, pszSourceFile, pszFileName, fExecute, pfnfcigoi, typeCompress)
               ? TRUE
               : FALSE;
}

WINSYS_EXPORT BOOL DIAMONDAPI FCIFlushFolder(HFCI hfci, PFNFCIGETNEXTCABINET pfnfcignc,
                                             PFNFCISTATUS pfnfcis) {
    (void)pfnfcignc;
    FciContext* fci = FciFromHandle(hfci);
    if (!fci)
        return FALSE;
    fci->status = pfnfcis;
    return CloseFolder(*fci) ? TRUE : FALSE;
}

WINSYS_EXPORT BOOL DIAMONDAPI FCIFlushCabinet(HFCI hfci, BOOL fGetNextCab,
                                              PFNFCIGETNEXTCABINET pfnfcignc,
                                              PFNFCISTATUS pfnfcis) {
    FciContext* fci = FciFromHandle(hfci);
    if (!fci)
        return FALSE;
    fci->status = pfnfcis;
    return WriteCabinet(*fci, fGetNextCab, pfnfcignc) ? TRUE : FALSE;
}

WINSYS_EXPORT BOOL DIAMONDAPI FCIDestroy(HFCI hfci) {
    FciContext* fci = FciFromHandle(hfci);
    if (!fci)
        return FALSE;
    // A cabinet that data went into but that was never finished is no cabinet.
    CloseSpilledCabinet(*fci, true);
    DestroyTempFile(*fci, fci->data);
    DestroyTempFile(*fci, fci->files);
    fci->magic = 0;
    ClientMemory release = fci->memory;
    release.Delete(fci);
    return TRUE;
}

}  // extern "C"
