// In-memory and spilled stream contents.
#include "storage/sources.h"

#include "storage/native_file.h"

#include <winerror.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <span>
#include <unistd.h>

namespace winsys::cfb {
namespace {

class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
    uint64_t size() const override { return bytes_.size(); }
    HRESULT readAt(uint64_t offset, void* buffer, size_t count, size_t* done) const override {
        *done = 0;
        if (offset >= bytes_.size()) return S_OK;
        size_t n = size_t(std::min<uint64_t>(count, bytes_.size() - offset));
        std::memcpy(buffer, bytes_.data() + offset, n);
        *done = n;
        return S_OK;
    }

private:
    std::vector<uint8_t> bytes_;
};

class FileSource final : public ByteSource {
public:
    FileSource(int fd, uint64_t size) : fd_(fd), size_(size) {}
    ~FileSource() override { ::close(fd_); }
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;
    uint64_t size() const override { return size_; }
    HRESULT readAt(uint64_t offset, void* buffer, size_t count, size_t* done) const override {
        *done = 0;
        if (offset >= size_) return S_OK;
        size_t n = size_t(std::min<uint64_t>(count, size_ - offset));
        while (*done < n) {
            ssize_t got = ::pread(fd_, static_cast<uint8_t*>(buffer) + *done, n - *done, off_t(offset + *done));
            if (got < 0) {
                if (errno == EINTR) continue;
                return STG_E_READFAULT;
            }
            if (got == 0) break;
            *done += size_t(got);
        }
        return S_OK;
    }

private:
    int fd_;
    uint64_t size_;
};

// Below this size a file is read into memory: many small streams then hold
// no descriptors open.
constexpr uint64_t kReadAtOnceLimit = uint64_t(1) << 20;

std::string temporaryDirectory() {
    const char* dir = std::getenv("TMPDIR");
    return dir && *dir ? dir : "/tmp";
}

}  // namespace

std::shared_ptr<const ByteSource> bytesSource(std::vector<uint8_t> bytes) {
    return std::make_shared<MemorySource>(std::move(bytes));
}

HRESULT fileSource(const std::string& path, std::shared_ptr<const ByteSource>* out) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return hresultFromErrno(errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        int error = S_ISDIR(st.st_mode) ? EISDIR : errno;
        ::close(fd);
        return hresultFromErrno(error);
    }
    std::shared_ptr<FileSource> file;
    try {
        file = std::make_shared<FileSource>(fd, uint64_t(st.st_size));
    } catch (const std::bad_alloc&) {
        ::close(fd);
        return STG_E_INSUFFICIENTMEMORY;
    }
    if (file->size() >= kReadAtOnceLimit) {
        *out = std::move(file);
        return S_OK;
    }
    try {
        std::vector<uint8_t> bytes(size_t(file->size()));
        size_t done = 0;
        if (HRESULT hr = file->readAt(0, bytes.data(), bytes.size(), &done); FAILED(hr)) return hr;
        bytes.resize(done);
        *out = bytesSource(std::move(bytes));
        return S_OK;
    } catch (const std::bad_alloc&) {
        return STG_E_INSUFFICIENTMEMORY;
    }
}

bool hasSignature(std::span<const uint8_t> head) {
    static const uint8_t signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    return head.size() >= 8 && std::memcmp(head.data(), signature, 8) == 0;
}

SpillBuffer::~SpillBuffer() {
    if (fd_ >= 0) ::close(fd_);
}

HRESULT SpillBuffer::spill() {
    std::string dir = temporaryDirectory();
    int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) {
        std::string pattern = dir + "/qltstg.XXXXXX";
        fd = mkostemp(pattern.data(), O_CLOEXEC);
        if (fd < 0) return hresultFromErrno(errno);
        ::unlink(pattern.c_str());
    }
    fd_ = fd;
    size_t done = 0;
    while (done < memory_.size()) {
        ssize_t n = ::write(fd_, memory_.data() + done, memory_.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return hresultFromErrno(errno);
        }
        done += size_t(n);
    }
    std::vector<uint8_t>().swap(memory_);
    return S_OK;
}

HRESULT SpillBuffer::append(const void* data, size_t count) {
    try {
        if (fd_ < 0 && memory_.size() + count > kMemoryLimit) {
            HRESULT hr = spill();
            if (FAILED(hr)) return hr;
        }
        if (fd_ < 0) {
            auto* p = static_cast<const uint8_t*>(data);
            memory_.insert(memory_.end(), p, p + count);
        } else {
            size_t done = 0;
            while (done < count) {
                ssize_t n = ::pwrite(fd_, static_cast<const uint8_t*>(data) + done, count - done,
                                     off_t(size_ + done));
                if (n < 0) {
                    if (errno == EINTR) continue;
                    return hresultFromErrno(errno);
                }
                done += size_t(n);
            }
        }
        size_ += count;
        return S_OK;
    } catch (const std::bad_alloc&) {
        return STG_E_INSUFFICIENTMEMORY;
    }
}

HRESULT SpillBuffer::readAt(uint64_t offset, void* buffer, size_t count, size_t* done) const {
    *done = 0;
    if (offset >= size_) return S_OK;
    size_t n = size_t(std::min<uint64_t>(count, size_ - offset));
    if (fd_ < 0) {
        std::memcpy(buffer, memory_.data() + offset, n);
        *done = n;
        return S_OK;
    }
    size_t total = 0;
    while (total < n) {
        ssize_t got = ::pread(fd_, static_cast<uint8_t*>(buffer) + total, n - total, off_t(offset + total));
        if (got < 0) {
            if (errno == EINTR) continue;
            return STG_E_READFAULT;
        }
        if (got == 0) return STG_E_READFAULT;
        total += size_t(got);
    }
    *done = total;
    return S_OK;
}

}  // namespace winsys::cfb
