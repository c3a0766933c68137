// File fingerprints: 64-bit FNV-1a over every byte. The hash guards against
// accidents (another program writing the file), not against an adversary,
// and needs nothing the oldest supported systems lack.
#include "platform/file_fingerprint.h"

#include "platform/platform_calls.h"

namespace {

constexpr ULONGLONG kFnvOffset = 14695981039346656037ULL;
constexpr ULONGLONG kFnvPrime = 1099511628211ULL;
constexpr DWORD kChunkBytes = 16 * 1024;

class FileHolder {
  public:
    explicit FileHolder(HANDLE file) : file_(file) {}
    ~FileHolder() {
        if (file_ != INVALID_HANDLE_VALUE) {
            CloseHandle(file_);
        }
    }
    FileHolder(const FileHolder&) = delete;
    FileHolder& operator=(const FileHolder&) = delete;
    HANDLE get() const { return file_; }

  private:
    HANDLE file_;
};

}  // namespace

bool TakeFileFingerprint(LPCWSTR path, FileFingerprint& fingerprint) {
    // Others may hold the package open for reading (an installer) and still
    // let us read; a writer would make the answer meaningless, so writers
    // are not let in while we read.
    FileHolder file(platformCalls.createFile(path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        return false;
    }
    BYTE chunk[kChunkBytes];
    FileFingerprint taken;
    taken.hash = kFnvOffset;
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file.get(), chunk, kChunkBytes, &read, nullptr)) {
            return false;
        }
        if (read == 0) {
            break;
        }
        for (DWORD i = 0; i < read; ++i) {
            taken.hash = (taken.hash ^ chunk[i]) * kFnvPrime;
        }
        taken.size += read;
    }
    fingerprint = taken;
    return true;
}
