// Every failure path of the whole road, in SQLite's manner: a patch (open,
// two updates, commit with an undo record), the restore of its backup string
// and a compaction run once without faults to count the calls of each kind,
// then once for every call of every kind with that call failing. After each
// run the package, its cab cache, the undo entries and the folders are read
// from outside (msiinfo, cabextract) and must show nothing lost and nothing
// left behind. QLTMSI_FAULT_STRIDE walks every Nth call only.
#include "road_fixture.h"

#include <winsys_faults.h>

#include <cstdio>

namespace update_test {
namespace {

constexpr DWORD kErrors[] = {ERROR_DISK_FULL, ERROR_WRITE_FAULT, ERROR_ACCESS_DENIED,
                             ERROR_SHARING_VIOLATION};
constexpr const char* kKindNames[WINSYS_FAULT_KINDS] = {"open",   "write",    "flush",   "move",
                                                        "delete", "registry", "tempname"};

class FaultInjection : public RoadTest {
  protected:
    void TearDown() override {
        WinsysFaultsReset();
        RoadTest::TearDown();
    }

    // The whole road: the second patch with an undo record, its restore and
    // a compaction of the package. True when every step succeeded.
    bool Road(const std::map<std::string, std::string>& files) {
        std::string problem, backupString;
        const WideString backup = Wide(WindowsPathOf(backupFolder_.string()));
        bool succeeded = Patch(files, backup.c_str(), problem, &backupString);
        // An entry is made before the package is replaced; a commit that
        // then fails must take it back, or its restore stops forever.
        DWORD curKey = 0;
        entryOfFailedPatch_ = false;
        for (const std::u16string& entry : UndoEntries(&curKey))
            entryOfFailedPatch_ |= !succeeded && std::stoul(Narrow(entry), nullptr, 16) <= curKey;
        if (succeeded && backupString.empty())
            succeeded = false;  // a commit without its undo record
        if (succeeded) {
            std::string entry = backupString.substr(backupString.rfind(' ') + 1);
            while (!entry.empty() && entry.back() == '\n')
                entry.pop_back();
            QltMsiBackupSvr(nullptr, nullptr, entry.data(), 0);
            succeeded = UndoEntries(&curKey).empty();
        }
        const WideString package = Wide(WindowsPathOf(package_.string()));
        return DefragMsiFile(package.c_str()) == QLTMSI_DEFRAG_DONE && succeeded;
    }

