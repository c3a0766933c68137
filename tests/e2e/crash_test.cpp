// Crashes: `qltmsi patch --backup` and `qltmsi run` killed with SIGKILL at
// moments drawn from a fixed seed over the whole length of a clean run, the
// restore's last steps included. After each kill nothing may be lost (the
// package whole, its cab cache holding every file it names, undo entries
// complete), a later restore or patch must complete, and once it has,
// nothing the killed run made may be left: no temporary file or ledger, no
// cab cache or undo entry that nothing names.
// QLTMSI_CRASH_TRIALS sets the number of kills (50 unless set), half of
// them restores; QLTMSI_CRASH_ONLY=restore or =patch kills only those.
#include "library/backup/process_runner.h"
#include "road_fixture.h"

#include <signal.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <random>
#include <thread>

namespace update_test {
namespace {

using backup_test::Finished;
using backup_test::RunProgram;
using backup_test::StartProgram;
using backup_test::Wait;
using Clock = std::chrono::steady_clock;

class Crash : public RoadTest {
  protected:
    std::vector<std::string> PatchCommand() {
        std::vector<std::string> args = {QLTMSI_PROGRAM, "patch", "--product", product_};
        for (const auto& [key, file] : secondFiles_) {
            args.push_back("--replace");
            args.push_back(Installed(key) + "=" + Native(Wide(file)).string());
        }
        args.push_back("--backup");
        args.push_back(backupFolder_.string());
        return args;
    }
    std::vector<std::string> RunCommand(const std::string& backupString) {
        std::string text = backupString;
        while (!text.empty() && text.back() == '\n')
            text.pop_back();
        return {QLTMSI_PROGRAM, "run", text};
    }
    std::string Scratch() {
        const fs::path folder = fs::path(Prefix().root()) / "proc";
        fs::create_directories(folder);
        return folder.string();
    }
    // A clean run's exit status and standard output, and how long it took.
    Finished Timed(const std::vector<std::string>& args, Clock::duration& took) {
        const auto start = Clock::now();
        Finished finished = RunProgram(args, Scratch());
        took = Clock::now() - start;
        return finished;
    }
    // Starts the command and kills it `after` from its start, with the
    // rundll32 that `qltmsi run` starts: a crash takes both, and a restore
    // left running would race the checks that follow.
    void Kill(const std::vector<std::string>& args, Clock::duration after) {
        const auto started = StartProgram(args, Scratch(), "", true);
        std::this_thread::sleep_for(after);
        // On a busy machine threads at the lowest priority are the last to
        // run, so the group's end straggles, and a wait that misses one of
        // its threads shows.
        setpriority(PRIO_PGRP, started.pid, 19);
        kill(-started.pid, SIGKILL);
        Wait(started);
        ASSERT_TRUE(WaitForGroupToEnd(started.pid)) << "the killed group still runs";
    }
    // The group's other members are not this process's children, so no
    // wait reports their end. A process's files are closed by its last
    // thread to exit, and a killed process's main thread may already show
    // as a zombie while another (the package lock's holder) still runs and
    // holds them all, its ledger among them: so every thread is waited for.
    static bool WaitForGroupToEnd(pid_t group) {
        for (int attempt = 0; attempt < 5000; ++attempt) {
            if (!AnyThreadRuns(group))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }
    static bool AnyThreadRuns(pid_t group) {
        for (const auto& process : fs::directory_iterator("/proc")) {
            const std::string name = process.path().filename().string();
            if (name.find_first_not_of("0123456789") != std::string::npos)
                continue;
            // A process gone meanwhile lists no threads.
            std::error_code gone;
            for (const auto& thread : fs::directory_iterator(process.path() / "task", gone)) {
                std::ifstream stat(thread.path() / "stat");
                std::string line;
                std::getline(stat, line);
                const size_t end = line.rfind(')');
                if (end == std::string::npos)
                    continue;
                std::istringstream fields(line.substr(end + 1));
                char state = 0;
                long parent = 0, processGroup = 0;
                fields >> state >> parent >> processGroup;
                if (processGroup == group && state != 'Z' && state != 'X')
                    return true;
            }
        }
        return false;
    }
};

TEST_F(Crash, KilledPatchOrRestoreLosesNothingAndALaterRunCompletes) {
    MakeBaseline("{8E2F4061-3B5C-4D7E-9FA0-B1C2D3E4F506}");
    ASSERT_FALSE(HasFatalFailure());

    // The length of a clean patch and of a clean restore of it.
    ResetToBaseline();
    Clock::duration patchTime{}, restoreTime{};
    Finished patched = Timed(PatchCommand(), patchTime);
    ASSERT_EQ(patched.status, 0) << patched.err;
    const std::string backupString = patched.out.substr(patched.out.rfind("rundll32"));
    Finished restored = Timed(RunCommand(backupString), restoreTime);
    ASSERT_EQ(restored.status, 0) << restored.err;
    ASSERT_TRUE(CheckInvariants().empty());

    const char* trialsText = std::getenv("QLTMSI_CRASH_TRIALS");
    const unsigned trials = trialsText ? std::strtoul(trialsText, nullptr, 10) : 50;
    std::mt19937 random(20261207);
    unsigned restoresFinished = 0, patchesAfterward = 0, leftBehind = 0, broken = 0;
    std::map<std::string, unsigned> leftovers;
    const char* onlyText = std::getenv("QLTMSI_CRASH_ONLY");
    const std::string only = onlyText ? onlyText : "";
    for (unsigned trial = 0; trial < trials; ++trial) {
        ResetToBaseline();
        const bool killRestore = only.empty() ? trial % 2 == 1 : only == "restore";
        std::string backup;
        if (killRestore) {
            Finished first = RunProgram(PatchCommand(), Scratch());
            ASSERT_EQ(first.status, 0) << first.err;
            backup = first.out.substr(first.out.rfind("rundll32"));
        }
        // Up to a tenth past the clean length, so that the last steps and
        // the process's end are hit too.
        const Clock::duration length = killRestore ? restoreTime : patchTime;
        std::uniform_int_distribution<long long> at(
            0, std::chrono::duration_cast<std::chrono::microseconds>(length).count() * 11 / 10);
        ASSERT_NO_FATAL_FAILURE(Kill(killRestore ? RunCommand(backup) : PatchCommand(),
                                     std::chrono::microseconds(at(random))));

        std::vector<std::string> problems = CheckNothingLost();
        // A later run of the same backup string finishes the restore; where
        // it cannot, a later patch must still go through.
        bool completed = false;
        if (killRestore) {
            RunProgram(RunCommand(backup), Scratch());
            DWORD curKey = 0;
            completed = UndoEntries(&curKey).empty();
            restoresFinished += completed;
        }
        if (!completed) {
            Finished later = RunProgram(PatchCommand(), Scratch());
            if (later.status != 0)
                problems.push_back("a later patch failed: " + later.err);
            ++patchesAfterward;
        }
        for (std::string& problem : CheckNothingLost())
            problems.push_back("after the later run: " + problem);
        const std::vector<std::string> left = LeftBehind();
        leftBehind += !left.empty();
        for (const std::string& name : left) {
            ++leftovers[name.substr(0, name.rfind(' ') + 4)];
            problems.push_back("after the later run, " + name);
            // A ledger left says which names its process still listed.
            if (name.find("folder: qll") != std::string::npos) {
                const std::string bytes =
                    ReadAll(temporaryFolder_ / name.substr(name.rfind(' ') + 1));
                std::string text;
                for (size_t i = 0; i < bytes.size(); i += 2)
                    text += bytes[i];
                problems.push_back("  which reads: " + text);
            }
        }
        if (!problems.empty()) {
            ++broken;
            std::string all;
            for (const std::string& problem : problems)
                all += "\n  " + problem;
            ADD_FAILURE() << "trial " << trial << (killRestore ? " (restore)" : " (patch)") << ":"
                          << all;
        }
    }
    std::printf("clean patch %lld ms, clean restore %lld ms; %u kills: lost or broken %u, "
                "restores finished by a re-run %u, later patches %u, runs that left files %u\n",
                static_cast<long long>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(patchTime).count()),
                static_cast<long long>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(restoreTime).count()),
                trials, broken, restoresFinished, patchesAfterward, leftBehind);
    for (const auto& [kind, count] : leftovers)
        std::printf("  %u x %s...\n", count, kind.c_str());
}

}  // namespace
}  // namespace update_test
