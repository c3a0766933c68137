// The compound-file writer. Everything is laid out before the first byte is
// written, so the file is produced in one sequential pass.
#include "storage/writer.h"

#include "faults/faults.h"
#include "storage/format.h"
#include "storage/native_file.h"

#include <winerror.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace winsys::cfb {
namespace {

using namespace format;

constexpr uint64_t kVersion3Limit = uint64_t(1) << 31;  // older readers stop at 2 GB
// Small enough to cost few fresh pages in a short-lived process, large
// enough that the system calls do not show.
constexpr size_t kBufferSize = size_t(256) << 10;

class Output {
public:
    explicit Output(int fd) : fd_(fd), buffer_(kBufferSize) {}

    // Room for `count` bytes (at most the buffer size) at the end of the output.
    HRESULT room(size_t count, uint8_t** at) {
        if (used_ + count > buffer_.size()) {
            HRESULT hr = flush();
            if (FAILED(hr)) return hr;
        }
        *at = buffer_.data() + used_;
        used_ += count;
        return S_OK;
    }
    HRESULT put(const void* data, size_t count) {
        auto* p = static_cast<const uint8_t*>(data);
        while (count > 0) {
            size_t piece = std::min(count, buffer_.size());
            uint8_t* at = nullptr;
            HRESULT hr = room(piece, &at);
            if (FAILED(hr)) return hr;
            std::memcpy(at, p, piece);
            p += piece;
            count -= piece;
        }
        return S_OK;
    }
    HRESULT zeros(uint64_t count) {
        while (count > 0) {
            size_t piece = size_t(std::min<uint64_t>(count, buffer_.size()));
            uint8_t* at = nullptr;
            HRESULT hr = room(piece, &at);
            if (FAILED(hr)) return hr;
            std::memset(at, 0, piece);
            count -= piece;
        }
        return S_OK;
    }
    HRESULT put32(uint32_t value) {
        uint8_t* at = nullptr;
        HRESULT hr = room(4, &at);
        if (SUCCEEDED(hr)) format::put32(at, value);
        return hr;
    }
    HRESULT flush() {
        if (uint32_t injected = faults::next(faults::Kind::Write)) return faults::hresultOf(injected);
        size_t done = 0;
        while (done < used_) {
            ssize_t n = ::write(fd_, buffer_.data() + done, used_ - done);
            if (n < 0) {
                if (errno == EINTR) continue;
                return hresultFromErrno(errno);
            }
            done += size_t(n);
        }
        used_ = 0;
        return S_OK;
    }

private:
    int fd_;
    std::vector<uint8_t> buffer_;
    size_t used_ = 0;
};

uint64_t ceilDiv(uint64_t a, uint64_t b) { return (a + b - 1) / b; }

struct Layout {
    uint32_t shift = 9;
    uint64_t sectorSize = 512;
    std::vector<uint32_t> order;           // nodes in directory order
    std::vector<uint64_t> sizes;           // per node
    std::vector<uint32_t> start;           // per node: first (mini) sector
    uint64_t miniSectors = 0;
    uint64_t miniStreamSectors = 0, miniStreamStart = kEndOfChain;
    uint64_t miniFatSectors = 0, miniFatStart = kEndOfChain;
    uint64_t dirSectors = 0, dirStart = 0;
    uint64_t dataSectors = 0;
    uint64_t fatSectors = 0, difatSectors = 0;
    uint64_t totalSectors() const { return dataSectors + fatSectors + difatSectors; }
};

void planSectors(const std::vector<WriteNode>& nodes, Layout* L) {
    uint64_t cursor = 0;
    L->miniSectors = 0;
    for (uint32_t n : L->order) {
        if (nodes[n].type != EntryType::Stream) continue;
        uint64_t size = L->sizes[n];
        if (size == 0) {
            L->start[n] = kEndOfChain;
        } else if (size < kMiniStreamCutoff) {
            L->start[n] = uint32_t(L->miniSectors);
            L->miniSectors += ceilDiv(size, kMiniSectorSize);
        } else {
            L->start[n] = uint32_t(cursor);
            cursor += ceilDiv(size, L->sectorSize);
        }
    }
    L->miniStreamSectors = ceilDiv(L->miniSectors * kMiniSectorSize, L->sectorSize);
    L->miniStreamStart = L->miniStreamSectors ? cursor : kEndOfChain;
    cursor += L->miniStreamSectors;
    L->miniFatSectors = ceilDiv(L->miniSectors * 4, L->sectorSize);
    L->miniFatStart = L->miniFatSectors ? cursor : kEndOfChain;
    cursor += L->miniFatSectors;
    L->dirSectors = ceilDiv(L->order.size() * kDirEntrySize, L->sectorSize);
    L->dirStart = cursor;
    cursor += L->dirSectors;
    L->dataSectors = cursor;
    // The FAT covers every sector, its own and the DIFAT's included.
    const uint64_t perFat = L->sectorSize / 4;
    uint64_t fat = 1, difat = 0;
    for (;;) {
        difat = fat > kHeaderDifatSlots ? ceilDiv(fat - kHeaderDifatSlots, perFat - 1) : 0;
        uint64_t need = ceilDiv(cursor + fat + difat, perFat);
        if (need <= fat) break;
        fat = need;
    }
    L->fatSectors = fat;
    L->difatSectors = difat;
}

// Links the children of each storage into a balanced binary tree: the middle
// child is the root of each subtree, nodes of an incomplete deepest level are
// red and all others black, which is a valid red-black tree.
struct TreeLinks {
    std::vector<uint32_t> left, right, child;
    std::vector<uint8_t> colour;
};

uint32_t linkRange(const std::vector<uint32_t>& sorted, size_t lo, size_t hi, unsigned depth,
                   unsigned redDepth, const std::vector<uint32_t>& dirIndex, TreeLinks* t) {
    if (lo >= hi) return kNoStream;
    size_t mid = lo + (hi - lo) / 2;
    uint32_t node = sorted[mid];
    uint32_t d = dirIndex[node];
    t->colour[d] = depth == redDepth ? kRed : kBlack;
    t->left[d] = linkRange(sorted, lo, mid, depth + 1, redDepth, dirIndex, t);
    t->right[d] = linkRange(sorted, mid + 1, hi, depth + 1, redDepth, dirIndex, t);
    return d;
}

HRESULT copyContent(Output& out, const ByteSource& source, uint64_t size) {
    uint64_t pos = 0;
    while (pos < size) {
        size_t piece = size_t(std::min<uint64_t>(size - pos, kBufferSize));
        uint8_t* at = nullptr;
        HRESULT hr = out.room(piece, &at);
        if (FAILED(hr)) return hr;
        size_t got = 0;
        hr = source.readAt(pos, at, piece, &got);
        if (FAILED(hr)) return hr;
        if (got != piece) return STG_E_READFAULT;  // the source shrank under us
        pos += piece;
    }
    return S_OK;
}

}  // namespace

