// Scratch files of a fuzz target. They live in a folder of the process's
// own, on a memory file system when the host has one: truncating and
// rewriting a file on disk costs milliseconds per input, more than the code
// under test. The folder goes when the process exits normally.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace fuzz {

// The folder, made on first use and removed with everything in it when the
// process ends.
struct ScratchFolder {
    std::string path;
    ScratchFolder() {
        std::error_code error;
        const char* tmp = std::getenv("TMPDIR");
        std::string base = std::filesystem::is_directory("/dev/shm", error)
                               ? "/dev/shm"
                               : (tmp && *tmp ? tmp : "/tmp");
        path = base + "/qltmsi-fuzz.XXXXXX";
        if (!mkdtemp(path.data()))
            std::abort();
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

inline const std::string& scratchFolder() {
    static const ScratchFolder folder;
    return folder.path;
}

inline std::string scratchPath(const char* name) {
    return scratchFolder() + "/" + name;
}

// Replaces the file's content with the input; false when it could not.
inline bool writeScratch(const std::string& path, const uint8_t* data, size_t size) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0)
        return false;
    bool ok = true;
    for (size_t done = 0; ok && done < size;) {
        ssize_t n = write(fd, data + done, size - done);
        ok = n > 0;
        done += ok ? size_t(n) : 0;
    }
    return close(fd) == 0 && ok;
}

}  // namespace fuzz
