// Handle values are multiples of 4 from 0x100 upwards and are not reused, so
// a stale handle fails instead of reaching another object.
#include "kernel/handles.h"

#include <mutex>
#include <unordered_map>

namespace winsys::kernel {

namespace {

struct Table {
    std::mutex lock;
    std::unordered_map<uintptr_t, std::shared_ptr<KernelObject>> objects;
    uintptr_t next = 0x100;
};

Table& table() {
    static Table* instance = new Table;  // outlives static destructors that close handles
    return *instance;
}

}  // namespace

HANDLE insertHandle(std::shared_ptr<KernelObject> object) {
    Table& t = table();
    std::lock_guard guard(t.lock);
    uintptr_t value = t.next;
    t.next += 4;
    t.objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> lookupHandle(HANDLE handle) {
    Table& t = table();
    std::lock_guard guard(t.lock);
    auto found = t.objects.find(reinterpret_cast<uintptr_t>(handle));
    return found == t.objects.end() ? nullptr : found->second;
}

std::shared_ptr<KernelObject> removeHandle(HANDLE handle) {
    std::shared_ptr<KernelObject> object;
    Table& t = table();
    std::lock_guard guard(t.lock);
    auto found = t.objects.find(reinterpret_cast<uintptr_t>(handle));
    if (found == t.objects.end())
        return nullptr;
    object = std::move(found->second);
    t.objects.erase(found);
    return object;
}

}  // namespace winsys::kernel

extern "C" {

WINSYS_EXPORT BOOL WINAPI CloseHandle(HANDLE handle) {
    using namespace winsys::kernel;
    auto object = lookupHandle(handle);
    if (!object || !object->closableByCloseHandle() || !removeHandle(handle)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}
}
