// Native file access for compound files.
#include "storage/native_file.h"

#include "faults/faults.h"
#include "kernel/rename_temporaries.h"
#include "kernel/share_modes.h"

#include <winerror.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace winsys::cfb {

HRESULT hresultFromErrno(int error) {
    switch (error) {
    case ENOENT: return STG_E_FILENOTFOUND;
    case ENOTDIR: return STG_E_PATHNOTFOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return STG_E_ACCESSDENIED;
    case EMFILE:
    case ENFILE: return STG_E_TOOMANYOPENFILES;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return STG_E_MEDIUMFULL;
    case ENOMEM: return STG_E_INSUFFICIENTMEMORY;
    case ENAMETOOLONG: return STG_E_INVALIDNAME;
    default: return STG_E_WRITEFAULT;
    }
}

HRESULT NativeFile::open(const std::string& path, bool write, unsigned share,
                         std::shared_ptr<NativeFile>* out) {
    if (uint32_t injected = faults::next(faults::Kind::Open)) return faults::hresultOf(injected);
    int fd = ::open(path.c_str(), (write ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    if (fd < 0) return errno == EISDIR ? STG_E_ACCESSDENIED : hresultFromErrno(errno);
    return adopt(fd, path, write, share, out);
}

HRESULT NativeFile::adopt(int fd, const std::string& path, bool write, unsigned share,
                          std::shared_ptr<NativeFile>* out) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return STG_E_ACCESSDENIED;
    }
    std::shared_ptr<NativeFile> file(new NativeFile(fd, path, uint64_t(st.st_size)));
    // The claim's locks live on fd itself (always open for reading here).
    share::Claim claim;
    DWORD locked = share::claim(fd, share::kReadData | (write ? share::kWriteData : 0), share, &claim);
    if (locked == ERROR_SHARING_VIOLATION) return STG_E_SHAREVIOLATION;
    if (locked != ERROR_SUCCESS) return STG_E_LOCKVIOLATION;
    *out = std::move(file);
    return S_OK;
}

NativeFile::~NativeFile() { ::close(fd_); }

HRESULT NativeFile::readAt(uint64_t offset, void* buffer, size_t count, size_t* done) const {
    size_t total = 0;
    auto* bytes = static_cast<uint8_t*>(buffer);
    while (total < count) {
        ssize_t got = ::pread(fd_, bytes + total, count - total, off_t(offset + total));
        if (got < 0) {
            if (errno == EINTR) continue;
            *done = total;
            return STG_E_READFAULT;
        }
        if (got == 0) break;
        total += size_t(got);
    }
    *done = total;
    return S_OK;
}

SiblingTempFile::~SiblingTempFile() {
    // Deleted while still marked live, so that no sweeper can be on it.
    if (!tempPath_.empty()) ::unlink(tempPath_.c_str());
    if (fd_ >= 0) ::close(fd_);
}

HRESULT SiblingTempFile::create(const std::string& target) {
    target_ = target;
    if (uint32_t injected = faults::next(faults::Kind::Open)) return faults::hresultOf(injected);
    // Locked as live for as long as the descriptor is open: until the
    // destructor, or as the target's own descriptor once renamed.
    std::string path;
    int fd = renames::create(target, &path);
    if (fd < 0) return hresultFromErrno(errno);
    fd_ = fd;
    tempPath_ = path;
    return S_OK;
}

HRESULT SiblingTempFile::replaceTarget(bool write, unsigned share, std::shared_ptr<NativeFile>* out) {
    if (uint32_t injected = faults::next(faults::Kind::Flush)) return faults::hresultOf(injected);
    if (fsync(fd_) != 0) return hresultFromErrno(errno);
    struct stat st {};
    mode_t mode = 0644;
    if (::stat(target_.c_str(), &st) == 0) {
        mode = st.st_mode & 07777;
    } else {
        mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    fchmod(fd_, mode);
    std::shared_ptr<NativeFile> file;
    if (out) {
        int fd = fd_;
        fd_ = -1;
        HRESULT hr = NativeFile::adopt(fd, target_, write, share, &file);
        if (FAILED(hr)) return hr;
    }
    if (uint32_t injected = faults::next(faults::Kind::Move)) return faults::hresultOf(injected);
    if (::rename(tempPath_.c_str(), target_.c_str()) != 0) return hresultFromErrno(errno);
    tempPath_.clear();
    if (file) renames::release(file->fd());
    auto slash = target_.rfind('/');
    std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : target_.substr(0, slash));
    int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        fsync(dirFd);
        ::close(dirFd);
    }
    if (out) *out = std::move(file);
    return S_OK;
}

}  // namespace winsys::cfb
