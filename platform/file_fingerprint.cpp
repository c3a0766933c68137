// Fingerprints of whole files: size and FNV-1a hash.
#include "platform/file_fingerprint.h"

#include "platform/platform_calls.h"

#include <array>

namespace {

constexpr ULONGLONG kOffsetBasis = 14695981039346656037ull;
constexpr ULONGLONG kPrime = 1099511628211ull;
constexpr DWORD kChunk = 64 * 1024;

}  // namespace

bool FingerprintFile(LPCWSTR path, WidePath& fingerprint) {
    fingerprint[0] = 0;
    const HANDLE file =
        platformCalls.createFile(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    std::array<unsigned char, kChunk> buffer{};
    ULONGLONG hash = kOffsetBasis;
    ULONGLONG size = 0;
    bool read = true;
    for (;;) {
        DWORD count = 0;
        if (!ReadFile(file, buffer.data(), kChunk, &count, nullptr)) {
            read = false;
            break;
        }
        if (count == 0) {
            break;
        }
        for (DWORD i = 0; i < count; ++i) {
            hash = (hash ^ buffer[i]) * kPrime;
        }
        size += count;
    }
    CloseHandle(file);
    if (!read) {
        return false;
    }
    wsprintfW(fingerprint.data(), TEXT("%08x%08x:%08x%08x"), static_cast<DWORD>(size >> 32),
              static_cast<DWORD>(size), static_cast<DWORD>(hash >> 32), static_cast<DWORD>(hash));
    return true;
}
