// rundll32 LIBRARY,ENTRY [TEXT]: loads the library named by its Windows path
// (winsys maps it into the prefix), finds the entry point and calls it as
// the Windows host does: window and instance null, the text after the
// entry's name as a narrow command line, and the show flag.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "command_line.h"

#ifndef SW_SHOWDEFAULT
#define SW_SHOWDEFAULT 10
#endif

namespace {

using EntryPoint = void(CALLBACK*)(HWND window, HINSTANCE instance, LPSTR commandLine, int show);

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

constexpr const char* kUsage =
    "usage: rundll32 LIBRARY,ENTRY [TEXT]\n"
    "\n"
    "Loads LIBRARY (a Windows path such as C:\\windows\\qltmsi32.a345.dll, mapped\n"
    "into the prefix named by QLTMSI_PREFIX; native absolute paths work too) and\n"
    "calls its ENTRY with null window and instance, TEXT as the command line and\n"
    "the show flag SW_SHOWDEFAULT. A line feed that ends TEXT is not part of it.\n"
    "\n"
    "A backup string must not go through a POSIX shell, which strips its\n"
    "backslashes: run it with 'qltmsi run \"STRING\"', or pass the arguments as\n"
    "they are, for example with execv(\"rundll32\", {\"rundll32\",\n"
    "\"C:\\\\windows\\\\qltmsi32.a345.dll,QltMsiBackupSvr\", \"b\"}).\n";

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    auto invocation = rundll32::parseArguments(args);
    if (!invocation) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    HMODULE library = LoadLibraryA(invocation->library.c_str());
    if (library == nullptr) {
        const DWORD error = GetLastError();
        if (rundll32::lostItsSeparators(invocation->library)) {
            std::fprintf(stderr,
                         "rundll32: the library path '%s' has lost its backslashes, as a POSIX "
                         "shell strips them from an unquoted C:\\... path. Run the backup string "
                         "with 'qltmsi run', or pass the path as one argument without a shell.\n",
                         invocation->library.c_str());
        } else {
            std::fprintf(stderr, "rundll32: cannot load '%s' (error %lu)\n",
                         invocation->library.c_str(), static_cast<unsigned long>(error));
        }
        return kExitFailure;
    }
    // Through a plain pointer: the entry's real type is not FARPROC's.
    auto entry = reinterpret_cast<EntryPoint>(
        reinterpret_cast<void*>(GetProcAddress(library, invocation->entry.c_str())));
    if (entry == nullptr) {
        std::fprintf(stderr, "rundll32: '%s' has no entry point '%s'\n",
                     invocation->library.c_str(), invocation->entry.c_str());
        FreeLibrary(library);
        return kExitFailure;
    }
    std::vector<char> text(invocation->text.begin(), invocation->text.end());
    text.push_back('\0');
    entry(nullptr, nullptr, text.data(), SW_SHOWDEFAULT);
    FreeLibrary(library);
    return 0;
}
