// Two processes on one product at once, through the command line: two
// patches started together, and a restore racing a patch. Every trial must
// end in an order that could have happened one after the other (or with one
// side refused with its message); the package must name a cab cache holding
// every file its rows were changed for, and every undo entry left must
// restore the package it was made from.
#include "library/backup/process_runner.h"
#include "library/update/installed_products.h"

#include <msiquery.h>
#include <winreg.h>

#include <chrono>
#include <fstream>
#include <random>
#include <thread>

namespace update_test {
namespace {

using backup_test::Finished;
using backup_test::Started;
using backup_test::StartProgram;
using backup_test::Wait;
using Dump = std::map<std::string, std::string>;

constexpr char16_t kUndoKey[] = u"Software\\Brambleway\\Quillet\\MsiRegUndo";
constexpr unsigned kSeed = 20261207;
constexpr int kTrials = 20;
const std::vector<std::string> kFileKeys = {"readme", "notes", "plain"};
const std::map<std::string, std::string> kFileNames = {
    {"readme", "readme.txt"}, {"notes", "notes.txt"}, {"plain", "plain.txt"}};
const std::vector<std::string> kRefusals = {
    "Error opening msi database. The file may be in use.",
    "Error committing changes to msi database. The file \n\tmay be in use, or read-only."};

std::string Quoted(const fs::path& path) {
    return "'" + path.string() + "'";
}

DWORD CurKey() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUndoKey, 0, KEY_READ, &key) != 0)
        return 0;
    DWORD value = 0, size = 4, type = 0;
    RegQueryValueExW(key, u"CurKey", nullptr, &type, reinterpret_cast<LPBYTE>(&value), &size);
    RegCloseKey(key);
    return value;
}

std::string EntryName(DWORD entry) {
    char name[16];
    snprintf(name, sizeof name, "%x", static_cast<unsigned>(entry));
    return name;
}

bool EntryExists(DWORD entry) {
    HKEY key = nullptr;
    const std::u16string path = std::u16string(kUndoKey) + u"\\" + Wide(EntryName(entry));
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != 0)
        return false;
    RegCloseKey(key);
    return true;
}

Dump FilesUnder(const fs::path& folder) {
    Dump files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file())
            files[fs::relative(entry.path(), folder).string()] =
                winsys_test::readFile(entry.path().string());
    return files;
}

class ConcurrentPatches : public InstalledProductTest {
  protected:
    void InstallTrio(const std::string& code) {
        product_ = code;
        bare_ = code.substr(1, code.size() - 2);
        const fs::path built = BuildPackage("trio", "trio-" + bare_,
                                            {{"TRIOCODE", bare_},
                                             {"TRIOCOMPONENT", "B" + bare_.substr(1)}});
        ASSERT_EQ(Install(built), 0);
        installed_ = LocalPackage(code);
        ASSERT_TRUE(fs::exists(installed_));
        scratch_ = fs::path(Prefix().root()) / ("proc-" + bare_);
        fs::create_directories(scratch_);
    }

    // A `qltmsi patch` of one file with an undo record, started now.
    Started StartPatch(const std::string& key, const std::string& bytes) {
        const fs::path folder = WorkDirectory() / ("new-" + bare_ + "-" + std::to_string(++serial_));
        fs::create_directories(folder);
        const fs::path file = folder / kFileNames.at(key);
        winsys_test::writeFile(file.string(), bytes);
        const fs::path backup = fs::path(Prefix().driveC()) / "backups" / bare_;
        fs::create_directories(backup);
        const std::string installedPath =
            "C:\\Program Files\\Trio " + bare_ + "\\" + kFileNames.at(key);
        return StartProgram({QLTMSI_PROGRAM, "patch", "--product", product_, "--replace",
                             installedPath + "=" + file.string(), "--backup", backup.string()},
                            scratch_.string());
    }
    Started StartRestore(DWORD entry) {
        return StartProgram({QLTMSI_PROGRAM, "restore", EntryName(entry)}, scratch_.string());
    }

    // Exit 0, or a refusal that says why.
    static bool AppliedOrRefused(const Finished& finished, const char* what) {
        if (finished.status == 0)
            return true;
        for (const auto& refusal : kRefusals)
            if (finished.err.find(refusal) != std::string::npos)
                return false;
        ADD_FAILURE() << what << " failed without the library's message: " << finished.err;
        return false;
    }

