// What rundll32 makes of its arguments: the library, the entry point and the
// text handed to it.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace rundll32 {

struct Invocation {
    std::string library;  // a Windows path (or a native absolute one)
    std::string entry;
    std::string text;  // the rest of the command line, without its ending line feed
};

// From the arguments after the program name: "LIBRARY,ENTRY" and then the
// text, whose words are joined by single spaces as a command line holds
// them. Null when the first argument names no entry.
std::optional<Invocation> parseArguments(const std::vector<std::string>& args);

// True for a path that looks like a Windows path whose backslashes were
// taken out on the way, as a POSIX shell does to "C:\windows\x.dll": a drive
// and a name with no separator anywhere.
bool lostItsSeparators(const std::string& path);

}  // namespace rundll32
