// qltmsi run: runs a backup string the way Windows runs a command line. A
// POSIX shell would strip the backslashes of its unquoted C:\ path, so the
// string is split here by the rules Windows programs use for their command
// line and handed to the program it names, without a shell. rundll32 says
// nothing of how the restore went; whether its undo entry is gone does.

#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "command_table.h"
#include "host/host.h"
#include "undo_entries.h"

namespace qltmsi {

namespace {

constexpr std::string_view kHelp =
    "usage: qltmsi run \"BACKUP STRING\"\n"
    "       qltmsi run < FILE\n"
    "\n"
    "Runs a backup string, such as\n"
    "  rundll32 C:\\windows\\qltmsi32.a345.dll,QltMsiBackupSvr b\n"
    "exactly as Windows would split it: words are separated by spaces and tabs,\n"
    "double quotes group, backslashes are kept. With no argument (or '-') the\n"
    "string is read from standard input. The line feed that ends it is not part\n"
    "of the command. Only rundll32 is run; it is looked for where Windows looks\n"
    "(on POSIX hosts: beside this program, then on PATH).\n"
    "Exit codes: 0 rundll32 ran (and, for a backup string's QltMsiBackupSvr,\n"
    "the undo entry it names is gone); 1 the entry is unknown, rundll32 could\n"
    "not start or failed, or the entry is still there (the restore stopped and\n"
    "left the package as it was); 2 usage error.\n";

// The argument rules of Windows programs' command lines: white space
// separates; inside double quotes it does not; 2n backslashes before a quote
// give n and the quote acts, 2n+1 give n and a literal quote; other
// backslashes are themselves.
std::vector<std::string> splitCommandLine(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false, quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (c == '\\') {
            size_t count = 0;
            while (i < line.size() && line[i] == '\\') {
                ++count;
                ++i;
            }
            if (i < line.size() && line[i] == '"') {
                word.append(count / 2, '\\');
                if (count % 2 == 1) {
                    word += '"';
                } else {
                    quoted = !quoted;
                }
            } else {
                word.append(count, '\\');
                --i;
            }
            inWord = true;
        } else if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (inWord)
                words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        words.push_back(word);
    return words;
}

bool isRundll32(const std::string& program) {
    std::string name = program.substr(program.find_last_of("\\/") + 1);
    for (char& c : name)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return name == "rundll32" || name == "rundll32.exe";
}

int run(const std::vector<std::string>& args) {
    std::string line;
    if (args.empty() || (args.size() == 1 && args[0] == "-")) {
        line.assign(std::istreambuf_iterator<char>(std::cin), {});
    } else if (args.size() == 1) {
        line = args[0];
    } else {
        std::fputs("qltmsi run: give the backup string as one argument (quote it)\n", stderr);
        return kExitUsage;
    }
    if (!line.empty() && line.back() == '\n')
        line.pop_back();
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    std::vector<std::string> words = splitCommandLine(line);
    if (words.empty()) {
        std::fputs("qltmsi run: the backup string is empty\n", stderr);
        return kExitUsage;
    }
    if (!isRundll32(words[0])) {
        std::fprintf(stderr, "qltmsi run: a backup string runs rundll32, not '%s'\n",
                     words[0].c_str());
        return kExitUsage;
    }
    // A backup string's restore reports nothing; its undo entry (the last
    // word) tells. One that is not there would make rundll32 return having
    // done nothing, which must not read as a restore.
    const bool restores = words.size() >= 3 && words[1].ends_with(",QltMsiBackupSvr");
    const std::string& entry = words.back();
    if (restores && !undoEntryExists(entry)) {
        std::fprintf(stderr, "qltmsi run: no undo entry '%s'\n", entry.c_str());
        return kExitFailure;
    }
    int status = host::runRundll32(line, words);
    if (status < 0)
        return kExitFailure;
    if (status != 0) {
        std::fprintf(stderr, "qltmsi run: rundll32 ended with status %d\n", status);
        return kExitFailure;
    }
    if (restores && undoEntryExists(entry)) {
        std::fprintf(stderr,
                     "qltmsi run: the restore of entry '%s' stopped; the package and the entry "
                     "are unchanged\n",
                     entry.c_str());
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace

QLTMSI_COMMAND("run", "run a backup string as Windows would", kHelp, run);

}  // namespace qltmsi