    Dump Tables() {
        static int serial = 0;
        const fs::path folder = fs::path(Prefix().root()) / ("dump" + std::to_string(++serial));
        fs::create_directories(folder);
        EXPECT_EQ(update_test::Run("msidump -t -s -d " + Quoted(folder) + " " + Quoted(installed_) +
                      " >/dev/null"),
                  0);
        Dump dump = FilesUnder(folder);
        fs::remove_all(folder);
        return dump;
    }

    // The package is complete: the cab cache it names holds exactly the
    // files `expected` says were patched, with their bytes, and each of
    // their rows has the new size and a sequence number inside the library's
    // Media row.
    void ExpectComplete(const Dump& expected) {
        MsiHandle database;
        ASSERT_EQ(MsiOpenDatabaseW(Wide(WindowsPathOf(installed_.string())).c_str(),
                                   MSIDBOPEN_READONLY, database.Receive()),
                  0u);
        auto property = Rows(database.get(),
                             "SELECT `Value` FROM `Property` WHERE `Property`='QuilletCabCache'");
        if (expected.empty()) {
            EXPECT_TRUE(property.empty());
            return;
        }
        ASSERT_EQ(property.size(), 1u);
        auto media = Rows(database.get(),
                          "SELECT `LastSequence` FROM `Media` WHERE `DiskPrompt`='Quillet'");
        ASSERT_EQ(media.size(), 1u);
        const int lastSequence = std::stoi(media[0][0]);
        for (const auto& [key, bytes] : expected) {
            auto row = Rows(database.get(),
                            "SELECT `FileSize`, `Sequence` FROM `File` WHERE `File`=?", {key});
            ASSERT_EQ(row.size(), 1u) << key;
            EXPECT_EQ(row[0][0], std::to_string(bytes.size())) << key;
            EXPECT_LT(std::stoi(row[0][1]), lastSequence) << key;
        }
        database.Close();

        const fs::path cache = Native(Wide(property[0][0]));
        const fs::path folder = fs::path(Prefix().root()) / ("cab-" + bare_);
        fs::remove_all(folder);
        fs::create_directories(folder / "files");
        const fs::path cabinet = folder / "QuilletCab.cab";
        EXPECT_EQ(update_test::Run("msiinfo extract " + Quoted(cache) + " QuilletCab >" + Quoted(cabinet)), 0)
            << cache;
        EXPECT_EQ(update_test::Run("cabextract -q -t " + Quoted(cabinet) + " >/dev/null"), 0);
        EXPECT_EQ(update_test::Run("cabextract -q -d " + Quoted(folder / "files") + " " + Quoted(cabinet) +
                      " >/dev/null"),
                  0);
        EXPECT_EQ(FilesUnder(folder / "files"), expected);
        fs::remove_all(folder);
    }

    std::string product_, bare_;
    fs::path installed_, scratch_;
    int serial_ = 0;
};

std::string Content(std::mt19937& random, int trial, char side) {
    return "trial " + std::to_string(trial) + " side " + side + "\n" +
           std::string(std::uniform_int_distribution<int>(0, 40000)(random), side);
}

void Pause(std::mt19937& random) {
    std::this_thread::sleep_for(
        std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 30)(random)));
}