    void WalkEveryFault(const std::map<std::string, std::string>& files);
    bool entryOfFailedPatch_ = false;
};

TEST_F(FaultInjection, NoFailureOfAnyCallLosesOrLeavesAnything) {
    MakeBaseline("{7D1E3F50-2A4B-4C6D-8E9F-A0B1C2D3E4F5}");
    ASSERT_FALSE(HasFatalFailure());
    WalkEveryFault(secondFiles_);
}

// A removal alone builds no cabinet: the package keeps naming the previous
// cab cache, which must survive every failure, and the restore brings the
// row back.
TEST_F(FaultInjection, NoFailureOfARemovalLosesOrLeavesAnything) {
    MakeBaseline("{7D1E3F50-2A4B-4C6D-8E9F-A0B1C2D3E4F6}");
    ASSERT_FALSE(HasFatalFailure());
    WalkEveryFault({{"readme", ""}});
}

void FaultInjection::WalkEveryFault(const std::map<std::string, std::string>& files) {
    auto Road = [&] { return this->Road(files); };
    // The first road places the backup server; the counted one is what every
    // later run repeats.
    ResetToBaseline();
    ASSERT_TRUE(Road());
    ResetToBaseline();
    WinsysFaultsReset();
    ASSERT_TRUE(Road());
    DWORD counts[WINSYS_FAULT_KINDS];
    for (DWORD kind = 0; kind < WINSYS_FAULT_KINDS; ++kind)
        counts[kind] = WinsysFaultsCount(kind);
    WinsysFaultsReset();
    ASSERT_TRUE(CheckInvariants().empty());

    const char* strideText = std::getenv("QLTMSI_FAULT_STRIDE");
    const DWORD stride = strideText ? std::max(1ul, std::strtoul(strideText, nullptr, 10)) : 1;
    unsigned runs = 0, failedCleanly = 0, succeeded = 0, notFired = 0, broken = 0;
    unsigned leftByDelete = 0;
    for (DWORD kind = 0; kind < WINSYS_FAULT_KINDS; ++kind) {
        for (DWORD call = 1; call <= counts[kind]; call += stride) {
            ResetToBaseline();
            WinsysFaultsReset();
            WinsysFaultsArm(kind, call, kErrors[call % std::size(kErrors)], FALSE);
            const bool roadSucceeded = Road();
            const bool fired = WinsysFaultsFired() > 0;
            WinsysFaultsReset();
            ++runs;
            // A delete that fails leaves its file: that much the next open
            // of the product has to clean, and it is counted, not failed.
            std::vector<std::string> problems = CheckNothingLost();
            if (entryOfFailedPatch_)
                problems.push_back("the failed patch left its undo entry");
            const std::vector<std::string> left = LeftBehind();
            if (kind == WINSYS_FAULT_DELETE)
                leftByDelete += !left.empty();
            else
                problems.insert(problems.end(), left.begin(), left.end());
            if (!problems.empty()) {
                ++broken;
                std::string all;
                for (const std::string& problem : problems)
                    all += "\n  " + problem;
                ADD_FAILURE() << kKindNames[kind] << " call " << call << " failing with "
                              << kErrors[call % std::size(kErrors)] << ":" << all;
            } else if (!fired) {
                ++notFired;
            } else if (roadSucceeded) {
                ++succeeded;
            } else {
                ++failedCleanly;
            }
        }
    }
    std::printf("calls per kind:");
    for (DWORD kind = 0; kind < WINSYS_FAULT_KINDS; ++kind)
        std::printf(" %s %lu", kKindNames[kind], static_cast<unsigned long>(counts[kind]));
    std::printf("\nruns %u (every %lu. call): failed cleanly %u, succeeded despite the fault %u, "
                "fault not reached %u, something lost or left behind %u; failed deletes that "
                "left their file %u\n",
                runs, static_cast<unsigned long>(stride), failedCleanly, succeeded, notFired,
                broken, leftByDelete);
    for (const std::string& problem : unexplained_)
        ADD_FAILURE() << "failed without a message: " << problem;
}

// A commit that finds no backup server places a copy of the library in the
// Windows folder and registers it; when the registration fails, the copy is
// no server and must go with it.
TEST_F(FaultInjection, NoRegistryFailureLeavesAServerCopyThatIsNotRegistered) {
    MakeBaseline("{7D1E3F50-2A4B-4C6D-8E9F-A0B1C2D3E4F7}");
    ASSERT_FALSE(HasFatalFailure());
    const fs::path windows = fs::path(Prefix().driveC()) / "windows";
    const WideString backup = Wide(WindowsPathOf(backupFolder_.string()));
    auto forgetServer = [&] {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Brambleway\\Quillet", 0, KEY_ALL_ACCESS,
                          &key) == ERROR_SUCCESS) {
            RegDeleteValueW(key, u"MsiBackupServer");
            RegCloseKey(key);
        }
        for (const std::string& name : NamesIn(windows))
            if (name.rfind("qltmsi32", 0) == 0)
                fs::remove(windows / name);
    };
    // Every copy in the Windows folder must be the registered one.
    auto strayCopies = [&] {
        WCHAR registered[MAX_PATH + 1] = {};
        DWORD bytes = sizeof registered - sizeof(WCHAR);
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Brambleway\\Quillet", 0, KEY_READ,
                          &key) == ERROR_SUCCESS) {
            RegQueryValueExW(key, u"MsiBackupServer", nullptr, nullptr,
                             reinterpret_cast<LPBYTE>(registered), &bytes);
            RegCloseKey(key);
        }
        std::vector<std::string> stray;
        for (const std::string& name : NamesIn(windows))
            if (name.rfind("qltmsi32", 0) == 0 && Native(registered).filename() != name)
                stray.push_back("an unregistered server copy: " + name);
        return stray;
    };
    ResetToBaseline();
    forgetServer();
    WinsysFaultsReset();
    std::string problem;
    ASSERT_TRUE(Patch(secondFiles_, backup.c_str(), problem)) << problem;
    const DWORD calls = WinsysFaultsCount(WINSYS_FAULT_REGISTRY);
    unsigned failed = 0, fired = 0;
    for (DWORD call = 1; call <= calls; ++call) {
        ResetToBaseline();
        forgetServer();
        WinsysFaultsReset();
        WinsysFaultsArm(WINSYS_FAULT_REGISTRY, call, kErrors[call % std::size(kErrors)], FALSE);
        std::string backupString;
        failed += !Patch(secondFiles_, backup.c_str(), problem, &backupString) ||
                  backupString.empty();
        fired += WinsysFaultsFired();
        WinsysFaultsReset();
        std::vector<std::string> problems = CheckInvariants();
        for (std::string& stray : strayCopies())
            problems.push_back(std::move(stray));
        for (const std::string& each : problems)
            ADD_FAILURE() << "registry call " << call << ": " << each;
    }
    std::printf("registry calls of a commit that places the server %lu, faults fired %u: "
                "failed cleanly or without an undo record %u\n",
                static_cast<unsigned long>(calls), fired, failed);
    forgetServer();
}

