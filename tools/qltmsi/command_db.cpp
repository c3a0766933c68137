// qltmsi db dump: a package's tables as idt text, so that a person can see
// what a patch changed. Written against the Installer's own export, so that
// it reads packages the same way on every system.
#include <windows.h>
#include <msiquery.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli_text.h"
#include "command_table.h"
#include "install/package_contents.h"

namespace qltmsi {

namespace {

constexpr std::string_view kHelp =
    "usage: qltmsi db dump PACKAGE [TABLE]...\n"
    "\n"
    "Prints the named tables of PACKAGE (all of them, after the summary\n"
    "information and the code page, when none is named) as idt text, in the\n"
    "package's code page. PACKAGE is a Windows path or, on POSIX hosts, a\n"
    "native path.\n"
    "Exit codes: 0 printed; 1 the package or a table cannot be read; 2 usage.\n"
    "\n"
    "example:\n"
    "  qltmsi db dump 'C:\\windows\\Installer\\1a2b3c.msi' File Media\n";

std::vector<WideString> tableNames(MSIHANDLE database) {
    std::vector<WideString> names = {TEXT("_SummaryInformation"), TEXT("_ForceCodepage")};
    MsiHandle view;
    if (MsiDatabaseOpenViewW(database, TEXT("SELECT `Name` FROM `_Tables`"), view.Receive()) !=
            ERROR_SUCCESS ||
        MsiViewExecute(view.get(), 0) != ERROR_SUCCESS)
        return names;
    for (;;) {
        MsiHandle record;
        if (MsiViewFetch(view.get(), record.Receive()) != ERROR_SUCCESS)
            break;
        WCHAR name[256] = TEXT("");
        DWORD length = 256;
        if (MsiRecordGetStringW(record.get(), 1, name, &length) == ERROR_SUCCESS)
            names.emplace_back(name, length);
    }
    return names;
}

// A folder of its own under the temporary folder, removed with what the
// export left in it.
class ExportFolder {
  public:
    ExportFolder() {
        WCHAR temp[MAX_PATH + 1], name[MAX_PATH + 1];
        if (!GetTempPathW(MAX_PATH + 1, temp) || !GetTempFileNameW(temp, TEXT("qdb"), 0, name))
            return;
        // The unique file name becomes the folder's name.
        DeleteFileW(name);
        if (CreateDirectoryW(name, nullptr))
            path_ = WideString(name) + TEXT("\\");
    }
    ~ExportFolder() {
        if (!path_.empty())
            RemoveDirectoryW(path_.c_str());
    }
    ExportFolder(const ExportFolder&) = delete;
    ExportFolder& operator=(const ExportFolder&) = delete;
    const WideString& path() const { return path_; }

  private:
    WideString path_;
};

// The exported file's bytes, and the file gone.
bool takeFile(const WideString& path, std::string* bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    char buffer[65536];
    DWORD got = 0;
    bool ok = true;
    while ((ok = ReadFile(file, buffer, sizeof buffer, &got, nullptr)) && got > 0)
        bytes->append(buffer, got);
    CloseHandle(file);
    DeleteFileW(path.c_str());
    return ok;
}

int dump(const std::string& typedPath, const std::vector<std::string>& tables) {
    WideString package = windowsPathOf(typedPath);
    MsiHandle database;
    if (UINT r = MsiOpenDatabaseW(package.c_str(), MSIDBOPEN_READONLY, database.Receive())) {
        std::fprintf(stderr, "qltmsi db: cannot open %s (error %u)\n", typedPath.c_str(), r);
        return kExitFailure;
    }
    std::vector<WideString> names;
    for (const auto& table : tables)
        names.push_back(toWide(table));
    if (names.empty())
        names = tableNames(database.get());
    ExportFolder folder;
    if (folder.path().empty()) {
        std::fputs("qltmsi db: cannot make a temporary folder\n", stderr);
        return kExitFailure;
    }
    const WideString fileName = TEXT("table.idt");
    for (const auto& name : names) {
        std::string text;
        UINT r = MsiDatabaseExportW(database.get(), name.c_str(), folder.path().c_str(),
                                    fileName.c_str());
        if (r != ERROR_SUCCESS || !takeFile(folder.path() + fileName, &text)) {
            std::fprintf(stderr, "qltmsi db: cannot export %s (error %u)\n", toUtf8(name).c_str(),
                         r);
            return kExitFailure;
        }
        std::fwrite(text.data(), 1, text.size(), stdout);
    }
    return kExitOk;
}

int run(const std::vector<std::string>& args) {
    if (args.size() < 2 || args[0] != "dump") {
        std::fputs("usage: qltmsi db dump PACKAGE [TABLE]...\n", stderr);
        return kExitUsage;
    }
    return dump(args[1], std::vector<std::string>(args.begin() + 2, args.end()));
}

}  // namespace

QLTMSI_COMMAND("db", "show a package's tables (db dump)", kHelp, run);

}  // namespace qltmsi
