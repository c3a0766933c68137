// A lock shared by every process on the machine around reading and advancing
// the undo key's CurKey, so that two commits at the same moment are never
// handed the same undo entry.
#pragma once

#include <windows.h>

// The lock's name on a system whose GetVersion answered `version`.
LPCWSTR UndoEntryMutexName(DWORD version);

class UndoEntryLock {
  public:
    UndoEntryLock();
    ~UndoEntryLock();
    UndoEntryLock(const UndoEntryLock&) = delete;
    UndoEntryLock& operator=(const UndoEntryLock&) = delete;

    // False when the lock could not be had in reasonable time; the record
    // must then not be made.
    bool held() const { return held_; }

  private:
    HANDLE mutex_ = nullptr;
    bool held_ = false;
};
