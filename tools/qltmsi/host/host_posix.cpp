// The command line's host on POSIX systems, where winsys stands in for
// Windows: arguments are UTF-8 already, native paths are named through the
// prefix's drives, and rundll32 is our own program beside this one.
#include "host/host.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli_text.h"
#include "winsys/paths/paths.h"

extern char** environ;

namespace qltmsi::host {

std::vector<std::string> arguments(int argc, char** argv) {
    return std::vector<std::string>(argv + 1, argv + argc);
}

WideString windowsPathOfTyped(std::string_view typed) {
    // A path with backslashes is a Windows path already; anything else is
    // native. Under the prefix's drive_c a native path reads as C:\..., so
    // paths the user copies from the prefix match what the installer
    // registered.
    if (typed.find('\\') != std::string_view::npos)
        return toWide(typed);
    return winsys::paths::toWindows(typed);
}

bool isTerminal(FILE* stream) {
    return isatty(fileno(stream)) == 1;
}

namespace {

// rundll32 beside this program, as Windows looks in the starting program's
// directory first; otherwise the name alone, for PATH.
std::string findRundll32() {
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        std::string path(self, static_cast<size_t>(n));
        std::string beside = path.substr(0, path.rfind('/') + 1) + "rundll32";
        if (access(beside.c_str(), X_OK) == 0)
            return beside;
    }
    return "rundll32";
}

}  // namespace

bool writeText(FILE* stream, WideView text) {
    const std::string utf8 = toUtf8(text);
    return std::fwrite(utf8.data(), 1, utf8.size(), stream) == utf8.size();
}

int runRundll32(const std::string&, const std::vector<std::string>& words) {
    std::string program = findRundll32();
    std::vector<std::string> copies(words);
    std::vector<char*> argv;
    argv.push_back(program.data());
    for (size_t i = 1; i < copies.size(); ++i)
        argv.push_back(copies[i].data());
    argv.push_back(nullptr);
    std::fflush(nullptr);
    pid_t child = 0;
    if (int error = posix_spawnp(&child, program.c_str(), nullptr, nullptr, argv.data(), environ)) {
        std::fprintf(stderr, "qltmsi run: cannot start rundll32: %s\n", std::strerror(error));
        return -1;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace qltmsi::host
