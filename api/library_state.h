// What the library keeps per process: the handle number, the patch context
// of the open handle, the two locks and the module instance.
#pragma once

#include "api/patch_context.h"

#include <memory>

struct LibraryState {
    // The number last handed out; 0 when no handle is open.
    int currentHandle = 0;
    std::unique_ptr<PatchContext> currentContext;
    // Guards currentHandle, and currentContext while a close destroys it.
    HANDLE handleLock = nullptr;
    // Held from a passed handle check to the end of that exported call.
    HANDLE callLock = nullptr;
    HINSTANCE moduleInstance = nullptr;
    // Exported calls now working on the patch context, counted on the thread
    // that holds the call lock (calls from the progress callback nest).
    int contextUsers = 0;
};

extern LibraryState libraryState;
