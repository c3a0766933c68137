// qltmsi restore ENTRY: puts an installed package back from one undo entry,
// through the registered backup server's restore entry point, and says
// whether the restore went through (the entry point itself reports nothing).
#include <windows.h>

#include <cstdio>
#include <string>

#include "cli_text.h"
#include "command_table.h"

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

constexpr const char16_t* kServerKey = u"Software\\Brambleway\\Quillet";
constexpr const char16_t* kUndoKey = u"Software\\Brambleway\\Quillet\\MsiRegUndo\\";

using EntryPoint = void(CALLBACK*)(HWND, HINSTANCE, LPSTR, int);

bool entryExists(const std::string& entry) {
    std::u16string path = std::u16string(kUndoKey) + toWide(entry);
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

std::u16string registeredServer() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kServerKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return {};
    WCHAR path[MAX_PATH + 1] = {};
    DWORD size = MAX_PATH * sizeof(WCHAR);
    DWORD type = 0;
    LONG result = RegQueryValueExW(key, u"MsiBackupServer", nullptr, &type,
                                   reinterpret_cast<LPBYTE>(path), &size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS && type == REG_SZ ? std::u16string(path) : std::u16string();
}

int run(const std::vector<std::string>& args) {
    if (args.size() != 1) {
        std::fputs("usage: qltmsi restore ENTRY\n", stderr);
        return kExitUsage;
    }
    const std::string& entry = args[0];
    if (entry.empty() || entry.find('\\') != std::string::npos || !entryExists(entry)) {
        std::fprintf(stderr, "qltmsi restore: no undo entry '%s'\n", entry.c_str());
        return kExitFailure;
    }
    std::u16string server = registeredServer();
    if (server.empty()) {
        std::fputs("qltmsi restore: no backup server is registered\n", stderr);
        return kExitFailure;
    }
    HMODULE library = LoadLibraryW(server.c_str());
    auto restore = library ? reinterpret_cast<EntryPoint>(reinterpret_cast<void*>(
                                 GetProcAddress(library, "QltMsiBackupSvr")))
                           : nullptr;
    if (!restore) {
        std::fprintf(stderr, "qltmsi restore: cannot run the backup server %s\n",
                     toUtf8(server).c_str());
        return kExitFailure;
    }
    std::string text = entry;
    restore(nullptr, nullptr, text.data(), 10);
    FreeLibrary(library);
    if (entryExists(entry)) {
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
