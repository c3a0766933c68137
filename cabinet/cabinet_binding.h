// The system's cabinet library, bound at run time: one set of entry points
// for compression and one for decompression, each loaded by its create
// operation and released by its destroy operation. A successful create holds
// one reference to the module until its destroy succeeds; a failed create
// holds none. Entry points that are not bound make a call return FALSE.
#pragma once

#include <windows.h>

#include <fci.h>
#include <fdi.h>

// The module both bindings load. Tests point it at stand-in modules.
extern LPCSTR cabinetModuleName;

HFCI CreateCompressor(PERF error, PFNFCIFILEPLACED filePlaced, PFNFCIALLOC alloc, PFNFCIFREE free,
                      PFNFCIOPEN open, PFNFCIREAD read, PFNFCIWRITE write, PFNFCICLOSE close,
                      PFNFCISEEK seek, PFNFCIDELETE remove, PFNFCIGETTEMPFILE tempFile,
                      PCCAB parameters, void* client);
BOOL CompressorAddFile(HFCI context, char* sourceFile, char* nameInCabinet, BOOL execute,
                       PFNFCIGETNEXTCABINET nextCabinet, PFNFCISTATUS status,
                       PFNFCIGETOPENINFO openInfo, TCOMP compression);
BOOL CompressorFlushCabinet(HFCI context, BOOL getNextCabinet, PFNFCIGETNEXTCABINET nextCabinet,
                            PFNFCISTATUS status);
BOOL DestroyCompressor(HFCI context);

HFDI CreateDecompressor(PFNALLOC alloc, PFNFREE free, PFNOPEN open, PFNREAD read, PFNWRITE write,
                        PFNCLOSE close, PFNSEEK seek, int cpuType, PERF error);
BOOL DecompressorCopy(HFDI context, char* cabinetName, char* cabinetPath, int flags,
                      PFNFDINOTIFY notify, PFNFDIDECRYPT decrypt, void* client);
BOOL DestroyDecompressor(HFDI context);
