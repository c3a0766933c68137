// Rename-into-place temporaries that leave nothing behind: see
// rename_temporaries.h.
#include "kernel/rename_temporaries.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace winsys::renames {
namespace {

constexpr char kPrefix[] = ".~";
constexpr char kSuffix[] = ".tmp-winsys";
constexpr size_t kSuffixLength = sizeof kSuffix - 1;
constexpr size_t kRandomLength = 6;
constexpr size_t kLongestBase = 200;
// Past the share-mode bytes (2^62 + 0..5), which no one writes either.
constexpr off_t kLiveByte = (off_t(1) << 62) + 16;
constexpr int kAttempts = 16;

bool lockLive(int fd, short type) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = kLiveByte;
    lock.l_len = 1;
    return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

std::string directoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

bool sameFile(int fd, const std::string& path) {
    struct stat opened {}, named {};
    return fstat(fd, &opened) == 0 && lstat(path.c_str(), &named) == 0 &&
           opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

bool isTemporaryName(const char* name) {
    const size_t length = std::strlen(name);
    return length > 2 + 1 + kRandomLength + kSuffixLength &&
           std::strncmp(name, kPrefix, 2) == 0 &&
           std::strcmp(name + length - kSuffixLength, kSuffix) == 0 &&
           name[length - kSuffixLength - kRandomLength - 1] == '.';
}

void removeIfEnded(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return;
    struct stat st {};
    // Locked by us, the name still reaching the file we locked: its maker
    // has ended, and none can take it over now.
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && lockLive(fd, F_WRLCK) && sameFile(fd, path))
        unlink(path.c_str());
    close(fd);  // drops the lock
}

std::mutex sweptLock;
std::map<std::string, std::chrono::steady_clock::time_point> swept;

}  // namespace

void sweep(const std::string& directory) {
    const auto now = std::chrono::steady_clock::now();
    {
        std::lock_guard<std::mutex> guard(sweptLock);
        auto last = swept.find(directory);
        if (last != swept.end() && now - last->second < std::chrono::minutes(1))
            return;
        swept[directory] = now;
    }
    DIR* listing = opendir(directory.c_str());
    if (listing == nullptr)
        return;
    while (const dirent* entry = readdir(listing)) {
        if (isTemporaryName(entry->d_name))
            removeIfEnded(directory + "/" + entry->d_name);
    }
    closedir(listing);
}

int create(const std::string& target, std::string* path) {
    const std::string directory = directoryOf(target);
    sweep(directory);
    const size_t slash = target.rfind('/');
    const std::string base =
        (slash == std::string::npos ? target : target.substr(slash + 1)).substr(0, kLongestBase);
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        std::string pattern = (directory == "/" ? "" : directory) + "/" + kPrefix + base + "." +
                              std::string(kRandomLength, 'X') + kSuffix;
        const int fd = mkostemps(pattern.data(), static_cast<int>(kSuffixLength), O_CLOEXEC);
        if (fd < 0)
            return -1;
        // A sweeper that got there first holds the lock or has deleted the
        // name; it deletes what is left, and this maker takes a new name.
        if (lockLive(fd, F_WRLCK) && sameFile(fd, pattern)) {
            *path = pattern;
            return fd;
        }
        close(fd);
    }
    errno = EEXIST;
    return -1;
}

void release(int fd) {
    lockLive(fd, F_UNLCK);
}

}  // namespace winsys::renames
