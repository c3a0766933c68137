// qltmsi: the command line for people who patch installed products. Dispatches
// to the command named first; every command has its own --help.
#include <cstdio>
#include <string>
#include <vector>

#include "command_table.h"
#include "host/host.h"

namespace {

int usage(FILE* out) {
    std::fputs("usage: qltmsi COMMAND [ARGUMENTS]\n\ncommands:\n", out);
    for (const auto& command : qltmsi::allCommands())
        std::fprintf(out, "  %-10.*s %.*s\n", int(command.name.size()), command.name.data(),
                     int(command.summary.size()), command.summary.data());
    std::fputs("\n'qltmsi COMMAND --help' describes a command.\n", out);
    return out == stdout ? qltmsi::kExitOk : qltmsi::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> words = qltmsi::host::arguments(argc, argv);
    if (words.empty())
        return usage(stderr);
    std::string name = words[0];
    if (name == "--help" || name == "-h" || name == "help")
        return usage(stdout);
    const qltmsi::Command* command = qltmsi::findCommand(name);
    if (!command) {
        std::fprintf(stderr, "qltmsi: unknown command '%s'\n", name.c_str());
        return usage(stderr);
    }
    std::vector<std::string> args(words.begin() + 1, words.end());
    if (qltmsi::wantsHelp(args)) {
        std::fwrite(command->help.data(), 1, command->help.size(), stdout);
        return qltmsi::kExitOk;
    }
    return command->run(args);
}
