// An open native file for the compound-file layer: positional reads, the
// share-mode locks of the open, and the crash-safe replacement of a file by a
// sibling written in full.
#pragma once

#include <windef.h>

#include <cstdint>
#include <memory>
#include <string>

namespace winsys::cfb {

class NativeFile {
public:
    // Opens `path` for reading (and writing when asked, to prove the right to
    // replace it) and records the share mode. STG_E_* results.
    static HRESULT open(const std::string& path, bool write, unsigned share,
                        std::shared_ptr<NativeFile>* out);
    // Takes over a descriptor (of a freshly written file) and records the
    // share mode on it.
    static HRESULT adopt(int fd, const std::string& path, bool write, unsigned share,
                         std::shared_ptr<NativeFile>* out);
    ~NativeFile();
    NativeFile(const NativeFile&) = delete;
    NativeFile& operator=(const NativeFile&) = delete;

    int fd() const { return fd_; }
    const std::string& path() const { return path_; }
    uint64_t size() const { return size_; }

    // Reads up to `count` bytes at `offset` (fewer only at the end of file).
    HRESULT readAt(uint64_t offset, void* buffer, size_t count, size_t* done) const;

private:
    NativeFile(int fd, std::string path, uint64_t size) : fd_(fd), path_(std::move(path)), size_(size) {}
    int fd_;
    std::string path_;
    uint64_t size_;
};

// STG_E_* result for an errno value.
HRESULT hresultFromErrno(int error);

// A temporary file beside `target` (same directory, so that rename is atomic),
// removed on destruction unless it was renamed into place.
class SiblingTempFile {
public:
    SiblingTempFile() = default;
    ~SiblingTempFile();
    SiblingTempFile(const SiblingTempFile&) = delete;
    SiblingTempFile& operator=(const SiblingTempFile&) = delete;

    HRESULT create(const std::string& target);
    int fd() const { return fd_; }
    // Flushes the file to disk, gives it the mode of the target (or the
    // default mode for new files) and renames it over the target. With `out`,
    // the descriptor becomes a NativeFile of the target whose share locks are
    // taken before the rename, so the file is never unguarded.
    HRESULT replaceTarget(bool write, unsigned share, std::shared_ptr<NativeFile>* out);

private:
    std::string target_;
    std::string tempPath_;
    int fd_ = -1;
};

}  // namespace winsys::cfb
