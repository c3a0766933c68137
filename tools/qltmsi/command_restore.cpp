// qltmsi restore ENTRY: puts an installed package back from one undo entry,
// through the registered backup server's restore entry point, and says
// whether the restore went through (the entry point itself reports nothing).
#include <windows.h>

#include <cstdio>
#include <string>

#include "cli_text.h"
#include "command_table.h"
#include "undo_entries.h"

namespace qltmsi {

namespace {

constexpr std::string_view kHelp =
    "usage: qltmsi restore ENTRY\n"
    "\n"
    "Restores the installed package from the undo entry ENTRY (the last word of\n"
    "the backup string a commit printed, for example 'b'), by calling the\n"
    "QltMsiBackupSvr entry point of the registered backup server, as running\n"
    "the backup string would. Exit status 0 when the entry was restored and\n"
    "removed, 1 when the entry is unknown or the restore stopped (the package\n"
    "and the entry are then as they were).\n";

using EntryPoint = void(CALLBACK*)(HWND, HINSTANCE, LPSTR, int);

int run(const std::vector<std::string>& args) {
    if (args.size() != 1) {
        std::fputs("usage: qltmsi restore ENTRY\n", stderr);
        return kExitUsage;
    }
    const std::string& entry = args[0];
    if (!undoEntryExists(entry)) {
        std::fprintf(stderr, "qltmsi restore: no undo entry '%s'\n", entry.c_str());
        return kExitFailure;
    }
    WideString server = registeredBackupServer();
    if (server.empty()) {
        std::fputs("qltmsi restore: no backup server is registered\n", stderr);
        return kExitFailure;
    }
    HMODULE library = LoadLibraryW(server.c_str());
    auto restore = library ? reinterpret_cast<EntryPoint>(reinterpret_cast<void*>(
                                 GetProcAddress(library, "QltMsiBackupSvr")))
                           : nullptr;
    if (!restore) {
        if (library)
            FreeLibrary(library);
        std::fprintf(stderr, "qltmsi restore: cannot run the backup server %s\n",
                     toUtf8(server).c_str());
        return kExitFailure;
    }
    std::string text = entry;
    restore(nullptr, nullptr, text.data(), 10);
    FreeLibrary(library);
    if (undoEntryExists(entry)) {
        std::fprintf(stderr,
                     "qltmsi restore: the restore of entry '%s' stopped; the package and the "
                     "entry are unchanged\n",
                     entry.c_str());
        return kExitFailure;
    }
    std::printf("restored entry %s\n", entry.c_str());
    return kExitOk;
}

}  // namespace

QLTMSI_COMMAND("restore", "restore an installed package from an undo entry", kHelp, run);

}  // namespace qltmsi
