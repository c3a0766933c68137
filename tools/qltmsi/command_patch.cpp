// qltmsi patch: replaces and removes files inside an installed product's
// cached package, through the library's exports and nothing else, so that
// what a person sees here is what any program linking the library gets.
#include <windows.h>

#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli_text.h"
#include "command_table.h"
#include "host/host.h"
#include "include/qltmsi.h"
#include "platform/ascii_text.h"
#include "short_names.h"

namespace qltmsi {

namespace {

constexpr std::string_view kHelp =
    "usage: qltmsi patch --product GUID [--package-code GUID] [--transform FILE]\n"
    "                    --replace INSTALLED=NEWFILE[:NEWNAME]... [--remove INSTALLED]...\n"
    "                    [--backup DIR]\n"
    "\n"
    "Replaces (--replace) or removes (--remove) installed files inside the cached\n"
    "package of an installed product and writes the package back. INSTALLED is the\n"
    "file's installed path; NEWFILE the file that takes its place; NEWNAME, when\n"
    "given, the file name the package records for it. Without NEWNAME the\n"
    "package keeps the name it records as it is. A NEWNAME that is no 8.3 name\n"
    "is recorded with a short name made for it (NAME~1.EXT, unique among the\n"
    "files of its folder), as SHORT|LONG; a NEWNAME holding '|' is recorded as\n"
    "given. --package-code refuses the work unless the installed package is\n"
    "that one; --transform applies a\n"
    "transform first. With --backup, an undo record is left in DIR and its backup\n"
    "string (the command that puts the package back) is printed; run it with\n"
    "'qltmsi run'. Native paths are accepted and shown in their Windows form.\n"
    "On a terminal the commit's progress is shown on standard error.\n"
    "\n"
    "Exit codes: 0 done; 1 the library refused or failed (its message and status\n"
    "are printed: e.g. 1605 unknown product, 259 or 1615 file not in the package,\n"
    "16 other package code, 4100 package cannot be copied, 1618 package in use);\n"
    "2 usage error. On failure the package is left as it was, but for one case:\n"
    "with --backup, status 4098 says the package was patched and no undo record\n"
    "was made.\n"
    "\n"
    "example:\n"
    "  qltmsi patch --product {3E7F5A2C-1B4D-4C6E-8F90-A1B2C3D4E5F6} \\\n"
    "      --replace 'C:\\Program Files\\Sample\\main.exe'=build/main.exe \\\n"
    "      --backup /tmp/undo\n";

struct Replacement {
    WideString installed;
    WideString newFile;  // empty: remove
    WideString newName;  // the name the package records after the update
    bool nameGiven = false;
};

struct PatchRequest {
    WideString product;
    WideString packageCode;
    WideString transform;
    std::vector<Replacement> changes;
    std::optional<WideString> backupDirectory;
};

int usageError(const char* what) {
    std::fprintf(stderr, "qltmsi patch: %s\n(see 'qltmsi patch --help')\n", what);
    return kExitUsage;
}

// INSTALLED=NEWFILE[:NEWNAME]. The ':' after a drive letter belongs to the
// path, so NEWNAME is only taken after the last path separator.
std::optional<Replacement> parseReplace(const std::string& text) {
    size_t equals = text.find('=');
    if (equals == std::string::npos || equals == 0 || equals + 1 == text.size())
        return std::nullopt;
    std::string newPart = text.substr(equals + 1);
    std::string newName;
    size_t lastSeparator = newPart.find_last_of("/\\");
    size_t colon = newPart.rfind(':');
    bool driveColon = colon == 1;
    if (colon != std::string::npos && !driveColon &&
        (lastSeparator == std::string::npos || colon > lastSeparator)) {
        newName = newPart.substr(colon + 1);
        newPart.resize(colon);
        if (newName.empty() || newPart.empty())
            return std::nullopt;
    }
    // The library needs the name the package is to record; the name the
    // file is installed under is one the row already carries, which leaves
    // the row's FileName as it is.
    WideString installed = windowsPathOf(text.substr(0, equals));
    WideString name = newName.empty() ? fileNameOf(installed) : toWide(newName);
    return Replacement{installed, windowsPathOf(newPart), name, !newName.empty()};
}

std::optional<PatchRequest> parse(const std::vector<std::string>& args, int* exitCode) {
    PatchRequest request;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& option = args[i];
        if (i + 1 >= args.size()) {
            *exitCode = usageError(("'" + option + "' needs a value").c_str());
            return std::nullopt;
        }
        const std::string& value = args[++i];
        if (option == "--product") {
            request.product = toWide(value);
        } else if (option == "--package-code") {
            request.packageCode = toWide(value);
        } else if (option == "--transform") {
            request.transform = windowsPathOf(value);
        } else if (option == "--replace") {
            auto replacement = parseReplace(value);
            if (!replacement) {
                *exitCode = usageError("--replace takes INSTALLED=NEWFILE[:NEWNAME]");
                return std::nullopt;
            }
            request.changes.push_back(*replacement);
        } else if (option == "--remove") {
            request.changes.push_back(Replacement{windowsPathOf(value), {}, {}});
        } else if (option == "--backup") {
            request.backupDirectory = windowsPathOf(value);
        } else {
            *exitCode = usageError(("unknown option '" + option + "'").c_str());
            return std::nullopt;
        }
    }
    if (request.product.empty()) {
        *exitCode = usageError("--product is required");
        return std::nullopt;
    }
    if (request.changes.empty()) {
        *exitCode = usageError("nothing to do: give --replace or --remove");
        return std::nullopt;
    }
    return request;
}

// Progress on a terminal: the text of code 9 once, then a spinner that turns
// on every code-21 tick. Nothing at all when standard error is not a terminal.
struct ProgressDisplay {
    bool enabled = false;
    bool textShown = false;
    unsigned ticks = 0;
};
ProgressDisplay progress;

void QLTMSI_CALL onProgress(int code, void* data) {
    if (!progress.enabled)
        return;
    if (code == QLTMSI_PROGRESS_TEXT && data) {
        // The text ends in blank lines meant for a console; the spinner
        // belongs on the text's own line.
        std::string text = static_cast<const char*>(data);
        while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
            text.pop_back();
        std::fprintf(stderr, "%s%s  ", progress.textShown ? "\n" : "", text.c_str());
        progress.textShown = true;
    } else if (code == QLTMSI_PROGRESS_TICK) {
        static const char kSpinner[] = "|/-\\";
        std::fprintf(stderr, "\b%c", progress.ticks++ == 0 ? ' ' : kSpinner[progress.ticks % 4]);
    }
    std::fflush(stderr);
}

void endProgressLine() {
    if (progress.enabled && progress.textShown)
        std::fputs("\bdone\n", stderr);
    progress.textShown = false;
}

// The library's own message for a failure, or a plain one when it has none.
int reportFailure(QLTMSI_HANDLE handle, const char* step, QLTMSI_STATUS status) {
    endProgressLine();
    const char* message = QLTMsiGetLastErrorStrA(handle);
    if (message && *message)
        std::fprintf(stderr, "qltmsi patch: %s: %s (status %u)\n", step, message, unsigned(status));
    else
        std::fprintf(stderr, "qltmsi patch: %s failed with status %u\n", step, unsigned(status));
    return kExitFailure;
}

std::string backupString(QLTMSI_HANDLE handle, QLTMSI_STATUS* status) {
    QLTMSI_DWORD size = 0;
    *status = QLTMsiGetBackupStringA(handle, nullptr, &size);
    if (*status != QLTMSI_SUCCESS && *status != QLTMSI_ERROR_BUFFER_TOO_SMALL)
        return {};
    std::string text(size, '\0');
    *status = QLTMsiGetBackupStringA(handle, text.data(), &size);
    if (*status != QLTMSI_SUCCESS)
        return {};
    text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
    return text;
}

// What can be known before the library is asked: refusing here keeps the
// package untouched. The library would make the commit without an undo
// record when the backup directory is unusable, and a person who asked for a
// backup wants no patch without one.
bool preflight(const PatchRequest& request) {
    for (const auto& change : request.changes) {
        if (change.newFile.empty())
            continue;
        DWORD attributes = GetFileAttributesW(change.newFile.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            std::fprintf(stderr, "qltmsi patch: the new file %s does not exist\n",
                         toUtf8(change.newFile).c_str());
            return false;
        }
    }
    if (request.backupDirectory) {
        DWORD attributes = GetFileAttributesW(request.backupDirectory->c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            std::fprintf(stderr, "qltmsi patch: the backup directory %s does not exist\n",
                         toUtf8(*request.backupDirectory).c_str());
            return false;
        }
    }
    return true;
}

// Gives each new long name a short name of its own beside it, unique among
// the files of its folder and the names given before it in this patch.
bool addShortNames(PatchRequest& request) {
    std::map<WideString, std::set<WideString>> takenByFolder;
    for (auto& change : request.changes) {
        if (change.newFile.empty() || !change.nameGiven ||
            change.newName.find(WCHAR('|')) != WideString::npos || isShortName(change.newName) ||
            EqualsIgnoringAsciiCase(change.newName, fileNameOf(change.installed)))
            continue;
        const WideString folder = folderOf(change.installed);
        try {
            auto found = takenByFolder.find(folder);
            if (found == takenByFolder.end())
                found = takenByFolder
                            .emplace(folder, shortNamesBeside(request.product, change.installed))
                            .first;
            const WideString shortName = makeShortName(change.newName, found->second);
            found->second.insert(shortName);
            change.newName = shortName + TEXT("|") + change.newName;
        } catch (const std::exception& error) {
            std::fprintf(stderr, "qltmsi patch: cannot choose a short name for %s: %s\n",
                         toUtf8(change.newName).c_str(), error.what());
            return false;
        }
    }
    return true;
}

int patch(QLTMSI_HANDLE handle, const PatchRequest& request) {
    const WCHAR* first = nullptr;
    const WCHAR* second = nullptr;
    if (!request.packageCode.empty()) {
        first = request.packageCode.c_str();
        if (!request.transform.empty())
            second = request.transform.c_str();
    } else if (!request.transform.empty()) {
        first = request.transform.c_str();
    }
    QLTMSI_STATUS status =
        QLTMsiOpenDatabase(handle, request.product.c_str(), first, second, nullptr, onProgress);
    if (status != QLTMSI_SUCCESS)
        return reportFailure(handle, "opening the installed package", status);

    for (const auto& change : request.changes) {
        bool removing = change.newFile.empty();
        status = QLTMsiUpdateFile(handle, change.installed.c_str(),
                                  removing ? nullptr : change.newFile.c_str(),
                                  change.newName.empty() ? nullptr : change.newName.c_str());
        std::string step = (removing ? "removing " : "replacing ") + toUtf8(change.installed);
        if (status != QLTMSI_SUCCESS)
            return reportFailure(handle, step.c_str(), status);
        if (!progress.enabled)
            continue;
        endProgressLine();
        if (removing)
            std::printf("removed  %s\n", toUtf8(change.installed).c_str());
        else
            std::printf("replaced %s with %s\n", toUtf8(change.installed).c_str(),
                        toUtf8(change.newFile).c_str());
    }

    const WCHAR* backup = request.backupDirectory ? request.backupDirectory->c_str() : nullptr;
    status = QLTMsiCommitChanges(handle, backup);
    if (status != QLTMSI_SUCCESS)
        return reportFailure(handle, "writing the package", status);
    endProgressLine();

    if (request.backupDirectory) {
        std::string text = backupString(handle, &status);
        if (status != QLTMSI_SUCCESS)
            return reportFailure(handle, "the package was patched, but no undo record was made",
                                 status);
        std::printf("%s\n", text.c_str());
    }
    return kExitOk;
}

int run(const std::vector<std::string>& args) {
    int exitCode = kExitUsage;
    auto request = parse(args, &exitCode);
    if (!request)
        return exitCode;
    if (!preflight(*request) || !addShortNames(*request))
        return kExitFailure;
    progress = ProgressDisplay{host::isTerminal(stderr)};

    QLTMSI_HANDLE handle = QLTMsiOpen();
    if (handle == QLTMSI_HANDLE_ALREADY_OPEN) {
        std::fputs("qltmsi patch: the library has no free handle\n", stderr);
        return kExitFailure;
    }
    int result = patch(handle, *request);
    QLTMsiCloseDatabase(handle);
    QLTMsiClose(handle);
    return result;
}

}  // namespace

QLTMSI_COMMAND("patch", "replace or remove files in an installed product's package", kHelp, run);

}  // namespace qltmsi
