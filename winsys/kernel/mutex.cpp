// Mutexes: recursive, owned by a thread, handed over as abandoned when the
// owning thread ends. Named mutexes are shared by the processes of one prefix
// through a lock file under <prefix>/mutexes:
//   byte 0    write-locked (fcntl) by the process whose thread owns the mutex;
//   byte 1    read-locked by every process that has the mutex open, so that a
//             creator can tell whether it already exists elsewhere;
//   byte 2    write-locked briefly around that check;
//   byte 16   1 while owned, 0 once released: a new owner that finds 1 knows
//             the previous owner died holding it (WAIT_ABANDONED).
#include <windows.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "kernel/handles.h"
#include "kernel/text.h"
#include "paths/paths.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr off_t ownerByte = 0;
constexpr off_t presenceByte = 1;
constexpr off_t guardByte = 2;
constexpr off_t ownedFlagOffset = 16;

struct MutexState {
    std::mutex lock;
    std::condition_variable released;
    DWORD owner = 0;  // thread id, 0 when free
    unsigned count = 0;
    bool abandoned = false;
    // Named mutexes only: the one descriptor of this process on the lock file.
    // fcntl locks belong to the process and vanish when any descriptor of
    // the file closes, so there is exactly one.
    int fd = -1;
    pid_t process = getpid();
    ~MutexState() {
        if (fd >= 0)
            close(fd);
    }
};

DWORD waitMutex(const std::shared_ptr<MutexState>& state, DWORD milliseconds);

struct MutexObject : winsys::kernel::KernelObject {
    std::shared_ptr<MutexState> state;
    DWORD wait(DWORD milliseconds) override { return waitMutex(state, milliseconds); }
};

bool lockRange(int fd, short type, off_t start, bool wait) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = start;
    fl.l_len = 1;
    while (fcntl(fd, wait ? F_SETLKW : F_SETLK, &fl) != 0) {
        if (errno != EINTR)
            return false;
    }
    return true;
}

void setOwnedFlag(int fd, char value) {
    (void)!pwrite(fd, &value, 1, ownedFlagOffset);
}

// Mutexes a thread owns, abandoned when the thread ends. Ownership keeps a
// mutex alive after its last handle closes, as on Windows: a named one's
// lock file stays open, so other processes still find it owned until the
// thread releases it or ends.
struct ThreadOwnership {
    DWORD thread = GetCurrentThreadId();
    std::vector<std::shared_ptr<MutexState>> owned;
    ~ThreadOwnership() {
        for (auto& state : owned) {
            std::lock_guard guard(state->lock);
            if (state->owner != thread)
                continue;
            state->owner = 0;
            state->count = 0;
            state->abandoned = true;
            if (state->fd >= 0)
                lockRange(state->fd, F_UNLCK, ownerByte, false);  // the flag stays 1
            state->released.notify_one();
        }
    }
    void remove(const std::shared_ptr<MutexState>& state) {
        std::erase_if(owned, [&](const auto& other) { return other == state; });
    }
};

thread_local ThreadOwnership ownership;

DWORD waitMutex(const std::shared_ptr<MutexState>& state, DWORD milliseconds) {
    const DWORD self = GetCurrentThreadId();
    const bool forever = milliseconds == INFINITE;
    const auto deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : milliseconds);
    std::unique_lock guard(state->lock);
    if (state->owner == self) {
        if (state->count == 0x7FFFFFFF) {
            SetLastError(ERROR_TOO_MANY_POSTS);
            return WAIT_FAILED;
        }
        ++state->count;
        return WAIT_OBJECT_0;
    }
    while (state->owner != 0) {
        if (forever) {
            state->released.wait(guard);
        } else if (state->released.wait_until(guard, deadline) == std::cv_status::timeout &&
                   state->owner != 0) {
            return WAIT_TIMEOUT;
        }
    }
    state->owner = self;
    state->count = 1;
    bool abandoned = state->abandoned;
    state->abandoned = false;

    if (state->fd >= 0) {
        // Claimed within the process; now win it from the other processes.
        // Polling keeps the timeout exact and can't deadlock inside fcntl.
        guard.unlock();
        auto pause = std::chrono::milliseconds(1);
        while (!lockRange(state->fd, F_WRLCK, ownerByte, false)) {
            if (!forever && Clock::now() >= deadline) {
                guard.lock();
                state->owner = 0;
                state->count = 0;
                state->abandoned = abandoned;
                state->released.notify_one();
                return WAIT_TIMEOUT;
            }
            std::this_thread::sleep_for(pause);
            pause = std::min(pause * 2, std::chrono::milliseconds(10));
        }
        char flag = 0;
        if (pread(state->fd, &flag, 1, ownedFlagOffset) == 1 && flag == 1)
            abandoned = true;
        setOwnedFlag(state->fd, 1);
        guard.lock();
    }
    ownership.owned.push_back(state);
    return abandoned ? WAIT_ABANDONED : WAIT_OBJECT_0;
}

