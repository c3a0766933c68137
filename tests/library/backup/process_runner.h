// Runs a program of the build with given arguments and standard input, and
// collects its exit status and output, for the tests of rundll32, the runner
// and the processes that take undo entries at once.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "winsys/kernel/test_prefix.h"

extern char** environ;

namespace backup_test {

struct Finished {
    int status = -1;
    std::string out;
    std::string err;
};

struct Started {
    pid_t pid = -1;
    std::string outFile, errFile;
};

// With `ownGroup` the program leads a process group of its own, so that the
// programs it starts (rundll32 under `qltmsi run`) can be killed with it.
inline Started StartProgram(const std::vector<std::string>& args, const std::string& scratch,
                            const std::string& input = "", bool ownGroup = false) {
    static int serial = 0;
    Started started;
    const std::string base = scratch + "/proc" + std::to_string(++serial);
    started.outFile = base + ".out";
    started.errFile = base + ".err";
    winsys_test::writeFile(base + ".in", input);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, (base + ".in").c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, started.outFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, started.errFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> argv;
    for (const auto& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    if (ownGroup) {
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, 0);
    }
    if (posix_spawn(&started.pid, argv[0], &actions, &attributes, argv.data(), environ) != 0)
        started.pid = -1;
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    unlink((base + ".in").c_str());
    return started;
}

inline Finished Wait(const Started& started) {
    Finished finished;
    int status = 0;
    if (started.pid > 0 && waitpid(started.pid, &status, 0) == started.pid)
        finished.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    finished.out = winsys_test::readFile(started.outFile);
    finished.err = winsys_test::readFile(started.errFile);
    unlink(started.outFile.c_str());
    unlink(started.errFile.c_str());
    return finished;
}

inline Finished RunProgram(const std::vector<std::string>& args, const std::string& scratch,
                           const std::string& input = "") {
    return Wait(StartProgram(args, scratch, input));
}

}  // namespace backup_test