HRESULT writeCompoundFile(int fd, const std::vector<WriteNode>& nodes, Version preferred,
                          WriteResult* result) {
    try {
        Layout L;
        L.sizes.assign(nodes.size(), 0);
        L.start.assign(nodes.size(), 0);
        result->directoryIndex.assign(nodes.size(), kNoStream);
        // Directory order: depth first, children in name order.
        std::vector<uint32_t> stack{0};
        while (!stack.empty()) {
            uint32_t n = stack.back();
            stack.pop_back();
            result->directoryIndex[n] = uint32_t(L.order.size());
            L.order.push_back(n);
            const auto& kids = nodes[n].children;
            for (auto it = kids.rbegin(); it != kids.rend(); ++it) stack.push_back(*it);
            if (nodes[n].type == EntryType::Stream && nodes[n].content) L.sizes[n] = nodes[n].content->size();
        }
        Version version = preferred;
        for (;;) {
            L.shift = version == Version::V3 ? 9 : 12;
            L.sectorSize = uint64_t(1) << L.shift;
            planSectors(nodes, &L);
            if ((L.totalSectors() + 1) * L.sectorSize <= kVersion3Limit || version == Version::V4) break;
            version = Version::V4;
        }
        if (L.totalSectors() > kMaxRegularSector) return STG_E_MEDIUMFULL;
        result->version = version;
        const uint64_t S = L.sectorSize;
        const uint64_t fatStart = L.dataSectors;
        const uint64_t difatStart = fatStart + L.fatSectors;

        Output out(fd);
        // Header.
        std::vector<uint8_t> header(S, 0);
        std::memcpy(header.data(), kSignature, sizeof kSignature);
        put16(header.data() + kOffMinor, kMinorVersion);
        put16(header.data() + kOffMajor, uint16_t(version));
        put16(header.data() + kOffByteOrder, kByteOrderMark);
        put16(header.data() + kOffSectorShift, uint16_t(L.shift));
        put16(header.data() + kOffMiniShift, 6);
        put32(header.data() + kOffDirSectors, version == Version::V4 ? uint32_t(L.dirSectors) : 0);
        put32(header.data() + kOffFatSectors, uint32_t(L.fatSectors));
        put32(header.data() + kOffFirstDir, uint32_t(L.dirStart));
        put32(header.data() + kOffCutoff, uint32_t(kMiniStreamCutoff));
        put32(header.data() + kOffFirstMiniFat, uint32_t(L.miniFatStart));
        put32(header.data() + kOffMiniFatSectors, uint32_t(L.miniFatSectors));
        put32(header.data() + kOffFirstDifat, L.difatSectors ? uint32_t(difatStart) : kEndOfChain);
        put32(header.data() + kOffDifatSectors, uint32_t(L.difatSectors));
        for (size_t i = 0; i < kHeaderDifatSlots; ++i)
            put32(header.data() + kOffDifat + 4 * i, i < L.fatSectors ? uint32_t(fatStart + i) : kFreeSector);
        HRESULT hr = out.put(header.data(), header.size());
        if (FAILED(hr)) return hr;

        // Regular streams, in directory order (as planned).
        for (uint32_t n : L.order) {
            uint64_t size = L.sizes[n];
            if (nodes[n].type != EntryType::Stream || size < kMiniStreamCutoff) continue;
            hr = copyContent(out, *nodes[n].content, size);
            if (SUCCEEDED(hr)) hr = out.zeros(ceilDiv(size, S) * S - size);
            if (FAILED(hr)) return hr;
        }
        // The mini stream.
        for (uint32_t n : L.order) {
            uint64_t size = L.sizes[n];
            if (nodes[n].type != EntryType::Stream || size == 0 || size >= kMiniStreamCutoff) continue;
            hr = copyContent(out, *nodes[n].content, size);
            if (SUCCEEDED(hr)) hr = out.zeros(ceilDiv(size, kMiniSectorSize) * kMiniSectorSize - size);
            if (FAILED(hr)) return hr;
        }
        hr = out.zeros(L.miniStreamSectors * S - L.miniSectors * kMiniSectorSize);
        if (FAILED(hr)) return hr;
        // The MiniFAT: one chain of consecutive mini sectors per small stream.
        for (uint32_t n : L.order) {
            uint64_t size = L.sizes[n];
            if (nodes[n].type != EntryType::Stream || size == 0 || size >= kMiniStreamCutoff) continue;
            uint64_t count = ceilDiv(size, kMiniSectorSize);
            for (uint64_t i = 1; i <= count; ++i) {
                hr = out.put32(i == count ? kEndOfChain : uint32_t(L.start[n] + i));
                if (FAILED(hr)) return hr;
            }
        }
        for (uint64_t i = L.miniSectors; i < L.miniFatSectors * S / 4; ++i) {
            hr = out.put32(kFreeSector);
            if (FAILED(hr)) return hr;
        }
        // The directory.
        const size_t entryCount = size_t(L.dirSectors * S / kDirEntrySize);
        TreeLinks links;
        links.left.assign(entryCount, kNoStream);
        links.right.assign(entryCount, kNoStream);
        links.child.assign(entryCount, kNoStream);
        links.colour.assign(entryCount, kBlack);
        for (uint32_t n : L.order) {
            const auto& kids = nodes[n].children;
            if (kids.empty()) continue;
            unsigned levels = 0;
            while ((size_t(1) << levels) - 1 < kids.size()) ++levels;
            unsigned redDepth = ((size_t(1) << levels) - 1 == kids.size()) ? ~0u : levels - 1;
            links.child[result->directoryIndex[n]] =
                linkRange(kids, 0, kids.size(), 0, redDepth, result->directoryIndex, &links);
        }
        for (size_t d = 0; d < entryCount; ++d) {
            uint8_t* e = nullptr;
            hr = out.room(kDirEntrySize, &e);
            if (FAILED(hr)) return hr;
            std::memset(e, 0, kDirEntrySize);
            put32(e + kEntLeft, kNoStream);
            put32(e + kEntRight, kNoStream);
            put32(e + kEntChild, kNoStream);
            if (d >= L.order.size()) continue;
            uint32_t n = L.order[d];
            const WriteNode& node = nodes[n];
            for (size_t c = 0; c < node.name.size() && c < kMaxNameLength; ++c)
                put16(e + kEntName + 2 * c, uint16_t(node.name[c]));
            put16(e + kEntNameLength, uint16_t((std::min(node.name.size(), kMaxNameLength) + 1) * 2));
            e[kEntType] = d == 0 ? kTypeRoot : uint8_t(node.type);
            e[kEntColour] = links.colour[d];
            put32(e + kEntLeft, links.left[d]);
            put32(e + kEntRight, links.right[d]);
            put32(e + kEntChild, links.child[d]);
            if (node.type != EntryType::Stream) {
                putGuid(e + kEntClsid, node.clsid);
                put64(e + kEntCreated, node.created);
                put64(e + kEntModified, node.modified);
            }
            put32(e + kEntState, node.stateBits);
            if (d == 0) {
                put32(e + kEntStart, uint32_t(L.miniStreamStart));
                put64(e + kEntSize, L.miniSectors * kMiniSectorSize);
            } else if (node.type == EntryType::Stream) {
                put32(e + kEntStart, L.start[n]);
                put64(e + kEntSize, L.sizes[n]);
            }
        }
        // The FAT.
        auto chain = [&](uint64_t first, uint64_t count) -> HRESULT {
            for (uint64_t i = 1; i <= count; ++i) {
                HRESULT r = out.put32(i == count ? kEndOfChain : uint32_t(first + i));
                if (FAILED(r)) return r;
            }
            return S_OK;
        };
        for (uint32_t n : L.order) {
            uint64_t size = L.sizes[n];
            if (nodes[n].type != EntryType::Stream || size < kMiniStreamCutoff) continue;
            hr = chain(L.start[n], ceilDiv(size, S));
            if (FAILED(hr)) return hr;
        }
        if (SUCCEEDED(hr)) hr = chain(L.miniStreamStart, L.miniStreamSectors);
        if (SUCCEEDED(hr)) hr = chain(L.miniFatStart, L.miniFatSectors);
        if (SUCCEEDED(hr)) hr = chain(L.dirStart, L.dirSectors);
        for (uint64_t i = 0; i < L.fatSectors && SUCCEEDED(hr); ++i) hr = out.put32(kFatSector);
        for (uint64_t i = 0; i < L.difatSectors && SUCCEEDED(hr); ++i) hr = out.put32(kDifatSector);
        for (uint64_t i = L.totalSectors(); i < L.fatSectors * S / 4 && SUCCEEDED(hr); ++i) hr = out.put32(kFreeSector);
        if (FAILED(hr)) return hr;
        // DIFAT sectors: the FAT sectors past the header's 109.
        const uint64_t perDifat = S / 4 - 1;
        for (uint64_t k = 0; k < L.difatSectors; ++k) {
            for (uint64_t i = 0; i < perDifat; ++i) {
                uint64_t fatIndex = kHeaderDifatSlots + k * perDifat + i;
                hr = out.put32(fatIndex < L.fatSectors ? uint32_t(fatStart + fatIndex) : kFreeSector);
                if (FAILED(hr)) return hr;
            }
            hr = out.put32(k + 1 < L.difatSectors ? uint32_t(difatStart + k + 1) : kEndOfChain);
            if (FAILED(hr)) return hr;
        }
        return out.flush();
    } catch (const std::bad_alloc&) {
        return STG_E_INSUFFICIENTMEMORY;
    }
}

}  // namespace winsys::cfb
