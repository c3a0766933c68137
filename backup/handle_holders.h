// Scope guards for the registry keys and Installer handles of the backup
// code, so that every path out of a step closes what it opened.
#pragma once

#include "platform/installer.h"

class KeyHolder {
  public:
    KeyHolder() = default;
    ~KeyHolder() { Close(); }
    KeyHolder(const KeyHolder&) = delete;
    KeyHolder& operator=(const KeyHolder&) = delete;
    HKEY* out() { return &key_; }
    HKEY get() const { return key_; }
    void Close() {
        if (key_ != nullptr) {
            RegCloseKey(key_);
            key_ = nullptr;
        }
    }

  private:
    HKEY key_ = nullptr;
};

class MsiHolder {
  public:
    MsiHolder() = default;
    ~MsiHolder() { Close(); }
    MsiHolder(const MsiHolder&) = delete;
    MsiHolder& operator=(const MsiHolder&) = delete;
    MSIHANDLE* out() { return &handle_; }
    MSIHANDLE get() const { return handle_; }
    void Close() {
        if (handle_ != 0) {
            MsiCloseHandle(handle_);
            handle_ = 0;
        }
    }

  private:
    MSIHANDLE handle_ = 0;
};
