// End to end on Linux: a wixl-made product installed by `qltmsi install` is
// patched through the exports, committed with an undo record, and restored by
// running its backup string through the runner and through rundll32. The
// results are read back with msitools and cabextract, not with our engine
// alone.
#include "library/backup/process_runner.h"
#include "library/update/installed_products.h"

#include <msiquery.h>
#include <winreg.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <set>

namespace update_test {
namespace {

using backup_test::Finished;
using backup_test::RunProgram;
using Dump = std::map<std::string, std::string>;

constexpr char16_t kUndoKey[] = u"Software\\Brambleway\\Quillet\\MsiRegUndo";
constexpr char16_t kServerKey[] = u"Software\\Brambleway\\Quillet";

std::optional<std::string> RegText(const std::u16string& key, const char16_t* name) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle) != 0)
        return std::nullopt;
    WCHAR value[400] = {};
    DWORD size = sizeof value - 2, type = 0;
    const LONG result =
        RegQueryValueExW(handle, name, nullptr, &type, reinterpret_cast<LPBYTE>(value), &size);
    RegCloseKey(handle);
    if (result != 0 || type != REG_SZ)
        return std::nullopt;
    return Narrow(value);
}

std::optional<DWORD> RegNumber(const std::u16string& key, const char16_t* name) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle) != 0)
        return std::nullopt;
    DWORD value = 0, size = 4, type = 0;
    const LONG result =
        RegQueryValueExW(handle, name, nullptr, &type, reinterpret_cast<LPBYTE>(&value), &size);
    RegCloseKey(handle);
    if (result != 0 || type != REG_DWORD)
        return std::nullopt;
    return value;
}

std::u16string EntryKey(DWORD entry) {
    char name[16];
    snprintf(name, sizeof name, "%x", static_cast<unsigned>(entry));
    return std::u16string(kUndoKey) + u"\\" + Wide(name);
}

bool EntryExists(DWORD entry) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, EntryKey(entry).c_str(), 0, KEY_READ, &handle) != 0)
        return false;
    RegCloseKey(handle);
    return true;
}

DWORD CurKey() {
    return RegNumber(kUndoKey, u"CurKey").value_or(0);
}

std::string Quoted(const fs::path& path) {
    return "'" + path.string() + "'";
}

// Every file under a folder, by its relative path, with its bytes.
Dump FilesUnder(const fs::path& folder) {
    Dump files;
    if (!fs::exists(folder))
        return files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file())
            files[fs::relative(entry.path(), folder).string()] =
                winsys_test::readFile(entry.path().string());
    return files;
}

// The tables and streams of a package as msidump writes them.
Dump MsiDump(const fs::path& package) {
    static int serial = 0;
    const fs::path folder = fs::path(Prefix().root()) / ("dump" + std::to_string(++serial));
    fs::create_directories(folder);
    EXPECT_EQ(Run("msidump -t -s -d " + Quoted(folder) + " " + Quoted(package) + " >/dev/null"), 0);
    Dump dump = FilesUnder(folder);
    fs::remove_all(folder);
    EXPECT_FALSE(dump.empty());
    return dump;
}

// Lines of a command's standard output.
std::vector<std::string> OutputLines(const std::string& command) {
    const fs::path out = fs::path(Prefix().root()) / "command.out";
    std::vector<std::string> lines;
    if (Run(command + " >" + Quoted(out)) != 0)
        return {"<failed: " + command + ">"};
    std::ifstream in(out);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    fs::remove(out);
    return lines;
}

std::string PackageCode(const fs::path& package) {
    MsiHandle summary;
    if (MsiGetSummaryInformationW(0, Wide(WindowsPathOf(package.string())).c_str(), 0,
                                  summary.Receive()) != ERROR_SUCCESS)
        return "<none>";
    WCHAR text[64] = {};
    DWORD count = 64;
    UINT type = 0;
    if (MsiSummaryInfoGetPropertyW(summary.get(), 9, &type, nullptr, nullptr, text, &count) !=
        ERROR_SUCCESS)
        return "<none>";
    return Narrow(text);
}

struct Commit {
    DWORD status = 0;
    std::string message;
    std::string backupString;
    DWORD entry = 0;
};