TEST_F(ConcurrentPatches, TwoPatchesStartedTogetherApplyOneAfterTheOther) {
    InstallTrio("{3C5E7A90-1B2D-4F60-8A1C-2E3F40506081}");
    std::mt19937 random(kSeed);
    Dump patched;                        // file key -> bytes the package must hold
    std::map<DWORD, Dump> tablesBefore;  // undo entry -> tables it must restore
    const DWORD firstEntry = CurKey() + 1;
    for (int trial = 0; trial < kTrials; ++trial) {
        SCOPED_TRACE("trial " + std::to_string(trial));
        std::vector<std::string> keys = kFileKeys;
        std::shuffle(keys.begin(), keys.end(), random);
        const std::string contentA = Content(random, trial, 'a');
        const std::string contentB = Content(random, trial, 'b');
        const Dump before = Tables();
        const DWORD entriesBefore = CurKey();

        const Started a = StartPatch(keys[0], contentA);
        Pause(random);
        const Started b = StartPatch(keys[1], contentB);
        const Finished finishedA = Wait(a), finishedB = Wait(b);
        const bool appliedA = AppliedOrRefused(finishedA, "the first patch");
        const bool appliedB = AppliedOrRefused(finishedB, "the second patch");
        ASSERT_TRUE(appliedA || appliedB) << finishedA.err << finishedB.err;
        if (appliedA)
            patched[keys[0]] = contentA;
        if (appliedB)
            patched[keys[1]] = contentB;

        // One entry per applied patch, none for a refused one. The first
        // entry of the trial restores the tables from before it.
        const DWORD entries = CurKey() - entriesBefore;
        EXPECT_EQ(entries, DWORD(appliedA) + DWORD(appliedB));
        tablesBefore[entriesBefore + 1] = before;
        if (entries == 2) {
            // Which one went first is the one whose entry came first; the
            // tables between them are not known from outside, so the second
            // entry is checked on its way back by the first one's result.
            tablesBefore[entriesBefore + 2] = {};
        }
        ExpectComplete(patched);
        if (HasFatalFailure())
            return;
    }
    // Every entry, newest first; an entry made second in a trial is checked
    // by the next one putting back the state from before the trial.
    for (DWORD entry = CurKey(); entry >= firstEntry; --entry) {
        SCOPED_TRACE("restoring entry " + EntryName(entry));
        ASSERT_TRUE(EntryExists(entry));
        const Finished restore = Wait(StartRestore(entry));
        EXPECT_EQ(restore.status, 0) << restore.err;
        EXPECT_FALSE(EntryExists(entry));
        if (!tablesBefore.at(entry).empty()) {
            EXPECT_EQ(Tables(), tablesBefore.at(entry));
        }
    }
    ExpectComplete({});
}

TEST_F(ConcurrentPatches, ARestoreRacingAPatchGoesFirstOrIsRefused) {
    InstallTrio("{3C5E7A90-1B2D-4F60-8A1C-2E3F40506082}");
    std::mt19937 random(kSeed + 1);
    const Dump original = Tables();
    for (int trial = 0; trial < kTrials; ++trial) {
        SCOPED_TRACE("trial " + std::to_string(trial));
        std::vector<std::string> keys = kFileKeys;
        std::shuffle(keys.begin(), keys.end(), random);
        const std::string contentA = Content(random, trial, 'a');
        const std::string contentB = Content(random, trial, 'b');

        // A patch made alone, then its restore and a second patch at once.
        const Finished first = Wait(StartPatch(keys[0], contentA));
        ASSERT_EQ(first.status, 0) << first.err;
        const DWORD entryA = CurKey();
        const Dump afterA = Tables();

        const bool restoreFirst = std::uniform_int_distribution<int>(0, 1)(random) == 1;
        Started restore, patch;
        if (restoreFirst) {
            restore = StartRestore(entryA);
            Pause(random);
            patch = StartPatch(keys[1], contentB);
        } else {
            patch = StartPatch(keys[1], contentB);
            Pause(random);
            restore = StartRestore(entryA);
        }
        const Finished restored = Wait(restore), finishedB = Wait(patch);
        const bool appliedB = AppliedOrRefused(finishedB, "the patch");
        const bool restoredA = !EntryExists(entryA);
        EXPECT_EQ(restored.status == 0, restoredA) << restored.err;
        ASSERT_TRUE(appliedB || restoredA);
        const DWORD entryB = appliedB ? CurKey() : 0;
        EXPECT_EQ(CurKey(), entryA + (appliedB ? 1 : 0)) << "no stray entry";

        Dump expected;
        if (!restoredA)
            expected[keys[0]] = contentA;
        if (appliedB)
            expected[keys[1]] = contentB;
        ExpectComplete(expected);
        if (HasFatalFailure())
            return;

        // Back to the original package, newest entry first: B's entry puts
        // back what it was made from (the original, or A's state).
        if (appliedB) {
            const Finished undo = Wait(StartRestore(entryB));
            EXPECT_EQ(undo.status, 0) << undo.err;
            EXPECT_EQ(Tables(), restoredA ? original : afterA);
        }
        if (!restoredA) {
            const Finished undo = Wait(StartRestore(entryA));
            EXPECT_EQ(undo.status, 0) << undo.err;
        }
        EXPECT_EQ(Tables(), original);
        ExpectComplete({});
    }
}

}  // namespace
}  // namespace update_test
