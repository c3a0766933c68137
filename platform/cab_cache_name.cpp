// Names for new cab cache packages beside an installed package.
#include "platform/cab_cache_name.h"

#include "platform/platform_calls.h"
#include "platform/unique_name.h"

#include <algorithm>
#include <array>
#include <string>

namespace {

// MakeUniqueName's working limit, with room for the code and a dot.
constexpr size_t kBufferChars = 256 + 6;

}  // namespace

bool MakeCabCacheName(LPCWSTR packagePath, CabCacheNameForm form, LPWSTR name) {
    name[0] = 0;
    if (packagePath == nullptr) {
        return false;
    }
    size_t length = 0;
    size_t folderEnd = 0;  // just after the last '\'
    size_t dot = 0;        // just after the last '.' of the file name
    for (; packagePath[length] != 0; ++length) {
        if (length >= MAX_PATH) {
            return false;
        }
        if (packagePath[length] == '\\') {
            folderEnd = length + 1;
            dot = 0;
        } else if (packagePath[length] == '.') {
            dot = length + 1;
        }
    }
    if (folderEnd == 0) {
        return false;
    }
    std::array<WCHAR, kBufferChars> candidate{};
    LPWSTR unique = nullptr;
    if (form == CabCacheNameForm::kBesidePackage) {
        if (dot == 0) {
            return false;
        }
        // "product." + "msi": the code goes in before the new extension.
        std::copy_n(packagePath, dot, candidate.begin());
        const WCHAR extension[] = {'m', 's', 'i', 0};
        std::copy_n(extension, 4, candidate.begin() + dot);
        unique = MakeUniqueName(candidate.data());
    } else {
        std::copy_n(packagePath, folderEnd, candidate.begin());
        const WCHAR suffix[] = {'_', '.', 'm', 's', 'i', 0};
        unique = MakeUniqueName(candidate.data(), suffix);
    }
    if (unique == nullptr) {
        return false;
    }
    const size_t resultLength = std::char_traits<WCHAR>::length(candidate.data());
    if (resultLength > MAX_PATH) {
        platformCalls.deleteFile(candidate.data());
        return false;
    }
    std::copy_n(candidate.begin(), resultLength + 1, name);
    return true;
}
