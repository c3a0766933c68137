// Load and unload: keep the module instance, make the two locks and fill the
// platform call table; at unload close the locks. An open handle or patch
// context is left as it is.
#include "api/dll_main.h"

#include "api/library_state.h"
#include "platform/platform_calls.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            libraryState.moduleInstance = instance;
            libraryState.callLock = CreateMutexW(nullptr, FALSE, nullptr);
            libraryState.handleLock = CreateMutexW(nullptr, FALSE, nullptr);
            FillPlatformCalls();
            break;
        case DLL_PROCESS_DETACH:
            CloseHandle(libraryState.handleLock);
            CloseHandle(libraryState.callLock);
            libraryState.handleLock = nullptr;
            libraryState.callLock = nullptr;
            break;
        default:
            break;
    }
    return TRUE;
}
