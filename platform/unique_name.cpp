// New file names beside an existing path, derived from the path and the
// process id.
#include "platform/unique_name.h"

#include "platform/platform_calls.h"

#include <algorithm>
#include <array>

namespace {

constexpr size_t kWorkingChars = 256;
constexpr size_t kCodeChars = 4;
constexpr size_t kExtensionShift = kCodeChars + 1;  // the code and a dot
constexpr int kTries = 25;

}  // namespace

LPWSTR MakeUniqueName(LPWSTR path) {
    return MakeUniqueName(path, TEXT(""));
}

LPWSTR MakeUniqueName(LPWSTR path, LPCWSTR suffix) {
    if (path == nullptr || suffix == nullptr) {
        return nullptr;
    }
    size_t suffixLength = 0;
    while (suffix[suffixLength] != 0) {
        ++suffixLength;
    }
    size_t length = 0;
    while (length < kWorkingChars && path[length] != 0) {
        ++length;
    }
    if (length < 3 || length + kExtensionShift + suffixLength + 1 > kWorkingChars) {
        return nullptr;
    }
    std::array<WCHAR, kWorkingChars> working{};
    std::copy_n(path, length, working.begin());

    size_t stop = length - 1;
    while (stop > 0 && working[stop] != '.' && working[stop] != '\\') {
        --stop;
    }
    if (stop == 0) {
        return nullptr;
    }
    size_t insertAt = length;
    size_t end = length + kCodeChars;
    if (working[stop] == '.') {
        // name.ext becomes name.CODE.ext: the dot and extension move right
        std::copy_backward(working.begin() + stop, working.begin() + length,
                           working.begin() + length + kExtensionShift);
        insertAt = stop + 1;
        end = length + kExtensionShift;
    }
    std::copy_n(suffix, suffixLength, working.begin() + end);
    end += suffixLength;
    working[end] = 0;

    const DWORD processId = GetCurrentProcessId();
    for (int letter = 0; letter < kTries; ++letter) {
        WCHAR code[32] = {};
        wsprintfW(code, TEXT("%c%3i"), static_cast<int>('a' + letter), static_cast<int>(processId));
        for (size_t i = 0; i < kCodeChars; ++i) {
            working[insertAt + i] = code[i] == ' ' ? WCHAR('_') : code[i];
        }
        if (platformCalls.fileAttributes(working.data()) == INVALID_FILE_ATTRIBUTES) {
            std::copy_n(working.begin(), end + 1, path);
            return path;
        }
    }
    return nullptr;
}
