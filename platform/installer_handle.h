// An owned Windows Installer handle, closed when it goes out of scope, so
// that every handle a step obtains is closed on every path; and the two
// things every step does with one: run a statement, read a text field. The
// command line uses them too, so they stay header-only.
#pragma once

#include "platform/installer.h"
#include "platform/wide_text.h"

#include <string>
#include <utility>
#include <vector>

class MsiHandle {
  public:
    MsiHandle() = default;
    explicit MsiHandle(MSIHANDLE handle) : handle_(handle) {}
    MsiHandle(const MsiHandle&) = delete;
    MsiHandle& operator=(const MsiHandle&) = delete;
    MsiHandle(MsiHandle&& other) noexcept : handle_(std::exchange(other.handle_, 0)) {}
    MsiHandle& operator=(MsiHandle&& other) noexcept {
        if (this != &other) {
            Close();
            handle_ = std::exchange(other.handle_, 0);
        }
        return *this;
    }
    ~MsiHandle() { Close(); }

    MSIHANDLE get() const { return handle_; }
    // For the out parameter of an Installer call; closes what was held.
    MSIHANDLE* Receive() {
        Close();
        return &handle_;
    }
    void Close() {
        if (handle_ != 0) {
            MsiCloseHandle(std::exchange(handle_, 0));
        }
    }

  private:
    MSIHANDLE handle_ = 0;
};

// Opens and executes a statement, with its `?` values from `parameters` (or
// none). 0 with the view, or the Installer's error of the step that failed.
inline UINT OpenExecutedView(MSIHANDLE database, LPCWSTR statement, MSIHANDLE parameters,
                             MsiHandle& view) {
    UINT status = MsiDatabaseOpenViewW(database, statement, view.Receive());
    if (status != ERROR_SUCCESS) {
        return status;
    }
    return MsiViewExecute(view.get(), parameters);
}

// Reads a string field into a buffer of `capacity` characters with its
// terminator, as the Installer call would fill one. 0 with the text, or the
// call's error (234 when the value does not fit); the buffer is left empty on
// an error, so an over-long value is refused, never cut.
inline UINT ReadRecordText(MSIHANDLE record, UINT field, WCHAR* buffer, DWORD capacity) {
    DWORD count = capacity;
    const UINT status = MsiRecordGetStringW(record, field, buffer, &count);
    if (status != ERROR_SUCCESS) {
        buffer[0] = 0;
    }
    return status;
}

inline UINT ReadRecordText(MSIHANDLE record, UINT field, DWORD capacity, WideString& text) {
    std::vector<WCHAR> buffer(capacity, 0);
    const UINT status = ReadRecordText(record, field, buffer.data(), capacity);
    text.assign(buffer.data());
    return status;
}

inline UINT ReadRecordText(MSIHANDLE record, UINT field, WidePath& text) {
    return ReadRecordText(record, field, text.data(), static_cast<DWORD>(text.size()));
}
