// The counters and the armed faults, one set per process. WINSYS_FAIL holds
// "kind:N:error" items separated by commas ("write:3:disk_full"; a "+" after
// N fails every later call of that kind too); WINSYS_FAULT_COUNTS names a
// file to which the process appends its counts when it ends.
#include "faults/faults.h"

#include <winerror.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <unistd.h>

namespace winsys::faults {

namespace {

constexpr std::array<const char*, kKindCount> kKindNames = {
    "open", "write", "flush", "move", "delete", "registry", "tempname"};

struct Armed {
    uint32_t call = 0;  // 0: nothing armed
    uint32_t error = 0;
    bool persistent = false;
};

struct State {
    std::mutex mutex;
    std::array<uint32_t, kKindCount> counts{};
    std::array<Armed, kKindCount> armed{};
    uint32_t fired = 0;
    std::string countsFile;

    State() { configure(); }
    ~State() { writeCounts(); }

    void configure() {
        if (const char* file = std::getenv("WINSYS_FAULT_COUNTS"))
            countsFile = file;
        const char* setting = std::getenv("WINSYS_FAIL");
        if (setting == nullptr)
            return;
        std::string_view rest(setting);
        while (!rest.empty()) {
            const size_t comma = rest.find(',');
            parseItem(rest.substr(0, comma));
            rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        }
    }

    // An item that does not parse is reported and ignored: a test that
    // meant to inject something must not silently pass.
    void parseItem(std::string_view item) {
        const size_t first = item.find(':');
        const size_t second = first == std::string_view::npos ? first : item.find(':', first + 1);
        if (second == std::string_view::npos) {
            complain(item);
            return;
        }
        const std::string kind(item.substr(0, first));
        std::string call(item.substr(first + 1, second - first - 1));
        const std::string error(item.substr(second + 1));
        const bool persistent = !call.empty() && call.back() == '+';
        if (persistent)
            call.pop_back();
        unsigned index = 0;
        while (index < kKindCount && kind != kKindNames[index])
            ++index;
        const uint32_t number = static_cast<uint32_t>(std::strtoul(call.c_str(), nullptr, 10));
        const uint32_t code = errorByName(error);
        if (index == kKindCount || number == 0 || code == 0) {
            complain(item);
            return;
        }
        armed[index] = Armed{number, code, persistent};
    }

    static uint32_t errorByName(const std::string& name) {
        if (name == "disk_full")
            return ERROR_DISK_FULL;
        if (name == "write_fault")
            return ERROR_WRITE_FAULT;
        if (name == "access_denied")
            return ERROR_ACCESS_DENIED;
        if (name == "sharing_violation")
            return ERROR_SHARING_VIOLATION;
        return static_cast<uint32_t>(std::strtoul(name.c_str(), nullptr, 10));
    }

    static void complain(std::string_view item) {
        std::fprintf(stderr, "winsys: WINSYS_FAIL item not understood: %.*s\n",
                     static_cast<int>(item.size()), item.data());
    }

    void writeCounts() {
        if (countsFile.empty())
            return;
        if (FILE* out = std::fopen(countsFile.c_str(), "a")) {
            std::fprintf(out, "%d", static_cast<int>(getpid()));
            for (unsigned i = 0; i < kKindCount; ++i)
                std::fprintf(out, " %s=%u", kKindNames[i], counts[i]);
            std::fprintf(out, " fired=%u\n", fired);
            std::fclose(out);
        }
    }
};

State& state() {
    static State instance;
    return instance;
}

}  // namespace

uint32_t next(Kind kind) {
    State& s = state();
    const unsigned index = static_cast<unsigned>(kind);
    std::lock_guard lock(s.mutex);
    const uint32_t call = ++s.counts[index];
    const Armed& armed = s.armed[index];
    if (armed.call == 0 || call < armed.call || (call > armed.call && !armed.persistent))
        return 0;
    ++s.fired;
    return armed.error;
}

int errnoOf(uint32_t error) {
    switch (error) {
    case ERROR_DISK_FULL: return ENOSPC;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION: return EACCES;
    default: return EIO;
    }
}

long hresultOf(uint32_t error) {
    // The structured-storage codes are the Windows codes in facility 3
    // (STG_E_MEDIUMFULL is 0x80030070 for ERROR_DISK_FULL, 112).
    return static_cast<long>(0x80030000u | (error & 0xFFFFu));
}

void reset() {
    State& s = state();
    std::lock_guard lock(s.mutex);
    s.counts = {};
    s.armed = {};
    s.fired = 0;
}

bool arm(unsigned kind, uint32_t call, uint32_t error, bool persistent) {
    if (kind >= kKindCount || call == 0 || error == 0)
        return false;
    State& s = state();
    std::lock_guard lock(s.mutex);
    // N counts from the calls already made, so a test can arm mid-run.
    s.armed[kind] = Armed{s.counts[kind] + call, error, persistent};
    return true;
}

uint32_t count(unsigned kind) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    return kind < kKindCount ? s.counts[kind] : 0;
}

uint32_t fired() {
    State& s = state();
    std::lock_guard lock(s.mutex);
    return s.fired;
}

}  // namespace winsys::faults
