// This process's ledger of the temporary names it makes (the text is in
// temporary_ledger.h). A name is listed before its file exists and stays
// listed until the file is gone, so a process killed at any moment leaves
// every file of its own listed, and never leaves a line whose file it did
// not make: a name it listed but could not make, or deleted but could not
// yet unlist, is either free or someone else's, and that someone lists it
// in a ledger of its own (see temporary_files_clean_up.cpp).
#include "platform/temporary_files.h"

#include "platform/ascii_text.h"
#include "platform/delete_own_file.h"
#include "platform/platform_calls.h"
#include "platform/temporary_ledger.h"

#include <atomic>
#include <utility>
#include <vector>

namespace {

using temporary_ledger::Line;
using temporary_ledger::Text;
using temporary_ledger::WriteAll;

// This process's ledger: the open file, or none, and the names it lists.
// While no file is open (none made yet, or one given up after a failed
// write) the names are listed again in the next one.
struct Ledger {
    HANDLE file = INVALID_HANDLE_VALUE;
    Text path;
    std::vector<Text> listed;
    // Ledgers given up after a failed write. They may still list files this
    // process has, so they stay open, which tells every clean-up that their
    // owner lives, until the process lists nothing.
    std::vector<std::pair<HANDLE, Text>> givenUp;
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

// What a failed write left would run into the next line: the next name
// goes to a new ledger.
void GiveUpLedger() {
    if (ledger.file != INVALID_HANDLE_VALUE) {
        ledger.givenUp.emplace_back(ledger.file, ledger.path);
        ledger.file = INVALID_HANDLE_VALUE;
        ledger.path.clear();
    }
}

// Once this process lists nothing, its ledgers go. One that can't be
// deleted lists only names whose files are gone.
void DropLedgersIfEmpty() {
    if (!ledger.listed.empty()) {
        return;
    }
    GiveUpLedger();
    for (const auto& [file, path] : ledger.givenUp) {
        CloseHandle(file);
        platformCalls.deleteFile(path.c_str());
    }
    ledger.givenUp.clear();
}

bool Write(const Text& lines) {
    if (WriteAll(ledger.file, lines)) {
        return true;
    }
    const DWORD error = GetLastError();
    GiveUpLedger();
    SetLastError(error);
    return false;
}

// A ledger that lists every name listed so far. It is shared for reading:
// a clean-up reads it to learn which names a living process holds, and
// can't open it for writing while it is held here.
bool OpenLedger() {
    if (ledger.file != INVALID_HANDLE_VALUE) {
        return true;
    }
    Text folder;
    WCHAR path[MAX_PATH + 1] = {};
    if (!temporary_ledger::TemporaryFolder(folder) ||
        platformCalls.tempFileName(folder.c_str(), temporary_ledger::kPrefix, 0, path) == 0) {
        return false;
    }
    // A clean-up may have taken the empty file for one whose maker died
    // before opening it: then it is made again.
    const HANDLE file = platformCalls.createFile(path, GENERIC_READ | GENERIC_WRITE,
                                                 FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        platformCalls.deleteFile(path);
        SetLastError(error);
        return false;
    }
    Text contents = temporary_ledger::Header();
    for (const Text& name : ledger.listed) {
        contents += Line('+', name);
    }
    ledger.file = file;
    ledger.path = path;
    return Write(contents);
}

// Takes a name whose file is gone off the list, with any others whose files
// someone else deleted (or the ledger would never empty).
void Unlist(const Text& path) {
    LedgerGuard guard;
    Text lines;
    for (size_t i = ledger.listed.size(); i-- > 0;) {
        if (EqualsIgnoringAsciiCase(ledger.listed[i], path) ||
            platformCalls.fileAttributes(ledger.listed[i].c_str()) == INVALID_FILE_ATTRIBUTES) {
            lines += Line('-', ledger.listed[i]);
            ledger.listed.erase(ledger.listed.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
    if (!lines.empty() && ledger.file != INVALID_HANDLE_VALUE) {
        Write(lines);
    }
    DropLedgersIfEmpty();
}

bool Exists(LPCWSTR path) {
    return platformCalls.fileAttributes(path) != INVALID_FILE_ATTRIBUTES;
}

// Where GetTempFileNameW would start counting: different for processes and
// calls made at once.
UINT FirstNumber() {
    static std::atomic<UINT> calls{0};
    const UINT number =
        (GetTickCount() ^ (GetCurrentProcessId() << 5) ^ (calls.fetch_add(1) * 40503u)) & 0xFFFF;
    return number == 0 ? 1 : number;
}

}  // namespace

UINT MakeTemporaryFile(LPCWSTR folder, LPCWSTR prefix, LPWSTR path) {
    LedgerGuard guard;
    const auto fail = [&](DWORD error) -> UINT {
        DropLedgersIfEmpty();
        path[0] = 0;
        SetLastError(error);
        return 0;
    };
    if (!OpenLedger()) {
        return fail(GetLastError());
    }
    // GetTempFileNameW's own search, with the name listed before each try
    // to make it.
    const UINT first = FirstNumber();
    UINT number = first;
    do {
        if (platformCalls.tempFileName(folder, prefix, number, path) == 0 ||
            !Write(Line('+', path))) {
            return fail(GetLastError());
        }
        const HANDLE made = platformCalls.createFile(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                                     FILE_ATTRIBUTE_NORMAL, nullptr);
        if (made != INVALID_HANDLE_VALUE) {
            CloseHandle(made);
            ledger.listed.emplace_back(path);
            return number;
        }
        const DWORD error = GetLastError();
        // Not made here: someone else's name, or none. A ledger that can't
        // say so is given up, and the stray line never taken for this
        // process's file, since the clean-up spares what a living ledger
        // lists and an ended one's leftovers are leftovers either way.
        Write(Line('-', path));
        const bool taken = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ||
                           (error == ERROR_ACCESS_DENIED && Exists(path));
        if (!taken) {
            return fail(error);
        }
        if (ledger.file == INVALID_HANDLE_VALUE && !OpenLedger()) {
            return fail(GetLastError());
        }
        number = number % 0xFFFF + 1;
    } while (number != first);
    return fail(ERROR_FILE_EXISTS);
}

UINT MakeTemporaryFileInTempFolder(LPCWSTR prefix, LPWSTR path) {
    Text folder;
    if (!temporary_ledger::TemporaryFolder(folder)) {
        path[0] = 0;
        return 0;
    }
    return MakeTemporaryFile(folder.c_str(), prefix, path);
}

BOOL DeleteTemporaryFile(LPCWSTR path) {
    const BOOL deleted = DeleteOwnFile(path);
    const DWORD error = GetLastError();
    if (deleted || !Exists(path)) {
        Unlist(path);
    }
    SetLastError(error);
    return deleted;
}

BOOL RemoveTemporaryFolder(LPCWSTR path) {
    const BOOL removed = platformCalls.removeDirectory(path);
    const DWORD error = GetLastError();
    if (removed || !Exists(path)) {
        // Listed as the file name it was made as, without the separator
        // that the folder's users append.
        Text listed(path);
        while (!listed.empty() && listed.back() == '\\') {
            listed.pop_back();
        }
        Unlist(listed);
    }
    SetLastError(error);
    return removed;
}

BOOL MoveTemporaryFile(LPCWSTR from, LPCWSTR to, DWORD flags) {
    const BOOL moved =
        flags != 0 ? platformCalls.moveFileEx(from, to, flags) : platformCalls.moveFile(from, to);
    const DWORD error = GetLastError();
    if (moved) {
        Unlist(from);
    }
    SetLastError(error);
    return moved;
}
