// Loading the cabinet library's entry points by name and counting the module
// references that live compression and decompression contexts hold.
#include "cabinet/cabinet_binding.h"

LPCSTR cabinetModuleName = "CABINET";

namespace {

using FciCreateCall = decltype(&FCICreate);
using FciAddFileCall = decltype(&FCIAddFile);
using FciFlushCabinetCall = decltype(&FCIFlushCabinet);
using FciFlushFolderCall = decltype(&FCIFlushFolder);
using FciDestroyCall = decltype(&FCIDestroy);
using FdiCreateCall = decltype(&FDICreate);
using FdiCopyCall = decltype(&FDICopy);
using FdiIsCabinetCall = decltype(&FDIIsCabinet);
using FdiDestroyCall = decltype(&FDIDestroy);

struct CompressionBinding {
    HMODULE module = nullptr;
    FciCreateCall create = nullptr;
    FciAddFileCall addFile = nullptr;
    FciFlushCabinetCall flushCabinet = nullptr;
    FciFlushFolderCall flushFolder = nullptr;  // looked up, never called
    FciDestroyCall destroy = nullptr;
    unsigned liveContexts = 0;
};

struct DecompressionBinding {
    HMODULE module = nullptr;
    FdiCreateCall create = nullptr;
    FdiCopyCall copy = nullptr;
    FdiIsCabinetCall isCabinet = nullptr;  // looked up, never called
    FdiDestroyCall destroy = nullptr;
    unsigned liveContexts = 0;
};

CompressionBinding compression;
DecompressionBinding decompression;

template <typename Call>
Call Find(HMODULE module, LPCSTR name) {
    return reinterpret_cast<Call>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// Gives back one module reference. Once no context holds the module the
// entry points are forgotten, so that nothing can call into a module that
// may be gone.
template <typename Binding>
void ReleaseModule(Binding& binding) {
    FreeLibrary(binding.module);
    if (binding.liveContexts == 0) {
        binding = Binding{};
    }
}

}  // namespace

HFCI CreateCompressor(PERF error, PFNFCIFILEPLACED filePlaced, PFNFCIALLOC alloc, PFNFCIFREE free,
                      PFNFCIOPEN open, PFNFCIREAD read, PFNFCIWRITE write, PFNFCICLOSE close,
                      PFNFCISEEK seek, PFNFCIDELETE remove, PFNFCIGETTEMPFILE tempFile,
                      PCCAB parameters, void* client) {
    const HMODULE module = LoadLibraryA(cabinetModuleName);
    if (module == nullptr) {
        return nullptr;
    }
    compression.module = module;
    compression.create = Find<FciCreateCall>(module, "FCICreate");
    compression.addFile = Find<FciAddFileCall>(module, "FCIAddFile");
    compression.flushCabinet = Find<FciFlushCabinetCall>(module, "FCIFlushCabinet");
    compression.flushFolder = Find<FciFlushFolderCall>(module, "FCIFlushFolder");
    compression.destroy = Find<FciDestroyCall>(module, "FCIDestroy");
    if (!compression.create || !compression.addFile || !compression.flushCabinet ||
        !compression.destroy) {
        ReleaseModule(compression);
        return nullptr;
    }
    const HFCI context = compression.create(error, filePlaced, alloc, free, open, read, write,
                                            close, seek, remove, tempFile, parameters, client);
    if (context == nullptr) {
        ReleaseModule(compression);
        return nullptr;
    }
    ++compression.liveContexts;
    return context;
}

BOOL CompressorAddFile(HFCI context, char* sourceFile, char* nameInCabinet, BOOL execute,
                       PFNFCIGETNEXTCABINET nextCabinet, PFNFCISTATUS status,
                       PFNFCIGETOPENINFO openInfo, TCOMP compressionType) {
    if (!compression.addFile) {
        return FALSE;
    }
    return compression.addFile(context, sourceFile, nameInCabinet, execute, nextCabinet, status,
                               openInfo, compressionType);
}

BOOL CompressorFlushCabinet(HFCI context, BOOL getNextCabinet, PFNFCIGETNEXTCABINET nextCabinet,
                            PFNFCISTATUS status) {
    if (!compression.flushCabinet) {
        return FALSE;
    }
    return compression.flushCabinet(context, getNextCabinet, nextCabinet, status);
}

BOOL DestroyCompressor(HFCI context) {
    if (!compression.destroy) {
        return FALSE;
    }
    const BOOL destroyed = compression.destroy(context);
    if (destroyed == TRUE) {
        if (compression.liveContexts > 0) {
            --compression.liveContexts;
        }
        ReleaseModule(compression);
    }
    return destroyed;
}

HFDI CreateDecompressor(PFNALLOC alloc, PFNFREE free, PFNOPEN open, PFNREAD read, PFNWRITE write,
                        PFNCLOSE close, PFNSEEK seek, int cpuType, PERF error) {
    const HMODULE module = LoadLibraryA(cabinetModuleName);
    if (module == nullptr) {
        return nullptr;
    }
    decompression.module = module;
    decompression.create = Find<FdiCreateCall>(module, "FDICreate");
    decompression.copy = Find<FdiCopyCall>(module, "FDICopy");
    decompression.isCabinet = Find<FdiIsCabinetCall>(module, "FDIIsCabinet");
    decompression.destroy = Find<FdiDestroyCall>(module, "FDIDestroy");
    if (!decompression.create || !decompression.copy || !decompression.isCabinet ||
        !decompression.destroy) {
        ReleaseModule(decompression);
        return nullptr;
    }
    const HFDI context =
        decompression.create(alloc, free, open, read, write, close, seek, cpuType, error);
    if (context == nullptr) {
        ReleaseModule(decompression);
        return nullptr;
    }
    ++decompression.liveContexts;
    return context;
}

BOOL DecompressorCopy(HFDI context, char* cabinetName, char* cabinetPath, int flags,
                      PFNFDINOTIFY notify, PFNFDIDECRYPT decrypt, void* client) {
    if (!decompression.copy) {
        return FALSE;
    }
    return decompression.copy(context, cabinetName, cabinetPath, flags, notify, decrypt, client);
}

BOOL DestroyDecompressor(HFDI context) {
    if (!decompression.destroy) {
        return FALSE;
    }
    const BOOL destroyed = decompression.destroy(context);
    if (destroyed == TRUE) {
        if (decompression.liveContexts > 0) {
            --decompression.liveContexts;
        }
        ReleaseModule(decompression);
    }
    return destroyed;
}