std::string lockFileName(const std::string& name) {
    std::string out;
    for (unsigned char c : name) {
        if (isalnum(c) || c == '_' || c == '-' || c == '.') {
            out += static_cast<char>(c);
        } else {
            static const char hex[] = "0123456789ABCDEF";
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    if (out.size() > 200) {
        // Too long for a file name: keep a readable head and a hash of all.
        uint64_t hash = 1469598103934665603ull;
        for (unsigned char c : name)
            hash = (hash ^ c) * 1099511628211ull;
        char tail[24];
        snprintf(tail, sizeof tail, "#%016llx", static_cast<unsigned long long>(hash));
        out = out.substr(0, 180) + tail;
    }
    return out + ".lock";
}

std::mutex namedLock;
std::map<std::string, std::weak_ptr<MutexState>> namedMutexes;  // prefix + name -> state

// Opens the process's state for a named mutex; *existed tells whether the
// mutex already existed in this or another process.
std::shared_ptr<MutexState> openNamed(const std::u16string& name, bool* existed) {
    const std::string& prefix = winsys::paths::prefixDirectory();
    std::string key = prefix + '\n' + winsys::text::toUtf8(name);
    std::lock_guard guard(namedLock);
    if (auto found = namedMutexes.find(key); found != namedMutexes.end()) {
        auto state = found->second.lock();
        // A state copied into a forked child belongs to the parent.
        if (state && state->process == getpid()) {
            *existed = true;
            return state;
        }
    }
    std::string directory = prefix + "/mutexes";
    mkdir(directory.c_str(), 0777);
    std::string path = directory + "/" + lockFileName(winsys::text::toUtf8(name));
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        SetLastError(errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_PATH_NOT_FOUND);
        return nullptr;
    }
    lockRange(fd, F_WRLCK, guardByte, true);
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = presenceByte;
    probe.l_len = 1;
    *existed = fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
    lockRange(fd, F_RDLCK, presenceByte, false);
    lockRange(fd, F_UNLCK, guardByte, false);

    auto state = std::make_shared<MutexState>();
    state->fd = fd;
    namedMutexes[key] = state;
    return state;
}

HANDLE createMutex(BOOL initialOwner, const std::u16string* name) {
    std::shared_ptr<MutexState> state;
    bool existed = false;
    if (name && !name->empty()) {
        std::u16string_view bare(*name);
        for (std::u16string_view space : {u"Global\\", u"Local\\"})
            if (bare.substr(0, space.size()) == space)
                bare.remove_prefix(space.size());
        if (name->size() > MAX_PATH) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
            return nullptr;
        }
        if (bare.find(u'\\') != std::u16string_view::npos) {
            SetLastError(ERROR_PATH_NOT_FOUND);
            return nullptr;
        }
        state = openNamed(std::u16string(bare), &existed);
        if (!state)
            return nullptr;
    } else {
        state = std::make_shared<MutexState>();
    }
    if (initialOwner && !existed)
        waitMutex(state, INFINITE);
    auto object = std::make_shared<MutexObject>();
    object->state = state;
    HANDLE handle = winsys::kernel::insertHandle(object);
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

}  // namespace

extern "C" {

WINSYS_EXPORT HANDLE WINAPI CreateMutexW(LPSECURITY_ATTRIBUTES, BOOL initialOwner, LPCWSTR name) {
    if (!name)
        return createMutex(initialOwner, nullptr);
    std::u16string wide(name);
    return createMutex(initialOwner, &wide);
}

WINSYS_EXPORT HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL initialOwner, LPCSTR name) {
    if (!name)
        return createMutex(initialOwner, nullptr);
    std::u16string wide = winsys::text::toUtf16(name);
    return createMutex(initialOwner, &wide);
}

WINSYS_EXPORT BOOL WINAPI ReleaseMutex(HANDLE handle) {
    auto object = winsys::kernel::lookupHandleAs<MutexObject>(handle);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    auto& state = object->state;
    std::lock_guard guard(state->lock);
    if (state->owner != GetCurrentThreadId()) {
        SetLastError(ERROR_NOT_OWNER);
        return FALSE;
    }
    if (--state->count == 0) {
        state->owner = 0;
        if (state->fd >= 0) {
            setOwnedFlag(state->fd, 0);
            lockRange(state->fd, F_UNLCK, ownerByte, false);
        }
        ownership.remove(state);
        state->released.notify_one();
    }
    return TRUE;
}
}