class EndToEnd : public InstalledProductTest {
  protected:
    // A copy of the four-file product under `code` ("{...}"), installed.
    void InstallTrio(const std::string& code) {
        product_ = code;
        bare_ = code.substr(1, code.size() - 2);
        const fs::path built = BuildPackage("trio", "trio-" + bare_,
                                            {{"TRIOCODE", bare_},
                                             {"TRIOCOMPONENT", "B" + bare_.substr(1)}});
        ASSERT_EQ(Install(built), 0);
        installed_ = LocalPackage(code);
        ASSERT_TRUE(fs::exists(installed_)) << installed_;
    }
    std::string Installed(const std::string& name) const {
        return "C:\\Program Files\\Trio " + bare_ + "\\" + name;
    }
    // A new file for `name` with the given bytes; its Windows path.
    std::string NewFile(const std::string& name, const std::string& bytes) {
        const fs::path folder = WorkDirectory() / ("new-" + bare_ + "-" + std::to_string(++files_));
        fs::create_directories(folder);
        winsys_test::writeFile((folder / name).string(), bytes);
        newBytes_[name] = bytes;
        return WindowsPathOf((folder / name).string());
    }
    fs::path BackupFolder(const std::string& name) {
        const fs::path folder = fs::path(Prefix().driveC()) / "backups" / (bare_ + "-" + name);
        fs::create_directories(folder);
        return folder;
    }
    Commit CommitWith(const fs::path& backupFolder) {
        Commit commit;
        const std::string windowsFolder = WindowsPathOf(backupFolder.string());
        commit.status = QLTMsiCommitChanges(handle_, Wide(windowsFolder).c_str());
        char text[400] = {};
        QLTMSI_DWORD size = sizeof text;
        if (QLTMsiGetBackupStringA(handle_, text, &size) == QLTMSI_SUCCESS)
            commit.backupString = text;
        commit.entry = CurKey();
        commit.message = LastMessage();
        // The open holds the package against other writers, restores among
        // them, until its close.
        QLTMsiCloseDatabase(handle_);
        return commit;
    }
    std::string CabCacheProperty() {
        MsiHandle database;
        if (MsiOpenDatabaseW(Wide(WindowsPathOf(installed_.string())).c_str(), MSIDBOPEN_READONLY,
                             database.Receive()) != ERROR_SUCCESS)
            return "<no package>";
        auto rows = Rows(database.get(),
                         "SELECT `Value` FROM `Property` WHERE `Property`='QuilletCabCache'");
        return rows.empty() ? "" : rows[0][0];
    }
    // The files of the cabinet held by a cab cache, by name.
    Dump CabinetOfCabCache(const fs::path& cache) {
        const fs::path folder = fs::path(Prefix().root()) / ("cab-" + bare_);
        fs::remove_all(folder);
        fs::create_directories(folder / "files");
        const fs::path cabinet = folder / "QuilletCab.cab";
        EXPECT_EQ(update_test::Run("msiinfo extract " + Quoted(cache) + " QuilletCab >" + Quoted(cabinet)), 0);
        EXPECT_EQ(update_test::Run("cabextract -q -t " + Quoted(cabinet) + " >/dev/null"), 0);
        EXPECT_EQ(update_test::Run("cabextract -q -d " + Quoted(folder / "files") + " " + Quoted(cabinet) +
                      " >/dev/null"),
                  0);
        Dump files = FilesUnder(folder / "files");
        fs::remove_all(folder);
        return files;
    }
    // The backup string split as Windows splits a command line into its
    // arguments, given to rundll32 without a shell.
    Finished RunThroughRundll32(const std::string& backupString) {
        const size_t first = backupString.find(' '), last = backupString.rfind(' ');
        return RunProgram({RUNDLL32, backupString.substr(first + 1, last - first - 1),
                           backupString.substr(last + 1)},
                          Scratch());
    }
    Finished RunThroughRunner(const std::string& backupString) {
        return RunProgram({QLTMSI_PROGRAM, "run", backupString}, Scratch());
    }
    std::string Scratch() {
        const fs::path folder = fs::path(Prefix().root()) / "proc";
        fs::create_directories(folder);
        return folder.string();
    }

