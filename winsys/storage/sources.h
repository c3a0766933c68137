// Byte sources that hold new stream contents until a commit writes them:
// bytes in memory, a spill buffer that moves to an unlinked temporary file
// once it grows past a few megabytes, and a file read where it lies.
#pragma once

#include "storage/compound_file.h"

#include <memory>
#include <string>
#include <vector>

namespace winsys::cfb {

// The contents of a native file. Small files are read at once; larger ones
// stay open and are read piecewise when the commit copies them, so that a
// stream of any size costs bounded memory. A file that shrinks before then
// makes that copy fail rather than store less.
HRESULT fileSource(const std::string& path, std::shared_ptr<const ByteSource>* out);

class SpillBuffer final : public ByteSource {
public:
    static constexpr size_t kMemoryLimit = size_t(4) << 20;
    SpillBuffer() = default;
    ~SpillBuffer() override;
    SpillBuffer(const SpillBuffer&) = delete;
    SpillBuffer& operator=(const SpillBuffer&) = delete;

    HRESULT append(const void* data, size_t count);
    uint64_t size() const override { return size_; }
    HRESULT readAt(uint64_t offset, void* buffer, size_t count, size_t* done) const override;

private:
    HRESULT spill();
    std::vector<uint8_t> memory_;
    int fd_ = -1;
    uint64_t size_ = 0;
};

}  // namespace winsys::cfb
