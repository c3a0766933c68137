// The machine-wide named mutex around the choice of the next undo entry. A
// previous owner that died holding it hands it over (WAIT_ABANDONED): the
// registry writes of a record are each complete, so its state is usable.
#include "backup/undo_entry_lock.h"

#include "platform/fixed_names.h"
#include "platform/object_namespaces.h"
#include "platform/platform_calls.h"

namespace {

// A record copies the library and writes a few values; a minute means the
// holder is stuck, and no record is better than a shared one.
constexpr DWORD kWaitMilliseconds = 60000;

}  // namespace

LPCWSTR UndoEntryMutexName(DWORD version) {
    return HasObjectNamespaces(version) ? TEXT("Global\\") QUILLET_UNDO_ENTRY_LOCK
                                        : QUILLET_UNDO_ENTRY_LOCK;
}

UndoEntryLock::UndoEntryLock() {
    mutex_ = platformCalls.createMutex(nullptr, FALSE, UndoEntryMutexName(GetVersion()));
    if (mutex_ == nullptr) {
        return;
    }
    const DWORD wait = WaitForSingleObject(mutex_, kWaitMilliseconds);
    held_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
}

UndoEntryLock::~UndoEntryLock() {
    if (held_) {
        ReleaseMutex(mutex_);
    }
    if (mutex_ != nullptr) {
        CloseHandle(mutex_);
    }
}