    std::string product_, bare_;
    fs::path installed_;
    std::map<std::string, std::string> newBytes_;
    int files_ = 0;
};

TEST_F(EndToEnd, CommitWritesTablesCabCacheUndoRecordAndBackupString) {
    InstallTrio("{3C5E7A90-1B2D-4F60-8A1C-2E3F40506071}");
    MsiHandle before;
    ASSERT_EQ(MsiOpenDatabaseW(Wide(WindowsPathOf(installed_.string())).c_str(),
                               MSIDBOPEN_READONLY, before.Receive()),
              0u);
    int largestLastSequence = 0, largestDiskId = 0;
    for (const auto& row : Rows(before.get(), "SELECT `DiskId`, `LastSequence` FROM `Media`")) {
        largestDiskId = std::max(largestDiskId, std::stoi(row[0]));
        largestLastSequence = std::max(largestLastSequence, std::stoi(row[1]));
    }
    const auto untouched = Rows(before.get(), "SELECT * FROM `File` WHERE `File`='plain'");
    before.Close();
    const std::string previousCabCache = CabCacheProperty();
    const DWORD curKeyBefore = CurKey();

    ASSERT_EQ(Open(product_), QLTMSI_SUCCESS) << LastMessage();
    const std::string versioned = winsys_test::readFile(kWineDll);
    const std::string texts[] = {"readme, second edition\n", std::string(50000, 'n') + "\n"};
    ASSERT_EQ(Update(Installed("readme.txt"), NewFile("readme.txt", texts[0]), "readme.txt"), 0u)
        << LastMessage();
    ASSERT_EQ(Update(Installed("notes.txt"), NewFile("notes.txt", texts[1]), "notes.txt"), 0u)
        << LastMessage();
    const std::string dllPath = NewFile("main.dll", versioned);
    ASSERT_EQ(Update(Installed("main.dll"), dllPath, "main.dll"), 0u) << LastMessage();
    const fs::path backup = BackupFolder("single");
    const Commit commit = CommitWith(backup);
    ASSERT_EQ(commit.status, QLTMSI_SUCCESS) << commit.message;

    // File rows: new sizes, versions and languages, the compressed bit, and
    // consecutive sequence numbers from the largest LastSequence plus 100.
    MsiHandle after;
    ASSERT_EQ(MsiOpenDatabaseW(Wide(WindowsPathOf(installed_.string())).c_str(),
                               MSIDBOPEN_READONLY, after.Receive()),
              0u);
    WCHAR version[64] = {}, language[64] = {};
    DWORD versionCount = 64, languageCount = 64;
    ASSERT_EQ(MsiGetFileVersionW(Wide(dllPath).c_str(), version, &versionCount, language,
                                 &languageCount),
              0u);
    const std::map<std::string, std::vector<std::string>> expected = {
        {"readme", {std::to_string(texts[0].size()), "", ""}},
        {"notes", {std::to_string(texts[1].size()), "", ""}},
        {"main.dll", {std::to_string(versioned.size()), Narrow(version), Narrow(language)}}};
    std::set<int> sequences;
    for (const auto& [key, values] : expected) {
        auto rows = Rows(after.get(),
                         "SELECT `FileSize`, `Version`, `Language`, `Attributes`, `Sequence` "
                         "FROM `File` WHERE `File`=?",
                         {key});
        ASSERT_EQ(rows.size(), 1u) << key;
        EXPECT_EQ(std::vector<std::string>(rows[0].begin(), rows[0].begin() + 3), values) << key;
        EXPECT_EQ(std::stoi(rows[0][3]) & 0x4000, 0x4000) << key;
        sequences.insert(std::stoi(rows[0][4]));
    }
    const int first = largestLastSequence + 100;
    EXPECT_EQ(sequences, (std::set<int>{first, first + 1, first + 2}));
    EXPECT_EQ(Rows(after.get(), "SELECT * FROM `File` WHERE `File`='plain'"), untouched);
    EXPECT_EQ(Rows(after.get(),
                   "SELECT `LastSequence`, `DiskPrompt`, `Cabinet`, `Source` FROM `Media` "
                   "WHERE `DiskId`=?",
                   {std::to_string(largestDiskId + 1)}),
              (std::vector<std::vector<std::string>>{
                  {std::to_string(first + 3), "Quillet", "#QuilletCab", "QuilletCabCache"}}));
    after.Close();

    // The cab cache beside the package: one stream, a sound cabinet holding
    // exactly the three files under their keys with their new bytes.
    const std::string cabCache = CabCacheProperty();
    const fs::path cabCacheFile = Native(Wide(cabCache));
    EXPECT_EQ(cabCacheFile.parent_path(), installed_.parent_path());
    EXPECT_TRUE(std::regex_match(cabCacheFile.filename().string(),
                                 std::regex(installed_.stem().string() + R"(\.\w{4}\.msi)")))
        << cabCacheFile;
    std::vector<std::string> streams = OutputLines("msiinfo streams " + Quoted(cabCacheFile));
    std::erase_if(streams, [](const std::string& name) {
        return name.find("SummaryInformation") != std::string::npos;
    });
    EXPECT_EQ(streams, std::vector<std::string>{"QuilletCab"});
    EXPECT_EQ(CabinetOfCabCache(cabCacheFile),
              (Dump{{"main.dll", versioned}, {"notes", texts[1]}, {"readme", texts[0]}}));
    if (!previousCabCache.empty()) {
        EXPECT_FALSE(fs::exists(Native(Wide(previousCabCache))));
    }

    // The undo record: CurKey advanced, the entry names the product, the
    // reverse transform and (when there was one) the previous cab cache's copy
    // in the backup folder.
    EXPECT_EQ(commit.entry, curKeyBefore + 1);
    const std::u16string entry = EntryKey(commit.entry);
    EXPECT_EQ(RegText(entry, u"ProductGuid"), product_);
    EXPECT_EQ(RegText(entry, u"PackageGuid"), PackageCode(installed_));
    const auto transform = RegText(entry, u"RevTransform");
    ASSERT_TRUE(transform);
    EXPECT_EQ(Native(Wide(*transform)).parent_path(), backup);
    EXPECT_TRUE(fs::is_regular_file(Native(Wide(*transform))));
    std::size_t expectedFiles = 1;
    if (const auto cabCopy = RegText(entry, u"QuilletCab")) {
        EXPECT_EQ(Native(Wide(*cabCopy)).parent_path(), backup);
        EXPECT_TRUE(fs::is_regular_file(Native(Wide(*cabCopy))));
        EXPECT_EQ(RegNumber(entry, u"CabBackupIsMsiFile"), 1u);
        ++expectedFiles;
    } else {
        EXPECT_TRUE(previousCabCache.empty());
        EXPECT_FALSE(RegNumber(entry, u"CabBackupIsMsiFile"));
    }
    EXPECT_EQ(FilesUnder(backup).size(), expectedFiles);

    // The backup server in the Windows folder, registered, and the string
    // that runs it.
    const auto server = RegText(kServerKey, u"MsiBackupServer");
    ASSERT_TRUE(server);
    EXPECT_TRUE(std::regex_match(*server, std::regex(R"(C:\\windows\\qltmsi32\.\w{4}\.dll)",
                                                     std::regex::icase)))
        << *server;
    EXPECT_TRUE(fs::is_regular_file(Native(Wide(*server))));
    char entryName[16];
    snprintf(entryName, sizeof entryName, "%x", static_cast<unsigned>(commit.entry));
    EXPECT_EQ(commit.backupString,
              "rundll32 " + *server + ",QltMsiBackupSvr " + entryName + "\n");
}