// A fault armed from the commit's progress: for the first call of its kind
// after the commit's text, or after the Nth tick that follows the text.
struct Arming {
    DWORD kind = 0;
    bool fromText = false;
    int atTick = 0;
    int ticks = -1;  // -1 until the commit's text
};
Arming arming;

void QLTMSI_CALL ArmFromProgress(int code, void*) {
    if (code == 9) {
        arming.ticks = 0;
        if (arming.fromText)
            WinsysFaultsArm(arming.kind, 1, ERROR_DISK_FULL, FALSE);
    } else if (code == 21 && arming.ticks >= 0 && ++arming.ticks == arming.atTick) {
        WinsysFaultsArm(arming.kind, 1, ERROR_DISK_FULL, FALSE);
    }
}

// A cabinet whose flush fails, or that gets no temporary name, is no
// cabinet: the commit fails and the previous cab cache, the only copy of
// the first patch's files, stays.
TEST_F(FaultInjection, CabinetNotFlushedOrNotNamedFailsTheCommitAndKeepsThePreviousCabCache) {
    MakeBaseline("{9F305172-4C6D-4E8F-A0B1-C2D3E4F50617}");
    ASSERT_FALSE(HasFatalFailure());
    // Two rows tick twice each; the fifth tick comes just before the flush.
    const std::pair<const char*, Arming> cases[] = {
        {"the cabinet's flush fails", {WINSYS_FAULT_WRITE, false, 5}},
        {"no temporary name", {WINSYS_FAULT_TEMPNAME, true, 0}},
    };
    progress_ = ArmFromProgress;
    for (const auto& [what, armed] : cases) {
        ResetToBaseline();
        WinsysFaultsReset();
        arming = armed;
        std::string problem;
        EXPECT_FALSE(Patch(secondFiles_, nullptr, problem)) << what;
        WinsysFaultsReset();
        EXPECT_NE(problem.find("commit 4105"), std::string::npos) << what << ": " << problem;
        EXPECT_TRUE(ReadAll(package_) == baselinePackage_) << what << ": the package changed";
        EXPECT_EQ(CheckInvariants(), std::vector<std::string>{}) << what;
    }
    progress_ = nullptr;
}

}  // namespace
}  // namespace update_test
