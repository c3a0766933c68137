// Load and unload: keep the module instance, fill the platform call table and
// make the two locks; at unload close the locks. An open handle or patch
// context is left as it is. The table comes first because the locks are made
// through it: the wide CreateMutexW fails on the Windows 95 family.
#include "api/dll_main.h"

#include "api/library_state.h"
#include "platform/platform_calls.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            libraryState.moduleInstance = instance;
            FillPlatformCalls();
            libraryState.callLock = platformCalls.createMutex(nullptr, FALSE, nullptr);
            libraryState.handleLock = platformCalls.createMutex(nullptr, FALSE, nullptr);
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
