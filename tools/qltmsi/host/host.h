// What the command line asks of the system it runs on where the two systems
// differ in more than the Windows API: how arguments arrive, what a typed
// path that is not a drive path means, whether output goes to a terminal,
// and how the program a backup string names is started. One source file per
// system implements it (host_posix.cpp over winsys, host_windows.cpp).
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "cli_text.h"

namespace qltmsi::host {

// The program's arguments after its own name, as UTF-8.
std::vector<std::string> arguments(int argc, char** argv);

// A typed path that is not a "C:\..." drive path, as an absolute Windows path.
WideString windowsPathOfTyped(std::string_view typed);

bool isTerminal(FILE* stream);

// Writes text in the encoding the stream's reader expects: UTF-8 on POSIX
// hosts; on Windows wide characters to a console, UTF-8 to a file or pipe.
// False when the write failed.
bool writeText(FILE* stream, WideView text);

// Starts rundll32 with the words after the first of a backup string (the
// whole string is given too, for systems that take a command line as it is)
// and waits for it. Its exit status, or -1 after a message on standard error
// when it could not be started.
int runRundll32(const std::string& commandLine, const std::vector<std::string>& words);

}  // namespace qltmsi::host
