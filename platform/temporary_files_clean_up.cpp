// The clean-up of what ended processes left in their temporary-file
// ledgers.
//
// A name an ended process still lists is its file, unless a living process
// lists it too: an ended process may have listed a name it never made (the
// name was taken), or deleted a file and died before unlisting it, and the
// name may since be someone else's. A living process lists a name before it
// makes the file, and the files are identified before the living ledgers are
// read, so a file found that no living ledger lists was made by no living
// process. Each file is identified again just before it goes, so that one
// deleted and made anew meanwhile is spared.
#include "platform/temporary_files.h"

#include "platform/ascii_text.h"
#include "platform/delete_own_file.h"
#include "platform/file_identity.h"
#include "platform/platform_calls.h"
#include "platform/temporary_ledger.h"

#include <vector>

namespace {

using temporary_ledger::Text;

// A ledger that could be opened for writing: nobody else holds it.
struct EndedLedger {
    HANDLE file = INVALID_HANDLE_VALUE;
    Text path;
    std::vector<Text> listed;
};

// A listed name that still reaches something.
struct Found {
    Text path;
    bool folder = false;
    FileIdentity identity;
};

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

enum class Listed { Nothing, Found, Unknown };

// What a listed name reaches now: nothing the clean-up takes (nothing at
// all, a name not of ours, or a folder outside the temporary folder, where
// the library makes none), a file or folder, or something it can't identify.
Listed FindListed(const Text& path, const Text& temporaryFolder, Found& found) {
    const size_t separator = path.rfind('\\');
    if (separator == Text::npos || !temporary_ledger::IsTemporaryName(path.substr(separator + 1))) {
        return Listed::Nothing;
    }
    const DWORD attributes = platformCalls.fileAttributes(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND
                   ? Listed::Nothing
                   : Listed::Unknown;
    }
    found.path = path;
    found.folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (found.folder) {
        return EqualsIgnoringAsciiCase(path.substr(0, separator + 1), temporaryFolder)
                   ? Listed::Found
                   : Listed::Nothing;
    }
    return IdentifyFile(path.c_str(), found.identity) ? Listed::Found : Listed::Unknown;
}

bool StillTheSame(const Found& found) {
    if (found.folder) {
        const DWORD attributes = platformCalls.fileAttributes(found.path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }
    FileIdentity now;
    return IdentifyFile(found.path.c_str(), now) && now == found.identity;
}

bool ListedIn(const std::vector<Text>& names, const Text& path) {
    for (const Text& name : names) {
        if (EqualsIgnoringAsciiCase(name, path)) {
            return true;
        }
    }
    return false;
}

// Adds what the living ledgers list to `names`; false when one can't be
// read, and then no name can be known to be nobody's.
bool ReadLivingLedgers(const std::vector<Text>& paths, std::vector<Text>& names) {
    for (const Text& path : paths) {
        const HANDLE file = platformCalls.createFile(
            path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_FILE_NOT_FOUND) {
                continue;  // its owner has finished and deleted it
            }
            return false;
        }
        Text text;
        const bool read = temporary_ledger::ReadWhole(file, text);
        CloseHandle(file);
        if (!read) {
            return false;
        }
        temporary_ledger::ReadListed(text, names);
    }
    return true;
}

// Sorts the ledgers in the temporary folder into those that no process
// holds, read, and those some process holds. Empty ones list nothing: their
// makers died before opening them, or have not opened them yet and make
// them again.
void SortLedgers(const Text& folder, std::vector<EndedLedger>& ended, std::vector<Text>& living) {
    std::vector<Text> ledgers;
    WIN32_FIND_DATAW entry{};
    const HANDLE find =
        platformCalls.findFirstFile((folder + temporary_ledger::kPattern).c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            continue;
        }
        if (entry.nFileSizeLow == 0 && entry.nFileSizeHigh == 0) {
            platformCalls.deleteFile((folder + entry.cFileName).c_str());
        } else {
            ledgers.push_back(folder + entry.cFileName);
        }
    } while (platformCalls.findNextFile(find, &entry));
    FindClose(find);
    for (const Text& path : ledgers) {
        // Opened for writing, sharing reading only: it fails while a living
        // owner holds it, and two clean-ups never both take one for ended.
        const HANDLE file =
            platformCalls.createFile(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            if (GetLastError() != ERROR_FILE_NOT_FOUND) {
                living.push_back(path);
            }
            continue;
        }
        Text text;
        EndedLedger ledger{file, path, {}};
        const temporary_ledger::Reading reading =
            temporary_ledger::ReadWhole(file, text)
                ? temporary_ledger::ReadListed(text, ledger.listed)
                : temporary_ledger::Reading::NotALedger;
        if (reading == temporary_ledger::Reading::NotALedger) {
            CloseHandle(file);
            continue;
        }
        ended.push_back(std::move(ledger));
    }
}

}  // namespace

void RemoveFilesOfEndedProcesses() {
    Text folder;
    if (!temporary_ledger::TemporaryFolder(folder)) {
        return;
    }
    std::vector<EndedLedger> ended;
    std::vector<Text> living;
    SortLedgers(folder, ended, living);
    std::vector<Found> found;
    // Names whose files stay: their ledgers stay with them.
    std::vector<Text> staying;
    for (const EndedLedger& ledger : ended) {
        for (const Text& name : ledger.listed) {
            Found one;
            const Listed listed = FindListed(name, folder, one);
            if (listed == Listed::Found) {
                found.push_back(std::move(one));
            } else if (listed == Listed::Unknown) {
                staying.push_back(name);
            }
        }
    }
    std::vector<Text> livingNames;
    const bool livingKnown = found.empty() || ReadLivingLedgers(living, livingNames);
    for (const Found& one : found) {
        if (!livingKnown) {
            staying.push_back(one.path);
        } else if (ListedIn(livingNames, one.path) || !StillTheSame(one)) {
            continue;  // a living process's now
        } else if (!(one.folder ? RemoveFolderAndFiles(one.path)
                                : DeleteOwnFile(one.path.c_str()) != FALSE)) {
            staying.push_back(one.path);
        }
    }
    // A ledger goes only after everything it listed: a clean-up that dies
    // half-way leaves the rest to the next one.
    for (const EndedLedger& ledger : ended) {
        CloseHandle(ledger.file);
        bool everythingGone = true;
        for (const Text& name : ledger.listed) {
            everythingGone = everythingGone && !ListedIn(staying, name);
        }
        if (everythingGone) {
            platformCalls.deleteFile(ledger.path.c_str());
        }
    }
}
