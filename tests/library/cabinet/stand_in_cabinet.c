/* A stand-in cabinet module for the binding's tests: it passes every call on
 * to the real cabinet module, and is built once without FCIFlushFolder and
 * once without FDIIsCabinet. Written in C so that nothing keeps it mapped
 * after its last reference is released, which the tests observe. */
#include <windows.h>

#include <fci.h>
#include <fdi.h>

static HMODULE realModule;

static FARPROC Real(const char* name) {
    if (!realModule)
        realModule = LoadLibraryA("CABINET");
    return realModule ? GetProcAddress(realModule, name) : NULL;
}

#define FORWARD(name) ((__typeof__(&name))(void*)Real(#name))

HFCI DIAMONDAPI FCICreate(PERF perf, PFNFCIFILEPLACED placed, PFNFCIALLOC alloc, PFNFCIFREE release,
                          PFNFCIOPEN open, PFNFCIREAD read, PFNFCIWRITE write, PFNFCICLOSE close,
                          PFNFCISEEK seek, PFNFCIDELETE remove, PFNFCIGETTEMPFILE temp, PCCAB ccab,
                          void* pv) {
    return FORWARD(FCICreate)(perf, placed, alloc, release, open, read, write, close, seek, remove,
                              temp, ccab, pv);
}

BOOL DIAMONDAPI FCIAddFile(HFCI hfci, char* source, char* name, BOOL execute,
                           PFNFCIGETNEXTCABINET next, PFNFCISTATUS status,
                           PFNFCIGETOPENINFO openInfo, TCOMP compression) {
    return FORWARD(FCIAddFile)(hfci, source, name, execute, next, status, openInfo, compression);
}

BOOL DIAMONDAPI FCIFlushCabinet(HFCI hfci, BOOL getNext, PFNFCIGETNEXTCABINET next,
                                PFNFCISTATUS status) {
    return FORWARD(FCIFlushCabinet)(hfci, getNext, next, status);
}

#ifndef WITHOUT_FLUSH_FOLDER
BOOL DIAMONDAPI FCIFlushFolder(HFCI hfci, PFNFCIGETNEXTCABINET next, PFNFCISTATUS status) {
    return FORWARD(FCIFlushFolder)(hfci, next, status);
}
#endif

BOOL DIAMONDAPI FCIDestroy(HFCI hfci) {
    return FORWARD(FCIDestroy)(hfci);
}

HFDI DIAMONDAPI FDICreate(PFNALLOC alloc, PFNFREE release, PFNOPEN open, PFNREAD read,
                          PFNWRITE write, PFNCLOSE close, PFNSEEK seek, int cpu, PERF perf) {
    return FORWARD(FDICreate)(alloc, release, open, read, write, close, seek, cpu, perf);
}

#ifndef WITHOUT_IS_CABINET
BOOL DIAMONDAPI FDIIsCabinet(HFDI hfdi, INT_PTR hf, PFDICABINETINFO info) {
    return FORWARD(FDIIsCabinet)(hfdi, hf, info);
}
#endif

BOOL DIAMONDAPI FDICopy(HFDI hfdi, char* cabinet, char* path, int flags, PFNFDINOTIFY notify,
                        PFNFDIDECRYPT decrypt, void* user) {
    return FORWARD(FDICopy)(hfdi, cabinet, path, flags, notify, decrypt, user);
}

BOOL DIAMONDAPI FDIDestroy(HFDI hfdi) {
    return FORWARD(FDIDestroy)(hfdi);
}
