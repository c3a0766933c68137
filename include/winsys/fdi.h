/* File Decompression Interface: reads cabinet files through callbacks that do
 * every allocation and every file access for it, and reports each file to a
 * notification callback. Names, layouts and values as in the Windows cabinet
 * SDK. */
#ifndef INCLUDED_FDI
#define INCLUDED_FDI 1

#include "fdi_fci_types.h"

WINSYS_BEGIN_DECLS

typedef enum {
    FDIERROR_NONE,
    FDIERROR_CABINET_NOT_FOUND,
    FDIERROR_NOT_A_CABINET,
    FDIERROR_UNKNOWN_CABINET_VERSION,
    FDIERROR_CORRUPT_CABINET,
    FDIERROR_ALLOC_FAIL,
    FDIERROR_BAD_COMPR_TYPE,
    FDIERROR_MDI_FAIL,
    FDIERROR_TARGET_FILE,
    FDIERROR_RESERVE_MISMATCH,
    FDIERROR_WRONG_CABINET,
    FDIERROR_USER_ABORT
} FDIERROR;

typedef void* HFDI;

typedef struct {
    long cbCabinet;
    USHORT cFolders;
    USHORT cFiles;
    USHORT setID;
    USHORT iCabinet;
    BOOL fReserve;
    BOOL hasprev;
    BOOL hasnext;
} FDICABINETINFO;
typedef FDICABINETINFO* PFDICABINETINFO;

typedef enum { fdidtNEW_CABINET, fdidtNEW_FOLDER, fdidtDECRYPT } FDIDECRYPTTYPE;

typedef struct {
    FDIDECRYPTTYPE fdidt;
    void* pvUser;
    union {
        struct {
            void* pHeaderReserve;
            USHORT cbHeaderReserve;
            USHORT setID;
            int iCabinet;
        } cabinet;
        struct {
            void* pFolderReserve;
            USHORT cbFolderReserve;
            USHORT iFolder;
        } folder;
        struct {
            void* pDataReserve;
            USHORT cbDataReserve;
            void* pbData;
            USHORT cbData;
            BOOL fSplit;
            USHORT cbPartial;
        } decrypt;
    };
} FDIDECRYPT;
typedef FDIDECRYPT* PFDIDECRYPT;

typedef void*(DIAMONDAPI* PFNALLOC)(ULONG cb);
#define FNALLOC(fn) void* DIAMONDAPI fn(ULONG cb)
typedef void(DIAMONDAPI* PFNFREE)(void* pv);
#define FNFREE(fn) void DIAMONDAPI fn(void* pv)

typedef INT_PTR(DIAMONDAPI* PFNOPEN)(char* pszFile, int oflag, int pmode);
typedef UINT(DIAMONDAPI* PFNREAD)(INT_PTR hf, void* pv, UINT cb);
typedef UINT(DIAMONDAPI* PFNWRITE)(INT_PTR hf, void* pv, UINT cb);
typedef int(DIAMONDAPI* PFNCLOSE)(INT_PTR hf);
typedef long(DIAMONDAPI* PFNSEEK)(INT_PTR hf, long dist, int seektype);
#define FNOPEN(fn) INT_PTR DIAMONDAPI fn(char* pszFile, int oflag, int pmode)
#define FNREAD(fn) UINT DIAMONDAPI fn(INT_PTR hf, void* pv, UINT cb)
#define FNWRITE(fn) UINT DIAMONDAPI fn(INT_PTR hf, void* pv, UINT cb)
#define FNCLOSE(fn) int DIAMONDAPI fn(INT_PTR hf)
#define FNSEEK(fn) long DIAMONDAPI fn(INT_PTR hf, long dist, int seektype)

typedef int(DIAMONDAPI* PFNFDIDECRYPT)(PFDIDECRYPT pfdid);
#define FNFDIDECRYPT(fn) int DIAMONDAPI fn(PFDIDECRYPT pfdid)

typedef struct {
    long cb;
    char* psz1;
    char* psz2;
    char* psz3;
    void* pv;
    INT_PTR hf;
    USHORT date;
    USHORT time;
    USHORT attribs;
    USHORT setID;
    USHORT iCabinet;
    USHORT iFolder;
    FDIERROR fdie;
} FDINOTIFICATION, *PFDINOTIFICATION;

typedef enum {
    fdintCABINET_INFO,
    fdintPARTIAL_FILE,
    fdintCOPY_FILE,
    fdintCLOSE_FILE_INFO,
    fdintNEXT_CABINET,
    fdintENUMERATE
} FDINOTIFICATIONTYPE;

typedef INT_PTR(DIAMONDAPI* PFNFDINOTIFY)(FDINOTIFICATIONTYPE fdint, PFDINOTIFICATION pfdin);
#define FNFDINOTIFY(fn) INT_PTR DIAMONDAPI fn(FDINOTIFICATIONTYPE fdint, PFDINOTIFICATION pfdin)

#pragma pack(push, 1)
typedef struct {
    char ach[2];
    long cbFile;
} FDISPILLFILE;
typedef FDISPILLFILE* PFDISPILLFILE;
#pragma pack(pop)

#define cpuUNKNOWN (-1)
#define cpu80286 (0)
#define cpu80386 (1)

WINSYS_EXPORT HFDI DIAMONDAPI FDICreate(PFNALLOC pfnalloc, PFNFREE pfnfree, PFNOPEN pfnopen,
                                        PFNREAD pfnread, PFNWRITE pfnwrite, PFNCLOSE pfnclose,
                                        PFNSEEK pfnseek, int cpuType, PERF perf);
WINSYS_EXPORT BOOL DIAMONDAPI FDIIsCabinet(HFDI hfdi, INT_PTR hf, PFDICABINETINFO pfdici);
WINSYS_EXPORT BOOL DIAMONDAPI FDICopy(HFDI hfdi, char* pszCabinet, char* pszCabPath, int flags,
                                      PFNFDINOTIFY pfnfdin, PFNFDIDECRYPT pfnfdid, void* pvUser);
WINSYS_EXPORT BOOL DIAMONDAPI FDIDestroy(HFDI hfdi);

WINSYS_END_DECLS

#endif
