// Writing and reading the lines of a temporary-file ledger.
#include "platform/temporary_ledger.h"

#include "platform/ascii_text.h"
#include "platform/platform_calls.h"

namespace temporary_ledger {
namespace {

constexpr WCHAR kHeader[] = TEXT("qltmsi temporary files\r\n");
constexpr size_t kHeaderChars = sizeof kHeader / sizeof(WCHAR) - 1;
constexpr WCHAR kLineEnd[] = TEXT("\r\n");

bool StartsWith(const Text& text, const Text& start) {
    return text.size() >= start.size() && EqualsIgnoringAsciiCase(text.substr(0, start.size()), start);
}

bool IsHexDigit(WCHAR c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace

Text Header() {
    return kHeader;
}

Text Line(WCHAR mark, const Text& path) {
    return Text(1, mark) + path + kLineEnd;
}

Reading ReadListed(const Text& text, std::vector<Text>& listed) {
    if (text.size() < kHeaderChars) {
        return Text(kHeader).compare(0, text.size(), text) == 0 ? Reading::Unfinished
                                                                : Reading::NotALedger;
    }
    if (text.compare(0, kHeaderChars, kHeader) != 0) {
        return Reading::NotALedger;
    }
    for (size_t at = kHeaderChars; at < text.size();) {
        const size_t end = text.find(kLineEnd, at);
        if (end == Text::npos) {
            break;
        }
        const Text line = text.substr(at, end - at);
        at = end + 2;
        if (line.size() < 2) {
            continue;
        }
        const Text path = line.substr(1);
        if (line[0] == '+') {
            listed.push_back(path);
        } else if (line[0] == '-') {
            for (size_t i = 0; i < listed.size(); ++i) {
                if (EqualsIgnoringAsciiCase(listed[i], path)) {
                    listed.erase(listed.begin() + static_cast<std::ptrdiff_t>(i));
                    break;
                }
            }
        }
    }
    return Reading::Listed;
}

bool ReadWhole(HANDLE file, Text& text) {
    const DWORD size = GetFileSize(file, nullptr);
    if (size == INVALID_FILE_SIZE || size > kLargestBytes) {
        return false;
    }
    // A crash may cut a character in half: the odd byte counts for nothing.
    text.assign(size / sizeof(WCHAR), 0);
    DWORD read = 0;
    const DWORD wanted = static_cast<DWORD>(text.size() * sizeof(WCHAR));
    return wanted == 0 ||
           (ReadFile(file, text.data(), wanted, &read, nullptr) != FALSE && read == wanted);
}

bool WriteAll(HANDLE file, const Text& text) {
    const DWORD bytes = static_cast<DWORD>(text.size() * sizeof(WCHAR));
    DWORD written = 0;
    return WriteFile(file, text.data(), bytes, &written, nullptr) != FALSE && written == bytes;
}

bool IsTemporaryName(const Text& name) {
    const Text extension = TEXT(".tmp");
    if (name.size() < 3 + 1 + extension.size() || name.size() > 3 + 4 + extension.size() ||
        !(StartsWith(name, TEXT("qlt")) || StartsWith(name, TEXT("qlc"))) ||
        !EqualsIgnoringAsciiCase(name.substr(name.size() - extension.size()), extension)) {
        return false;
    }
    for (size_t i = 3; i < name.size() - extension.size(); ++i) {
        if (!IsHexDigit(name[i])) {
            return false;
        }
    }
    return true;
}

bool TemporaryFolder(Text& folder) {
    WCHAR buffer[MAX_PATH + 1] = {};
    const DWORD length = platformCalls.tempPath(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH) {
        return false;
    }
    folder = buffer;
    return true;
}

}  // namespace temporary_ledger
