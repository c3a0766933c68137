// Splitting rundll32's arguments into library, entry point and text.
#include "command_line.h"

namespace rundll32 {

std::optional<Invocation> parseArguments(const std::vector<std::string>& args) {
    if (args.empty())
        return std::nullopt;
    const std::string& target = args[0];
    size_t comma = target.find(',');
    if (comma == std::string::npos || comma == 0 || comma + 1 == target.size())
        return std::nullopt;
    Invocation invocation;
    invocation.library = target.substr(0, comma);
    invocation.entry = target.substr(comma + 1);
    for (size_t i = 1; i < args.size(); ++i) {
        if (i > 1)
            invocation.text += ' ';
        invocation.text += args[i];
    }
    // The backup string ends in a line feed that ends the command, not the
    // text; a caller that split the string itself may leave it on.
    if (!invocation.text.empty() && invocation.text.back() == '\n') {
        invocation.text.pop_back();
        if (!invocation.text.empty() && invocation.text.back() == '\r')
            invocation.text.pop_back();
    }
    return invocation;
}

bool lostItsSeparators(const std::string& path) {
    if (path.size() < 3 || path[1] != ':')
        return false;
    const char drive = path[0];
    if (!((drive >= 'A' && drive <= 'Z') || (drive >= 'a' && drive <= 'z')))
        return false;
    return path.find_first_of("\\/") == std::string::npos;
}

}  // namespace rundll32
