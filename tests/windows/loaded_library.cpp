// Loads qltmsi32.dll once from the test program's directory.
#include "loaded_library.h"

#include <cwchar>

namespace qltmsi_windows_test {

const ExportEntry kExports[11] = {
    {"QLTMsiOpen", 1},           {"QLTMsiClose", 2},           {"QLTMsiOpenDatabase", 3},
    {"QLTMsiCloseDatabase", 4},  {"QLTMsiUpdateFile", 5},      {"QLTMsiCommitChanges", 6},
    {"QLTMsiGetBackupString", 7}, {"QLTMsiGetBackupStringA", 8}, {"QLTMsiGetLastErrorStrA", 9},
    {"QltMsiBackupSvr", 10},     {"DefragMsiFile", 11},
};

const wchar_t *LibraryPath() {
    static wchar_t path[MAX_PATH + 1] = {};
    if (path[0] == 0) {
        DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
        while (length > 0 && path[length - 1] != L'\\' && path[length - 1] != L'/') --length;
        path[length] = 0;
        wcsncat(path, L"qltmsi32.dll", MAX_PATH - length);
    }
    return path;
}

template <typename Fn>
static void Bind(HMODULE module, const char *name, Fn &slot) {
    slot = reinterpret_cast<Fn>(reinterpret_cast<void *>(GetProcAddress(module, name)));
}

const LoadedLibrary &Library() {
    static const LoadedLibrary library = [] {
        LoadedLibrary l;
        l.module = LoadLibraryW(LibraryPath());
        if (l.module == nullptr) return l;
        Bind(l.module, "QLTMsiOpen", l.open);
        Bind(l.module, "QLTMsiClose", l.close);
        Bind(l.module, "QLTMsiOpenDatabase", l.openDatabase);
        Bind(l.module, "QLTMsiCloseDatabase", l.closeDatabase);
        Bind(l.module, "QLTMsiUpdateFile", l.updateFile);
        Bind(l.module, "QLTMsiCommitChanges", l.commitChanges);
        Bind(l.module, "QLTMsiGetBackupString", l.getBackupString);
        Bind(l.module, "QLTMsiGetBackupStringA", l.getBackupStringA);
        Bind(l.module, "QLTMsiGetLastErrorStrA", l.getLastErrorStrA);
        Bind(l.module, "QltMsiBackupSvr", l.backupSvr);
        Bind(l.module, "DefragMsiFile", l.defrag);
        return l;
    }();
    return library;
}

}  // namespace qltmsi_windows_test
