/* File Compression Interface: builds cabinet files through callbacks that do
 * every allocation and every file access for it. Names, layouts and values as
 * in the Windows cabinet SDK. */
#ifndef INCLUDED_FCI
#define INCLUDED_FCI 1

#include "fdi_fci_types.h"

WINSYS_BEGIN_DECLS

typedef enum {
    FCIERR_NONE,
    FCIERR_OPEN_SRC,
    FCIERR_READ_SRC,
    FCIERR_ALLOC_FAIL,
    FCIERR_TEMP_FILE,
    FCIERR_BAD_COMPR_TYPE,
    FCIERR_CAB_FILE,
    FCIERR_USER_ABORT,
    FCIERR_MCI_FAIL
} FCIERROR;

typedef void* HFCI;

typedef struct {
    ULONG cb;
    ULONG cbFolderThresh;
    UINT cbReserveCFHeader;
    UINT cbReserveCFFolder;
    UINT cbReserveCFData;
    int iCab;
    int iDisk;
    int fFailOnIncompressible;
    USHORT setID;
    char szDisk[CB_MAX_DISK_NAME];
    char szCab[CB_MAX_CABINET_NAME];
    char szCabPath[CB_MAX_CAB_PATH];
} CCAB;
typedef CCAB* PCCAB;

typedef void*(DIAMONDAPI* PFNFCIALLOC)(ULONG cb);
#define FNFCIALLOC(fn) void* DIAMONDAPI fn(ULONG cb)
typedef void(DIAMONDAPI* PFNFCIFREE)(void* memory);
#define FNFCIFREE(fn) void DIAMONDAPI fn(void* memory)

typedef INT_PTR(DIAMONDAPI* PFNFCIOPEN)(char* pszFile, int oflag, int pmode, int* err, void* pv);
typedef UINT(DIAMONDAPI* PFNFCIREAD)(INT_PTR hf, void* memory, UINT cb, int* err, void* pv);
typedef UINT(DIAMONDAPI* PFNFCIWRITE)(INT_PTR hf, void* memory, UINT cb, int* err, void* pv);
typedef int(DIAMONDAPI* PFNFCICLOSE)(INT_PTR hf, int* err, void* pv);
typedef long(DIAMONDAPI* PFNFCISEEK)(INT_PTR hf, long dist, int seektype, int* err, void* pv);
typedef int(DIAMONDAPI* PFNFCIDELETE)(char* pszFile, int* err, void* pv);
#define FNFCIOPEN(fn) INT_PTR DIAMONDAPI fn(char* pszFile, int oflag, int pmode, int* err, void* pv)
#define FNFCIREAD(fn) UINT DIAMONDAPI fn(INT_PTR hf, void* memory, UINT cb, int* err, void* pv)
#define FNFCIWRITE(fn) UINT DIAMONDAPI fn(INT_PTR hf, void* memory, UINT cb, int* err, void* pv)
#define FNFCICLOSE(fn) int DIAMONDAPI fn(INT_PTR hf, int* err, void* pv)
#define FNFCISEEK(fn) long DIAMONDAPI fn(INT_PTR hf, long dist, int seektype, int* err, void* pv)
#define FNFCIDELETE(fn) int DIAMONDAPI fn(char* pszFile, int* err, void* pv)

typedef BOOL(DIAMONDAPI* PFNFCIGETNEXTCABINET)(PCCAB pccab, ULONG cbPrevCab, void* pv);
#define FNFCIGETNEXTCABINET(fn) BOOL DIAMONDAPI fn(PCCAB pccab, ULONG cbPrevCab, void* pv)

typedef int(DIAMONDAPI* PFNFCIFILEPLACED)(PCCAB pccab, char* pszFile, long cbFile,
                                          BOOL fContinuation, void* pv);
#define FNFCIFILEPLACED(fn) \
    int DIAMONDAPI fn(PCCAB pccab, char* pszFile, long cbFile, BOOL fContinuation, void* pv)

typedef INT_PTR(DIAMONDAPI* PFNFCIGETOPENINFO)(char* pszName, USHORT* pdate, USHORT* ptime,
                                               USHORT* pattribs, int* err, void* pv);
#define FNFCIGETOPENINFO(fn)                                                                       \
    INT_PTR DIAMONDAPI fn(char* pszName, USHORT* pdate, USHORT* ptime, USHORT* pattribs, int* err, \
                          void* pv)

#define statusFile 0
#define statusFolder 1
#define statusCabinet 2

typedef long(DIAMONDAPI* PFNFCISTATUS)(UINT typeStatus, ULONG cb1, ULONG cb2, void* pv);
#define FNFCISTATUS(fn) long DIAMONDAPI fn(UINT typeStatus, ULONG cb1, ULONG cb2, void* pv)

typedef BOOL(DIAMONDAPI* PFNFCIGETTEMPFILE)(char* pszTempName, int cbTempName, void* pv);
#define FNFCIGETTEMPFILE(fn) BOOL DIAMONDAPI fn(char* pszTempName, int cbTempName, void* pv)

WINSYS_EXPORT HFCI DIAMONDAPI FCICreate(PERF perf, PFNFCIFILEPLACED pfnfcifp, PFNFCIALLOC pfna,
                                        PFNFCIFREE pfnf, PFNFCIOPEN pfnopen, PFNFCIREAD pfnread,
                                        PFNFCIWRITE pfnwrite, PFNFCICLOSE pfnclose,
                                        PFNFCISEEK pfnseek, PFNFCIDELETE pfndelete,
                                        PFNFCIGETTEMPFILE pfnfcigtf, PCCAB pccab, void* pv);
WINSYS_EXPORT BOOL DIAMONDAPI FCIAddFile(HFCI hfci, char* pszSourceFile, char* pszFileName,
                                         BOOL fExecute, PFNFCIGETNEXTCABINET pfnfcignc,
                                         PFNFCISTATUS pfnfcis, PFNFCIGETOPENINFO pfnfcigoi,
                                         TCOMP typeCompress);
WINSYS_EXPORT BOOL DIAMONDAPI FCIFlushCabinet(HFCI hfci, BOOL fGetNextCab,
                                              PFNFCIGETNEXTCABINET pfnfcignc, PFNFCISTATUS pfnfcis);
WINSYS_EXPORT BOOL DIAMONDAPI FCIFlushFolder(HFCI hfci, PFNFCIGETNEXTCABINET pfnfcignc,
                                             PFNFCISTATUS pfnfcis);
WINSYS_EXPORT BOOL DIAMONDAPI FCIDestroy(HFCI hfci);

WINSYS_END_DECLS

#endif
