// The process's handle table: kernel objects (files, mutexes, events,
// threads, searches) behind HANDLE values, which are small numbers as on
// Windows.
#pragma once

#include <windows.h>

#include <memory>

namespace winsys::kernel {

struct KernelObject {
    virtual ~KernelObject() = default;
    // Searches are closed by FindClose, not CloseHandle.
    virtual bool closableByCloseHandle() const { return true; }
    // WaitForSingleObject on the object; files are always signalled.
    virtual DWORD wait(DWORD /*milliseconds*/) { return WAIT_OBJECT_0; }
};

HANDLE insertHandle(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> lookupHandle(HANDLE handle);
// Removes and returns the object, or null when the handle is not in use.
std::shared_ptr<KernelObject> removeHandle(HANDLE handle);

template <class T>
std::shared_ptr<T> lookupHandleAs(HANDLE handle) {
    return std::dynamic_pointer_cast<T>(lookupHandle(handle));
}

}  // namespace winsys::kernel
