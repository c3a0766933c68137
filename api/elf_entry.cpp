// On ELF systems the library's constructor and destructor stand in for the
// loader's calls of the entry point, with this module's own handle.
#include "api/dll_main.h"

#include "api/library_state.h"

namespace {

__attribute__((constructor)) void AttachToProcess() {
    HMODULE self = nullptr;
    GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&AttachToProcess), &self);
    DllMain(self, DLL_PROCESS_ATTACH, nullptr);
}

__attribute__((destructor)) void DetachFromProcess() {
    DllMain(libraryState.moduleInstance, DLL_PROCESS_DETACH, nullptr);
}

}  // namespace
