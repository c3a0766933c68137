// The table of open registry keys.
#include "registry/registry_handles.h"

#include <mutex>
#include <unordered_map>

namespace winsys::registry {

namespace {

struct HandleTable {
    std::mutex mutex;
    std::unordered_map<uintptr_t, OpenKey> keys;
    uintptr_t next = 0x1000;  // multiples of 4, as Windows' handles are
};

HandleTable& table() {
    static HandleTable instance;
    return instance;
}

constexpr REGSAM kFullAccess = KEY_ALL_ACCESS;

}  // namespace

bool isPredefined(HKEY key) {
    return key == HKEY_LOCAL_MACHINE || key == HKEY_CURRENT_USER || key == HKEY_USERS;
}

HKEY openHandle(KeyId id, REGSAM access) {
    HandleTable& t = table();
    std::lock_guard lock(t.mutex);
    uintptr_t value = t.next;
    t.next += 4;
    t.keys.emplace(value, OpenKey{id, access});
    return reinterpret_cast<HKEY>(value);
}

bool lookUpHandle(HKEY key, OpenKey& out) {
    if (key == HKEY_LOCAL_MACHINE) {
        out = {kLocalMachine, kFullAccess};
        return true;
    }
    if (key == HKEY_CURRENT_USER) {
        out = {kCurrentUser, kFullAccess};
        return true;
    }
    if (key == HKEY_USERS) {
        out = {kUsers, kFullAccess};
        return true;
    }
    HandleTable& t = table();
    std::lock_guard lock(t.mutex);
    auto found = t.keys.find(reinterpret_cast<uintptr_t>(key));
    if (found == t.keys.end()) return false;
    out = found->second;
    return true;
}

bool closeHandle(HKEY key) {
    if (isPredefined(key)) return true;
    HandleTable& t = table();
    std::lock_guard lock(t.mutex);
    return t.keys.erase(reinterpret_cast<uintptr_t>(key)) == 1;
}

}  // namespace winsys::registry
