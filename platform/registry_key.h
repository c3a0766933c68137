// An owned registry key, closed when it goes out of scope, so that every path
// out of a step closes what it opened.
#pragma once

#include <windows.h>

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
