// Process, thread and system facts: tick count, ids, version, environment.
#include <windows.h>

#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kernel/text.h"

extern char** environ;

namespace {

// What GetVersion reports: NT 6.1 build 7601, or with QLTMSI_WIN9X=1 a
// 95-family system (4.10, high bit set) so that narrow fallbacks can run.
constexpr DWORD ntVersion = (7601u << 16) | (1u << 8) | 6u;
constexpr DWORD win9xVersion = 0xC0000000u | (10u << 8) | 4u;

// The value of an environment variable; names compare ignoring case, as
// Windows' environment block does.
const char* findVariable(const std::string& name) {
    if (const char* exact = getenv(name.c_str()))
        return exact;
    for (char** entry = environ; entry && *entry; ++entry) {
        std::string_view item(*entry);
        size_t eq = item.find('=');
        if (eq != std::string_view::npos &&
            winsys::text::equalsIgnoreCase(item.substr(0, eq), name))
            return *entry + eq + 1;
    }
    return nullptr;
}

}  // namespace

extern "C" {

WINSYS_EXPORT DWORD WINAPI GetTickCount(void) {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<DWORD>(static_cast<unsigned long long>(ts.tv_sec) * 1000 +
                              ts.tv_nsec / 1000000);
}

WINSYS_EXPORT DWORD WINAPI GetCurrentThreadId(void) {
    return static_cast<DWORD>(syscall(SYS_gettid));
}

WINSYS_EXPORT DWORD WINAPI GetCurrentProcessId(void) {
    return static_cast<DWORD>(getpid());
}

WINSYS_EXPORT DWORD WINAPI GetVersion(void) {
    const char* setting = getenv("QLTMSI_WIN9X");
    return setting && std::string_view(setting) == "1" ? win9xVersion : ntVersion;
}

WINSYS_EXPORT void WINAPI Sleep(DWORD milliseconds) {
    if (milliseconds == INFINITE) {
        for (;;)
            pause();
    }
    timespec ts{static_cast<time_t>(milliseconds / 1000),
                static_cast<long>(milliseconds % 1000) * 1000000};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

WINSYS_EXPORT DWORD WINAPI GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size) {
    if (!name) {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    const char* value = findVariable(winsys::text::toUtf8(name));
    if (!value) {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    std::u16string wide = winsys::text::toUtf16(value);
    if (!buffer || size <= wide.size())
        return static_cast<DWORD>(wide.size() + 1);
    wide.copy(buffer, wide.size());
    buffer[wide.size()] = 0;
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(wide.size());
}

WINSYS_EXPORT DWORD WINAPI GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size) {
    if (!name) {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    const char* value = findVariable(name);
    if (!value) {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    size_t length = strlen(value);
    if (!buffer || size <= length)
        return static_cast<DWORD>(length + 1);
    memcpy(buffer, value, length + 1);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(length);
}
}
