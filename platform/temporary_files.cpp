// The ledger of this process's temporary names, and the clean-up of the
// ledgers that ended processes left.
//
// A ledger is UTF-16 text: a header line, then one line per event, "+path"
// when a name was made and "-path" before it is deleted or moved away, each
// ending in CR LF. A line a crash cut short counts for nothing. The entry
// leaves the ledger before its file goes, so that a ledger never names a
// file that someone else may have made under the same name since; a crash in
// between leaves a file behind, which is the safe way to be wrong.
#include "platform/temporary_files.h"

#include "platform/ascii_text.h"
#include "platform/delete_own_file.h"
#include "platform/platform_calls.h"

#include <atomic>
#include <string>
#include <vector>

namespace {

using Text = std::basic_string<WCHAR>;

constexpr WCHAR kHeader[] = TEXT("qltmsi temporary files\r\n");
constexpr size_t kHeaderChars = sizeof kHeader / sizeof(WCHAR) - 1;
constexpr WCHAR kLineEnd[] = TEXT("\r\n");
// Far more than any process lists; a larger file is not a ledger of ours.
constexpr DWORD kLargestLedgerBytes = 4u << 20;

// This process's ledger: the open file, or none, and the names it lists.
// While no file is open (none made yet, or one given up after a failed
// write) the names are listed again in the next one.
struct Ledger {
    HANDLE file = INVALID_HANDLE_VALUE;
    Text path;
    std::vector<Text> listed;
};
Ledger ledger;

// Exported calls run one at a time, but compaction and the restore take no
// call lock; the ledger's few writes are short enough to wait for.
std::atomic_flag ledgerBusy = ATOMIC_FLAG_INIT;

class LedgerGuard {
  public:
    LedgerGuard() {
        while (ledgerBusy.test_and_set(std::memory_order_acquire)) {
            Sleep(1);
        }
    }
    ~LedgerGuard() { ledgerBusy.clear(std::memory_order_release); }
    LedgerGuard(const LedgerGuard&) = delete;
    LedgerGuard& operator=(const LedgerGuard&) = delete;
};

bool StartsWith(const Text& text, const Text& start) {
    return text.size() >= start.size() && EqualsIgnoringAsciiCase(text.substr(0, start.size()), start);
}

bool WriteAll(HANDLE file, const Text& text) {
    const DWORD bytes = static_cast<DWORD>(text.size() * sizeof(WCHAR));
    DWORD written = 0;
    return WriteFile(file, text.data(), bytes, &written, nullptr) != FALSE && written == bytes;
}

Text Line(WCHAR mark, const Text& path) {
    return Text(1, mark) + path + kLineEnd;
}

// Closes this process's ledger and deletes it. The names stay listed in
// memory for the next ledger.
void DropLedger() {
    if (ledger.file == INVALID_HANDLE_VALUE) {
        return;
    }
    CloseHandle(ledger.file);
    ledger.file = INVALID_HANDLE_VALUE;
    platformCalls.deleteFile(ledger.path.c_str());
    ledger.path.clear();
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

// A ledger that lists every name listed so far.
bool OpenLedger() {
    if (ledger.file != INVALID_HANDLE_VALUE) {
        return true;
    }
    Text folder;
    WCHAR path[MAX_PATH + 1] = {};
    if (!TemporaryFolder(folder) || platformCalls.tempFileName(folder.c_str(), TEXT("qll"), 0,
                                                               path) == 0) {
        return false;
    }
    // A clean-up may have taken the empty file for one whose maker died
    // before opening it: then it is made again.
    const HANDLE file = platformCalls.createFile(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                                 OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        platformCalls.deleteFile(path);
        SetLastError(error);
        return false;
    }
    Text contents = kHeader;
    for (const Text& name : ledger.listed) {
        contents += Line('+', name);
    }
    ledger.file = file;
    ledger.path = path;
    if (!WriteAll(file, contents)) {
        const DWORD error = GetLastError();
        DropLedger();
        SetLastError(error);
        return false;
    }
    return true;
}

bool List(const Text& path) {
    LedgerGuard guard;
    if (!OpenLedger()) {
        return false;
    }
    if (!WriteAll(ledger.file, Line('+', path))) {
        // What the failed write left would follow the next line.
        const DWORD error = GetLastError();
        DropLedger();
        SetLastError(error);
        return false;
    }
    ledger.listed.push_back(path);
    return true;
}

// Takes a name off the list before its file goes. False when it was not
// listed (nothing written).
bool Unlist(const Text& path) {
    LedgerGuard guard;
    size_t found = ledger.listed.size();
    for (size_t i = 0; i < ledger.listed.size() && found == ledger.listed.size(); ++i) {
        if (EqualsIgnoringAsciiCase(ledger.listed[i], path)) {
            found = i;
        }
    }
    if (found == ledger.listed.size()) {
        return false;
    }
    ledger.listed.erase(ledger.listed.begin() + static_cast<std::ptrdiff_t>(found));
    Text lines = Line('-', path);
    // Names whose files someone else deleted go too, or the ledger would
    // never empty.
    for (size_t i = ledger.listed.size(); i-- > 0;) {
        if (platformCalls.fileAttributes(ledger.listed[i].c_str()) == INVALID_FILE_ATTRIBUTES) {
            lines += Line('-', ledger.listed[i]);
            ledger.listed.erase(ledger.listed.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
    // A ledger whose line could not be written might outlive this process
    // naming the file: it goes now, and the next name starts a new one. An
    // empty one goes too, after its last line: if it cannot be deleted it
    // still names nothing.
    if (ledger.file != INVALID_HANDLE_VALUE &&
        (!WriteAll(ledger.file, lines) || ledger.listed.empty())) {
        DropLedger();
    }
    return true;
}

// Lists again a name whose file stayed where it was. When that fails it
// stays unlisted: a crash would leave it behind, never take it from anyone.
void Relist(const Text& path) {
    List(path);
}

bool IsHexDigit(WCHAR c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// "qlt" or "qlc", one to four hexadecimal digits, ".tmp": GetTempFileNameW's
// names with the library's prefixes.
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

// Deletes the files in a folder (an extraction folder holds no folders),
// then the folder.
bool RemoveFolderAndFiles(const Text& folder) {
    WIN32_FIND_DATAW entry{};
    const HANDLE find = platformCalls.findFirstFile((folder + TEXT("\\*")).c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const Text name(entry.cFileName);
            if (name != TEXT(".") && name != TEXT("..") &&
                (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                DeleteOwnFile((folder + TEXT("\\") + name).c_str());
            }
        } while (platformCalls.findNextFile(find, &entry));
        FindClose(find);
    }
    return platformCalls.removeDirectory(folder.c_str()) != FALSE;
}

// Deletes one name an ended process listed; true when nothing is left of it.
bool RemoveListedName(const Text& path, const Text& temporaryFolder) {
    const size_t separator = path.rfind('\\');
    if (separator == Text::npos || !IsTemporaryName(path.substr(separator + 1))) {
        return true;  // not a name of ours: never touched
    }
    const DWORD attributes = platformCalls.fileAttributes(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return true;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        // Only the extraction folders, which are made in the temporary folder.
        return !EqualsIgnoringAsciiCase(path.substr(0, separator + 1), temporaryFolder) ||
               RemoveFolderAndFiles(path);
    }
    return DeleteOwnFile(path.c_str()) != FALSE;
}

// The names a ledger's complete lines still list, in the order listed;
// false when the text is no ledger of ours.
bool ReadListed(const Text& text, std::vector<Text>& listed) {
    if (text.compare(0, kHeaderChars, kHeader) != 0) {
        return false;
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
    return true;
}

// Works through one ledger that could be opened exclusively, so no process
// holds it. Each name leaves the ledger before its file goes, as in the
// process that made it, so that a clean-up that dies half-way leaves no
// stale entry for the next one. The ledger goes when it lists nothing.
void CleanUpLedger(HANDLE file, const Text& path, const Text& temporaryFolder) {
    const DWORD size = GetFileSize(file, nullptr);
    if (size == INVALID_FILE_SIZE || size > kLargestLedgerBytes || size % sizeof(WCHAR) != 0) {
        CloseHandle(file);
        return;
    }
    // Read whole, so that the lines written below go after what is there.
    Text text(size / sizeof(WCHAR), 0);
    DWORD read = 0;
    std::vector<Text> listed;
    if (ReadFile(file, text.data(), size, &read, nullptr) == FALSE || read != size ||
        !ReadListed(text, listed)) {
        CloseHandle(file);
        return;
    }
    bool everythingGone = true;
    for (const Text& name : listed) {
        if (!WriteAll(file, Line('-', name))) {
            everythingGone = false;
            break;
        }
        if (!RemoveListedName(name, temporaryFolder)) {
            WriteAll(file, Line('+', name));
            everythingGone = false;
        }
    }
    CloseHandle(file);
    if (everythingGone) {
        platformCalls.deleteFile(path.c_str());
    }
}

}  // namespace

UINT MakeTemporaryFile(LPCWSTR folder, LPCWSTR prefix, LPWSTR path) {
    // The ledger is in place before the name is made, so that a crash
    // between the two leaves as little as one line's write unlisted.
    LedgerGuard guard;
    if (!OpenLedger()) {
        path[0] = 0;
        return 0;
    }
    const UINT made = platformCalls.tempFileName(folder, prefix, 0, path);
    if (made != 0 && WriteAll(ledger.file, Line('+', path))) {
        ledger.listed.push_back(path);
        return made;
    }
    const DWORD error = GetLastError();
    if (made != 0) {
        // What the failed write left would follow the next line.
        DropLedger();
        platformCalls.deleteFile(path);
    } else if (ledger.listed.empty()) {
        DropLedger();
    }
    path[0] = 0;
    SetLastError(error);
    return 0;
}

UINT MakeTemporaryFileInTempFolder(LPCWSTR prefix, LPWSTR path) {
    Text folder;
    if (!TemporaryFolder(folder)) {
        path[0] = 0;
        return 0;
    }
    return MakeTemporaryFile(folder.c_str(), prefix, path);
}

BOOL DeleteTemporaryFile(LPCWSTR path) {
    const bool wasListed = Unlist(path);
    const BOOL deleted = DeleteOwnFile(path);
    if (!deleted && wasListed && platformCalls.fileAttributes(path) != INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        Relist(path);
        SetLastError(error);
    }
    return deleted;
}

BOOL RemoveTemporaryFolder(LPCWSTR path) {
    // Listed as the file name it was made as, without the separator that
    // the folder's users append.
    Text listed(path);
    while (!listed.empty() && listed.back() == '\\') {
        listed.pop_back();
    }
    const bool wasListed = Unlist(listed);
    const BOOL removed = platformCalls.removeDirectory(path);
    if (!removed && wasListed && platformCalls.fileAttributes(path) != INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        Relist(listed);
        SetLastError(error);
    }
    return removed;
}

BOOL MoveTemporaryFile(LPCWSTR from, LPCWSTR to, DWORD flags) {
    const bool wasListed = Unlist(from);
    const BOOL moved =
        flags != 0 ? platformCalls.moveFileEx(from, to, flags) : platformCalls.moveFile(from, to);
    if (!moved && wasListed && platformCalls.fileAttributes(from) != INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        Relist(from);
        SetLastError(error);
    }
    return moved;
}

void RemoveFilesOfEndedProcesses() {
    Text folder;
    if (!TemporaryFolder(folder)) {
        return;
    }
    std::vector<Text> ledgers;
    WIN32_FIND_DATAW entry{};
    const HANDLE find = platformCalls.findFirstFile((folder + TEXT("qll*.tmp")).c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            continue;
        }
        // An empty one lists nothing: its maker died before opening it, or
        // has not opened it yet and makes it again. Held open, it stays.
        if (entry.nFileSizeLow == 0 && entry.nFileSizeHigh == 0) {
            platformCalls.deleteFile((folder + entry.cFileName).c_str());
        } else {
            ledgers.push_back(folder + entry.cFileName);
        }
    } while (platformCalls.findNextFile(find, &entry));
    FindClose(find);
    for (const Text& path : ledgers) {
        // Opened without sharing: a living owner holds it so, and two
        // clean-ups never work on one ledger at once.
        const HANDLE file = platformCalls.createFile(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                                     nullptr, OPEN_EXISTING,
                                                     FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            continue;
        }
        CleanUpLedger(file, path, folder);
    }
}
