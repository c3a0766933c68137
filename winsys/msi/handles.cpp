// The handle table and the two handle-closing calls.
#include "handles.h"

#include <thread>
#include <unordered_map>

namespace winsys::msi {
namespace {

struct Entry {
    HandleObject object;
    std::thread::id owner;
};

std::unordered_map<MSIHANDLE, Entry>& table() {
    static auto* t = new std::unordered_map<MSIHANDLE, Entry>();
    return *t;
}

MSIHANDLE nextHandle = 1;

}  // namespace

std::recursive_mutex& apiLock() {
    static auto* m = new std::recursive_mutex();
    return *m;
}

MSIHANDLE allocHandle(HandleObject object) {
    auto& t = table();
    while (nextHandle == 0 || t.count(nextHandle)) ++nextHandle;
    MSIHANDLE h = nextHandle++;
    t.emplace(h, Entry{std::move(object), std::this_thread::get_id()});
    return h;
}

template <class T>
std::shared_ptr<T> handleAs(MSIHANDLE h) {
    auto& t = table();
    auto it = t.find(h);
    if (it == t.end()) return nullptr;
    if (auto* p = std::get_if<std::shared_ptr<T>>(&it->second.object)) return *p;
    return nullptr;
}

template std::shared_ptr<Database> handleAs<Database>(MSIHANDLE);
template std::shared_ptr<ViewObject> handleAs<ViewObject>(MSIHANDLE);
template std::shared_ptr<Record> handleAs<Record>(MSIHANDLE);
template std::shared_ptr<SummaryObject> handleAs<SummaryObject>(MSIHANDLE);

bool closeHandle(MSIHANDLE h) {
    auto& t = table();
    auto it = t.find(h);
    if (it == t.end()) return false;
    HandleObject keep = std::move(it->second.object);
    t.erase(it);
    return true;  // `keep` releases the object after the entry is gone
}

unsigned closeThreadHandles() {
    auto& t = table();
    std::vector<HandleObject> released;
    auto self = std::this_thread::get_id();
    for (auto it = t.begin(); it != t.end();) {
        if (it->second.owner == self) {
            released.push_back(std::move(it->second.object));
            it = t.erase(it);
        } else {
            ++it;
        }
    }
    return unsigned(released.size());
}

}  // namespace winsys::msi

extern "C" {

UINT WINAPI MsiCloseHandle(MSIHANDLE h) {
    std::lock_guard lock(winsys::msi::apiLock());
    if (h == 0) return ERROR_SUCCESS;
    return winsys::msi::closeHandle(h) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

UINT WINAPI MsiCloseAllHandles(void) {
    std::lock_guard lock(winsys::msi::apiLock());
    return winsys::msi::closeThreadHandles();
}
}