TEST_F(EndToEnd, SecondSessionCarriesFilesOverAndBothRestoreInReverseOrder) {
    InstallTrio("{3C5E7A90-1B2D-4F60-8A1C-2E3F40506072}");
    const Dump original = MsiDump(installed_);
    const std::string originalCabCache = CabCacheProperty();

    ASSERT_EQ(Open(product_), QLTMSI_SUCCESS) << LastMessage();
    ASSERT_EQ(Update(Installed("readme.txt"), NewFile("readme.txt", "first session\n"),
                     "readme.txt"),
              0u);
    ASSERT_EQ(Update(Installed("notes.txt"), NewFile("notes.txt", "notes, first session\n"),
                     "notes.txt"),
              0u);
    const Commit first = CommitWith(BackupFolder("first"));
    ASSERT_EQ(first.status, QLTMSI_SUCCESS) << first.message;
    ASSERT_FALSE(first.backupString.empty());
    QLTMsiClose(handle_);
    const Dump afterFirst = MsiDump(installed_);
    const std::string firstCabCache = CabCacheProperty();
    ASSERT_NE(firstCabCache, "");

    handle_ = QLTMsiOpen();
    ASSERT_EQ(Open(product_), QLTMSI_SUCCESS) << LastMessage();
    ASSERT_EQ(Update(Installed("plain.txt"), NewFile("plain.txt", "plain, second session\n"),
                     "plain.txt"),
              0u);
    const fs::path secondBackup = BackupFolder("second");
    const Commit second = CommitWith(secondBackup);
    ASSERT_EQ(second.status, QLTMSI_SUCCESS) << second.message;
    ASSERT_EQ(second.entry, first.entry + 1);
    const std::string secondCabCache = CabCacheProperty();
    ASSERT_NE(secondCabCache, firstCabCache);

    // The first session's files travel into the second cabinet; the first
    // cab cache lives on only as the copy in the second backup folder.
    EXPECT_EQ(CabinetOfCabCache(Native(Wide(secondCabCache))),
              (Dump{{"notes", "notes, first session\n"},
                    {"plain", "plain, second session\n"},
                    {"readme", "first session\n"}}));
    EXPECT_FALSE(fs::exists(Native(Wide(firstCabCache))));
    const auto cabCopy = RegText(EntryKey(second.entry), u"QuilletCab");
    ASSERT_TRUE(cabCopy);
    EXPECT_EQ(Native(Wide(*cabCopy)).parent_path(), secondBackup);

    // The second commit undone through rundll32, called as execv would.
    Finished direct = RunThroughRundll32(second.backupString);
    EXPECT_EQ(direct.status, 0) << direct.err;
    EXPECT_EQ(MsiDump(installed_), afterFirst);
    EXPECT_EQ(CabCacheProperty(), firstCabCache);
    EXPECT_TRUE(fs::is_regular_file(Native(Wide(firstCabCache))));
    EXPECT_FALSE(fs::exists(Native(Wide(secondCabCache))));
    EXPECT_FALSE(EntryExists(second.entry));
    RunThroughRundll32(second.backupString);
    EXPECT_EQ(MsiDump(installed_), afterFirst);
    EXPECT_TRUE(fs::is_regular_file(Native(Wide(firstCabCache))));

    // Then the first through the runner: the original package is back.
    Finished runner = RunThroughRunner(first.backupString);
    EXPECT_EQ(runner.status, 0) << runner.err;
    EXPECT_EQ(MsiDump(installed_), original);
    EXPECT_EQ(CabCacheProperty(), originalCabCache);
    if (!originalCabCache.empty()) {
        EXPECT_TRUE(fs::is_regular_file(Native(Wide(originalCabCache))));
    }
    EXPECT_FALSE(fs::exists(Native(Wide(firstCabCache))));
    EXPECT_FALSE(EntryExists(first.entry));
    RunThroughRunner(first.backupString);
    EXPECT_EQ(MsiDump(installed_), original);
}

