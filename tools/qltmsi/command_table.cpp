// The registry of commands filled by the command files at start-up.
#include "command_table.h"

#include <algorithm>

namespace qltmsi {

namespace {

std::vector<Command>& table() {
    static std::vector<Command> commands;
    return commands;
}

}  // namespace

CommandRegistration::CommandRegistration(const Command& command) {
    table().push_back(command);
}

std::vector<Command> allCommands() {
    std::vector<Command> sorted = table();
    std::sort(sorted.begin(), sorted.end(),
              [](const Command& a, const Command& b) { return a.name < b.name; });
    return sorted;
}

const Command* findCommand(std::string_view name) {
    for (const auto& command : table())
        if (command.name == name)
            return &command;
    return nullptr;
}

bool wantsHelp(const std::vector<std::string>& args) {
    return std::any_of(args.begin(), args.end(),
                       [](const std::string& a) { return a == "--help" || a == "-h"; });
}

}  // namespace qltmsi
