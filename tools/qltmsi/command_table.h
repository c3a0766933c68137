// The commands of qltmsi. Each command_<name>.cpp registers one at start-up
// with a QLTMSI_COMMAND definition, so that a new command is one new file.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qltmsi {

// Conventional exit codes.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

struct Command {
    std::string_view name;
    std::string_view summary;                          // one line for the program's --help
    std::string_view help;                             // the command's own --help text
    int (*run)(const std::vector<std::string>& args);  // arguments after the command name
};

// Every registered command, in name order.
std::vector<Command> allCommands();
const Command* findCommand(std::string_view name);

struct CommandRegistration {
    explicit CommandRegistration(const Command& command);
};

// True when args hold --help or -h.
bool wantsHelp(const std::vector<std::string>& args);

}  // namespace qltmsi

#define QLTMSI_COMMAND_JOIN2(a, b) a##b
#define QLTMSI_COMMAND_JOIN(a, b) QLTMSI_COMMAND_JOIN2(a, b)
#define QLTMSI_COMMAND(...)                                         \
    static const ::qltmsi::CommandRegistration QLTMSI_COMMAND_JOIN( \
        qltmsiCommand, __LINE__)(::qltmsi::Command{__VA_ARGS__})