TEST_F(EndToEnd, RoundTripThroughEitherWayLeavesThePackageAsBefore) {
    InstallTrio("{3C5E7A90-1B2D-4F60-8A1C-2E3F40506073}");
    for (const bool throughRundll32 : {false, true}) {
        SCOPED_TRACE(throughRundll32 ? "rundll32" : "qltmsi run");
        const Dump before = MsiDump(installed_);
        const std::string cabCacheBefore = CabCacheProperty();
        if (handle_ == -1)
            handle_ = QLTMsiOpen();
        ASSERT_EQ(Open(product_), QLTMSI_SUCCESS) << LastMessage();
        ASSERT_EQ(Update(Installed("main.dll"), NewFile("main.dll", "not a library\n"),
                         "main.dll"),
                  0u);
        const Commit commit = CommitWith(BackupFolder(throughRundll32 ? "b" : "a"));
        ASSERT_EQ(commit.status, QLTMSI_SUCCESS) << commit.message;
        QLTMsiClose(handle_);
        handle_ = -1;
        EXPECT_EQ(TemporaryFiles(), std::vector<std::string>{});
        const std::string committedCabCache = CabCacheProperty();
        ASSERT_NE(MsiDump(installed_), before);

        const Finished run = throughRundll32 ? RunThroughRundll32(commit.backupString)
                                             : RunThroughRunner(commit.backupString);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(MsiDump(installed_), before);
        EXPECT_FALSE(fs::exists(Native(Wide(committedCabCache))));
        EXPECT_EQ(CabCacheProperty(), cabCacheBefore);
        if (!cabCacheBefore.empty()) {
            EXPECT_TRUE(fs::is_regular_file(Native(Wide(cabCacheBefore))));
        }
        EXPECT_FALSE(EntryExists(commit.entry));
        throughRundll32 ? RunThroughRundll32(commit.backupString)
                        : RunThroughRunner(commit.backupString);
        EXPECT_EQ(MsiDump(installed_), before);
    }
    handle_ = QLTMsiOpen();
}

