// qltmsi db: a package's tables as idt text. 'dump' shows them to a person,
// in the terminal's encoding; 'export' writes idt files in the package's own
// code page for tools that import them. Both go through the Installer's own
// export, so that they read packages the same way on every system.
#include <windows.h>
#include <msiquery.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli_text.h"
#include "command_table.h"
#include "host/host.h"
#include "install/package_contents.h"

namespace qltmsi {

namespace {

constexpr std::string_view kHelp =
    "usage: qltmsi db dump PACKAGE [TABLE]...\n"
    "       qltmsi db export PACKAGE DIR [TABLE]...\n"
    "\n"
    "dump prints the named tables of PACKAGE (all of them, after the summary\n"
    "information and the code page, when none is named) as idt text, decoded\n"
    "from the package's code page into the terminal's encoding.\n"
    "export writes the same tables as idt files into DIR (made when missing),\n"
    "one TABLE.idt each, in the package's code page, as the Installer's export\n"
    "writes them, for tools that import them (_SummaryInformation.idt and\n"
    "_ForceCodepage.idt among them); each file appears only once complete.\n"
    "PACKAGE and DIR are Windows paths or, on POSIX hosts, native paths.\n"
    "Exit codes: 0 done; 1 the package or a table cannot be read or written;\n"
    "2 usage.\n"
    "\n"
    "examples:\n"
    "  qltmsi db dump 'C:\\windows\\Installer\\1a2b3c.msi' File Media\n"
    "  qltmsi db export 'C:\\windows\\Installer\\1a2b3c.msi' tables\n";

constexpr std::string_view kUsage =
    "usage: qltmsi db dump PACKAGE [TABLE]...\n"
    "       qltmsi db export PACKAGE DIR [TABLE]...\n";

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

// One table's idt bytes as the Installer exports them, in the package's
// code page.
std::optional<std::string> exportedBytes(MSIHANDLE database, const ExportFolder& folder,
                                         const WideString& table, UINT* error) {
    const WideString fileName = TEXT("table.idt");
    std::string bytes;
    *error = MsiDatabaseExportW(database, table.c_str(), folder.path().c_str(), fileName.c_str());
    if (*error != ERROR_SUCCESS || !takeFile(folder.path() + fileName, &bytes))
        return std::nullopt;
    return bytes;
}

// The number _ForceCodepage's idt text names ("\r\n\r\n1252\t_ForceCodepage").
std::optional<UINT> codePageOf(const std::string& forceCodepage) {
    size_t at = forceCodepage.find_first_not_of("\r\n");
    if (at == std::string::npos || forceCodepage[at] < '0' || forceCodepage[at] > '9')
        return std::nullopt;
    UINT number = 0;
    for (; at < forceCodepage.size() && forceCodepage[at] >= '0' && forceCodepage[at] <= '9'; ++at) {
        number = number * 10 + UINT(forceCodepage[at] - '0');
        if (number > 65535)
            return std::nullopt;
    }
    return number;
}

// Bytes in the package's code page as wide text; a neutral package's text
// is in the system's ANSI code page, as the Installer writes it.
std::optional<WideString> decoded(const std::string& bytes, UINT codePage) {
    if (bytes.empty())
        return WideString();
    const UINT from = codePage == 0 ? CP_ACP : codePage;
    const int length = MultiByteToWideChar(from, 0, bytes.data(), int(bytes.size()), nullptr, 0);
    if (length <= 0)
        return std::nullopt;
    WideString text(size_t(length), WCHAR(0));
    if (MultiByteToWideChar(from, 0, bytes.data(), int(bytes.size()), text.data(), length) !=
        length)
        return std::nullopt;
    return text;
}

struct OpenedPackage {
    MsiHandle database;
    std::vector<WideString> tables;
};

bool openPackage(const std::string& typedPath, const std::vector<std::string>& tables,
                 OpenedPackage* package) {
    WideString path = windowsPathOf(typedPath);
    if (UINT r = MsiOpenDatabaseW(path.c_str(), MSIDBOPEN_READONLY, package->database.Receive())) {
        std::fprintf(stderr, "qltmsi db: cannot open %s (error %u)\n", typedPath.c_str(), r);
        return false;
    }
    for (const auto& table : tables)
        package->tables.push_back(toWide(table));
    if (package->tables.empty())
        package->tables = tableNames(package->database.get());
    return true;
}

int cannotExport(const WideString& table, UINT error) {
    std::fprintf(stderr, "qltmsi db: cannot export %s (error %u)\n", toUtf8(table).c_str(), error);
    return kExitFailure;
}

int dump(const std::string& typedPath, const std::vector<std::string>& tables) {
    OpenedPackage package;
    if (!openPackage(typedPath, tables, &package))
        return kExitFailure;
    ExportFolder folder;
    if (folder.path().empty()) {
        std::fputs("qltmsi db: cannot make a temporary folder\n", stderr);
        return kExitFailure;
    }
    const MSIHANDLE database = package.database.get();
    UINT error = 0;
    const WideString forceCodepage = TEXT("_ForceCodepage");
    auto codePageText = exportedBytes(database, folder, forceCodepage, &error);
    std::optional<UINT> codePage = codePageText ? codePageOf(*codePageText) : std::nullopt;
    if (!codePage)
        return cannotExport(forceCodepage, error);
    for (const auto& table : package.tables) {
        auto bytes = exportedBytes(database, folder, table, &error);
        if (!bytes)
            return cannotExport(table, error);
        auto text = decoded(*bytes, *codePage);
        if (!text) {
            std::fprintf(stderr,
                         "qltmsi db: %s is in code page %u, which this system cannot convert; "
                         "'qltmsi db export' writes its bytes as they are\n",
                         toUtf8(table).c_str(), *codePage);
            return kExitFailure;
        }
        if (!host::writeText(stdout, *text)) {
            std::fputs("qltmsi db: cannot write to standard output\n", stderr);
            return kExitFailure;
        }
    }
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
}

// A folder that exists, made when it does not.
bool ensureFolder(const WideString& folder) {
    DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return CreateDirectoryW(folder.c_str(), nullptr) != FALSE;
}

// A file named by GetTempFileNameW in the target folder, deleted unless it
// was moved to its final name.
class PendingFile {
  public:
    explicit PendingFile(const WideString& folder) {
        WCHAR name[MAX_PATH + 1];
        if (GetTempFileNameW(folder.c_str(), TEXT("qdb"), 0, name))
            path_ = name;
    }
    ~PendingFile() {
        if (!path_.empty())
            DeleteFileW(path_.c_str());
    }
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;
    const WideString& path() const { return path_; }
    bool moveTo(const WideString& target) {
        if (!MoveFileExW(path_.c_str(), target.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return false;
        path_.clear();
        return true;
    }

  private:
    WideString path_;
};

int exportTables(const std::string& typedPath, const std::string& typedFolder,
                 const std::vector<std::string>& tables) {
    OpenedPackage package;
    if (!openPackage(typedPath, tables, &package))
        return kExitFailure;
    WideString folder = windowsPathOf(typedFolder);
    while (folder.size() > 3 && folder.back() == TEXT('\\'))
        folder.pop_back();
    if (!ensureFolder(folder)) {
        std::fprintf(stderr, "qltmsi db: %s is not a folder and cannot be made one\n",
                     typedFolder.c_str());
        return kExitFailure;
    }
    const WideString prefix = folder.back() == TEXT('\\') ? folder : folder + TEXT("\\");
    for (const auto& table : package.tables) {
        PendingFile pending(folder);
        if (pending.path().empty()) {
            std::fprintf(stderr, "qltmsi db: cannot write into %s\n", typedFolder.c_str());
            return kExitFailure;
        }
        const WideString pendingName = fileNameOf(pending.path());
        UINT error =
            MsiDatabaseExportW(package.database.get(), table.c_str(), folder.c_str(),
                               pendingName.c_str());
        if (error != ERROR_SUCCESS)
            return cannotExport(table, error);
        const WideString target = prefix + table + TEXT(".idt");
        if (!pending.moveTo(target)) {
            std::fprintf(stderr, "qltmsi db: cannot write %s (error %lu)\n", toUtf8(target).c_str(),
                         static_cast<unsigned long>(GetLastError()));
            return kExitFailure;
        }
    }
    return kExitOk;
}

int run(const std::vector<std::string>& args) {
    if (args.size() >= 2 && args[0] == "dump")
        return dump(args[1], std::vector<std::string>(args.begin() + 2, args.end()));
    if (args.size() >= 3 && args[0] == "export")
        return exportTables(args[1], args[2],
                            std::vector<std::string>(args.begin() + 3, args.end()));
    std::fwrite(kUsage.data(), 1, kUsage.size(), stderr);
    return kExitUsage;
}

}  // namespace

QLTMSI_COMMAND("db", "show or export a package's tables (db dump, db export)", kHelp, run);

}  // namespace qltmsi
