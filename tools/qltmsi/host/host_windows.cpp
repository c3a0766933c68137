// The command line's host on Windows: arguments are read as UTF-16 from the
// process's command line (argv holds them in the ANSI code page, which may
// not hold every file name), relative paths are made absolute by the
// system, and the backup string is given to CreateProcess as it stands, so
// that Windows finds rundll32 and splits the words itself.
#include "host/host.h"

#include <windows.h>
#include <shellapi.h>
#include <io.h>

#include <algorithm>

namespace qltmsi::host {

std::vector<std::string> arguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide)
        return std::vector<std::string>(argv + 1, argv + argc);
    std::vector<std::string> result;
    for (int i = 1; i < count; ++i)
        result.push_back(toUtf8(wide[i]));
    LocalFree(wide);
    return result;
}

WideString windowsPathOfTyped(std::string_view typed) {
    WideString relative = toWide(typed);
    DWORD length = GetFullPathNameW(relative.c_str(), 0, nullptr, nullptr);
    if (length == 0)
        return relative;
    WideString full(length, TEXT('\0'));
    length = GetFullPathNameW(relative.c_str(), length, full.data(), nullptr);
    full.resize(length);
    return full;
}

bool isTerminal(FILE* stream) {
    return _isatty(_fileno(stream)) != 0;
}

bool writeText(FILE* stream, WideView text) {
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    if (handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode)) {
        std::fflush(stream);
        while (!text.empty()) {
            DWORD written = 0;
            const DWORD piece = static_cast<DWORD>(std::min<size_t>(text.size(), 8192));
            if (!WriteConsoleW(handle, text.data(), piece, &written, nullptr) || written == 0)
                return false;
            text.remove_prefix(written);
        }
        return true;
    }
    const std::string utf8 = toUtf8(text);
    return std::fwrite(utf8.data(), 1, utf8.size(), stream) == utf8.size();
}

int runRundll32(const std::string& commandLine, const std::vector<std::string>&) {
    WideString line = toWide(commandLine);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::fflush(nullptr);
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        std::fprintf(stderr, "qltmsi run: cannot start rundll32 (error %lu)\n",
                     static_cast<unsigned long>(GetLastError()));
        return -1;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(status);
}

}  // namespace qltmsi::host