// Removals commit: without an earlier cabinet no cab cache is made; with
// one, a removal alone keeps it, and a removal beside a replacement leaves
// the removed file out of the new cabinet. A file replaced and removed in
// one patch leaves no cabinet at all. Each commit's entry puts it back.
TEST_F(EndToEnd, RemovalsCommitAndTheirEntriesPutThemBack) {
    InstallTrio("{3C5E7A90-1B2D-4F60-8A1C-2E3F40506075}");
    const Dump original = MsiDump(installed_);
    ASSERT_EQ(CabCacheProperty(), "");
    auto session = [&](const std::string& name,
                       const std::vector<std::pair<std::string, std::string>>& changes) {
        if (handle_ == -1)
            handle_ = QLTMsiOpen();
        EXPECT_EQ(Open(product_), QLTMSI_SUCCESS) << LastMessage();
        for (const auto& [file, bytes] : changes) {
            const bool removal = bytes.empty();
            EXPECT_EQ(Update(Installed(file), removal ? std::nullopt
                                                      : std::optional(NewFile(file, bytes)),
                             file),
                      0u)
                << file << ": " << LastMessage();
        }
        Commit commit = CommitWith(BackupFolder(name));
        QLTMsiClose(handle_);
        handle_ = -1;
        EXPECT_EQ(commit.status, QLTMSI_SUCCESS) << name << ": " << commit.message;
        EXPECT_FALSE(commit.backupString.empty()) << name;
        EXPECT_EQ(TemporaryFiles(), std::vector<std::string>{}) << name;
        return commit;
    };
    auto fileKeys = [&] {
        std::set<std::string> keys;
        for (const auto& line : OutputLines("msiinfo export " + Quoted(installed_) + " File"))
            keys.insert(line.substr(0, line.find('\t')));
        return keys;
    };
    auto libraryMedia = [&] {
        const auto lines =
            OutputLines("(msiinfo export " + Quoted(installed_) + " Media | grep -c QuilletCab || true)");
        return lines.empty() ? std::string("<no output>") : lines.front();
    };
    auto restore = [&](const Commit& commit, const Dump& expected) {
        Finished run = RunThroughRunner(commit.backupString);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(MsiDump(installed_), expected);
        EXPECT_FALSE(EntryExists(commit.entry));
    };

    // No earlier cabinet: a removal alone, then a file replaced and removed.
    for (const auto& changes : {std::vector<std::pair<std::string, std::string>>{{"plain.txt", ""}},
                                {{"plain.txt", "plain, replaced\n"}, {"plain.txt", ""}}}) {
        const Commit commit = session("plain" + std::to_string(changes.size()), changes);
        EXPECT_EQ(fileKeys().count("plain"), 0u);
        EXPECT_EQ(CabCacheProperty(), "");
        EXPECT_EQ(libraryMedia(), "0");
        for (const auto& entry : fs::directory_iterator(installed_.parent_path()))
            EXPECT_TRUE(entry.path() == installed_ ||entry.path().filename().string().rfind(installed_.stem().string() + ".", 0) != 0)
                << "no cab cache beside the package: " << entry.path();
        restore(commit, original);
    }

    // An earlier cabinet holding readme and notes.
    const Commit first = session("first", {{"readme.txt", "readme, first\n"},
                                           {"notes.txt", "notes, first\n"}});
    const Dump afterFirst = MsiDump(installed_);
    const std::string firstCabCache = CabCacheProperty();
    const Dump firstCabinet = CabinetOfCabCache(Native(Wide(firstCabCache)));

    // A removal alone: the package goes on naming the same cab cache.
    const Commit removal = session("removal", {{"readme.txt", ""}});
    EXPECT_EQ(fileKeys().count("readme"), 0u);
    EXPECT_EQ(CabCacheProperty(), firstCabCache);
    EXPECT_EQ(CabinetOfCabCache(Native(Wide(firstCabCache))), firstCabinet);
    EXPECT_EQ(libraryMedia(), "1");
    restore(removal, afterFirst);
    EXPECT_EQ(CabinetOfCabCache(Native(Wide(firstCabCache))), firstCabinet);

    // A removal beside a replacement: the new cabinet holds what the rows
    // point at, and the first cab cache goes.
    const Commit mixed = session("mixed", {{"notes.txt", ""}, {"plain.txt", "plain, mixed\n"}});
    const std::string mixedCabCache = CabCacheProperty();
    EXPECT_NE(mixedCabCache, firstCabCache);
    EXPECT_EQ(CabinetOfCabCache(Native(Wide(mixedCabCache))),
              (Dump{{"plain", "plain, mixed\n"}, {"readme", "readme, first\n"}}));
    EXPECT_FALSE(fs::exists(Native(Wide(firstCabCache))));
    restore(mixed, afterFirst);
    EXPECT_TRUE(fs::exists(Native(Wide(firstCabCache))));
    EXPECT_FALSE(fs::exists(Native(Wide(mixedCabCache))));

    // Every file of the earlier cabinet removed: no cabinet, and the first
    // cab cache goes once nothing names it.
    const Commit emptied = session("emptied", {{"readme.txt", ""},
                                               {"notes.txt", ""},
                                               {"plain.txt", "plain, gone\n"},
                                               {"plain.txt", ""}});
    EXPECT_EQ(CabCacheProperty(), "");
    EXPECT_EQ(libraryMedia(), "0");
    EXPECT_FALSE(fs::exists(Native(Wide(firstCabCache))));
    restore(emptied, afterFirst);
    EXPECT_EQ(CabinetOfCabCache(Native(Wide(firstCabCache))), firstCabinet);

    restore(first, original);
}

