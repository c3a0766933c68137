// New file names beside an existing path, derived from the path and the
// process id. Asking whether a name exists and creating it later would let
// two processes whose ids share their first three digits, or two threads of
// one process, choose the same name; creating it exclusively cannot.
#include "platform/unique_name.h"

#include "platform/platform_calls.h"

#include <algorithm>
#include <array>

namespace {

constexpr size_t kWorkingChars = 256;
constexpr size_t kCodeChars = 4;
constexpr size_t kExtensionShift = kCodeChars + 1;  // the code and a dot
constexpr int kTries = 25;

enum class Claim { kTaken, kExists, kFailed };

// Creates `name` as an empty file unless something already has that name.
Claim TryToClaim(LPCWSTR name) {
    const HANDLE file = platformCalls.createFile(name, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        // A file or a folder of that name (the latter answers "access
        // denied"); anything else, such as a missing folder or a full disk,
        // would fail for every letter alike.
        return platformCalls.fileAttributes(name) != INVALID_FILE_ATTRIBUTES ? Claim::kExists
                                                                              : Claim::kFailed;
    }
    if (!CloseHandle(file)) {
        platformCalls.deleteFile(name);
        return Claim::kFailed;
    }
    return Claim::kTaken;
}

}  // namespace

bool ClaimFileName(LPCWSTR name) {
    return name != nullptr && TryToClaim(name) == Claim::kTaken;
}

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
        const Claim claim = TryToClaim(working.data());
        if (claim == Claim::kFailed) {
            return nullptr;
        }
        if (claim == Claim::kTaken) {
            std::copy_n(working.begin(), end + 1, path);
            return path;
        }
    }
    return nullptr;
}