TEST_F(EndToEnd, EntryWhosePackageCodeNoLongerMatchesChangesNothing) {
    InstallTrio("{3C5E7A90-1B2D-4F60-8A1C-2E3F40506074}");
    ASSERT_EQ(Open(product_), QLTMSI_SUCCESS) << LastMessage();
    ASSERT_EQ(Update(Installed("notes.txt"), NewFile("notes.txt", "other notes\n"), "notes.txt"),
              0u);
    const Commit commit = CommitWith(BackupFolder("mismatch"));
    ASSERT_EQ(commit.status, QLTMSI_SUCCESS) << commit.message;
    const Dump committed = MsiDump(installed_);
    const std::string cabCache = CabCacheProperty();

    HKEY handle = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, EntryKey(commit.entry).c_str(), 0, KEY_ALL_ACCESS,
                            &handle),
              0);
    const std::u16string other = u"{11111111-2222-3333-4444-555555555555}";
    RegSetValueExW(handle, u"PackageGuid", 0, REG_SZ, reinterpret_cast<const BYTE*>(other.c_str()),
                   static_cast<DWORD>((other.size() + 1) * 2));
    RegCloseKey(handle);

    // The entry point returns nothing, so the runner, like rundll32, cannot
    // report the refusal in its status: the package and entry tell.
    RunThroughRunner(commit.backupString);
    EXPECT_EQ(MsiDump(installed_), committed);
    EXPECT_TRUE(fs::is_regular_file(Native(Wide(cabCache))));
    EXPECT_TRUE(EntryExists(commit.entry));
}

}  // namespace
}  // namespace update_test
