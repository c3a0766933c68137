// Reading a compound file: the header, DIFAT, FAT, MiniFAT, directory and the
// sector chains of streams, with every link checked against the file.
#include "storage/image.h"

#include "storage/format.h"

#include <winerror.h>

#include <algorithm>
#include <cstring>

namespace winsys::cfb {
namespace {

using namespace format;

bool hasDuplicates(std::vector<uint32_t> sectors) {
    std::sort(sectors.begin(), sectors.end());
    return std::adjacent_find(sectors.begin(), sectors.end()) != sectors.end();
}

// A stream of the file, read through its sector chain; the chain is
// followed once, on first use.
class ChainSource final : public ByteSource {
public:
    ChainSource(std::shared_ptr<const Image> image, uint32_t start, uint64_t size, bool mini)
        : image_(std::move(image)), start_(start), size_(size), mini_(mini) {}

    uint64_t size() const override { return size_; }

    HRESULT readAt(uint64_t offset, void* buffer, size_t count, size_t* done) const override {
        *done = 0;
        if (offset >= size_ || count == 0) return S_OK;
        if (count > size_ - offset) count = size_t(size_ - offset);
        HRESULT hr = ensureChain();
        if (FAILED(hr)) return hr;
        const uint64_t unitShift = mini_ ? 6 : image_->sectorShift();
        const uint64_t unit = uint64_t(1) << unitShift;
        auto* out = static_cast<uint8_t*>(buffer);
        uint64_t pos = offset;
        size_t left = count;
        // Gather pieces that lie back to back in the file into one read.
        uint64_t runOffset = 0, runLength = 0;
        uint8_t* runTarget = out;
        auto flush = [&]() -> HRESULT {
            if (runLength == 0) return S_OK;
            size_t got = 0;
            HRESULT r = image_->file()->readAt(runOffset, runTarget, size_t(runLength), &got);
            if (FAILED(r)) return r;
            // A last sector cut short by the end of the file reads as zeros.
            if (got < runLength) std::memset(runTarget + got, 0, size_t(runLength - got));
            return S_OK;
        };
        while (left > 0) {
            uint64_t index = pos >> unitShift;
            uint64_t within = pos & (unit - 1);
            uint64_t piece = std::min<uint64_t>(unit - within, left);
            uint64_t fileOffset = 0;
            if (!mini_) {
                fileOffset = image_->sectorOffset(chain_[index]) + within;
            } else {
                uint64_t miniPos = (uint64_t(chain_[index]) << 6) + within;
                const auto& host = image_->miniStreamSectors();
                uint64_t hostIndex = miniPos >> image_->sectorShift();
                if (hostIndex >= host.size()) return STG_E_DOCFILECORRUPT;
                fileOffset = image_->sectorOffset(host[hostIndex]) +
                             (miniPos & ((uint64_t(1) << image_->sectorShift()) - 1));
            }
            uint8_t* target = out + (pos - offset);
            if (runLength > 0 && runOffset + runLength == fileOffset) {
                runLength += piece;
            } else {
                hr = flush();
                if (FAILED(hr)) return hr;
                runOffset = fileOffset;
                runLength = piece;
                runTarget = target;
            }
            pos += piece;
            left -= size_t(piece);
        }
        hr = flush();
        if (FAILED(hr)) return hr;
        *done = count;
        return S_OK;
    }

private:
    HRESULT ensureChain() const {
        std::lock_guard<std::mutex> guard(mutex_);
        if (!chainKnown_) {
            chainResult_ = mini_ ? image_->miniChain(start_, size_, &chain_)
                                 : image_->regularChain(start_, size_, &chain_);
            chainKnown_ = true;
        }
        return chainResult_;
    }

    std::shared_ptr<const Image> image_;
    uint32_t start_;
    uint64_t size_;
    bool mini_;
    mutable std::mutex mutex_;
    mutable bool chainKnown_ = false;
    mutable HRESULT chainResult_ = S_OK;
    mutable std::vector<uint32_t> chain_;
};

class EmptySource final : public ByteSource {
public:
    uint64_t size() const override { return 0; }
    HRESULT readAt(uint64_t, void*, size_t, size_t* done) const override {
        *done = 0;
        return S_OK;
    }
};

}  // namespace

HRESULT Image::load(std::shared_ptr<NativeFile> file, std::shared_ptr<Image>* out) {
    try {
        std::shared_ptr<Image> image(new Image(std::move(file)));
        HRESULT hr = image->parse();
        if (FAILED(hr)) return hr;
        *out = std::move(image);
        return S_OK;
    } catch (const std::bad_alloc&) {
        return STG_E_INSUFFICIENTMEMORY;
    }
}

HRESULT Image::readSector(uint32_t sector, uint8_t* buffer) const {
    if (sector >= sectorCount_) return STG_E_DOCFILECORRUPT;
    size_t got = 0;
    HRESULT hr = file_->readAt(sectorOffset(sector), buffer, sectorSize_, &got);
    if (FAILED(hr)) return hr;
    if (got < sectorSize_) std::memset(buffer + got, 0, sectorSize_ - got);
    return S_OK;
}

HRESULT Image::parse() {
    uint8_t header[kHeaderSize] = {};
    size_t got = 0;
    HRESULT hr = file_->readAt(0, header, sizeof header, &got);
    if (FAILED(hr)) return hr;
    if (got < sizeof kSignature || std::memcmp(header, kSignature, sizeof kSignature) != 0)
        return STG_E_FILEALREADYEXISTS;
    if (got < kHeaderSize) return STG_E_INVALIDHEADER;

    const uint16_t major = get16(header + kOffMajor);
    const uint16_t shift = get16(header + kOffSectorShift);
    if (get16(header + kOffByteOrder) != kByteOrderMark) return STG_E_INVALIDHEADER;
    if (major == 3 && shift == 9) {
        version_ = Version::V3;
    } else if (major == 4 && shift == 12) {
        version_ = Version::V4;
    } else {
        return STG_E_INVALIDHEADER;
    }
    if (get16(header + kOffMiniShift) != 6 || get32(header + kOffCutoff) != kMiniStreamCutoff)
        return STG_E_INVALIDHEADER;
    shift_ = shift;
    sectorSize_ = 1u << shift;
    const uint64_t fileSize = file_->size();
    sectorCount_ = fileSize > sectorSize_ ? (fileSize - sectorSize_ + sectorSize_ - 1) >> shift_ : 0;
    sectorCount_ = std::min<uint64_t>(sectorCount_, uint64_t(kMaxRegularSector) + 1);

    // FAT sector numbers: 109 in the header, the rest in the DIFAT chain.
    const uint32_t fatSectors = get32(header + kOffFatSectors);
    if (fatSectors > sectorCount_) return STG_E_DOCFILECORRUPT;
    std::vector<uint32_t> fatLocations;
    fatLocations.reserve(fatSectors);
    for (size_t i = 0; i < kHeaderDifatSlots && fatLocations.size() < fatSectors; ++i)
        fatLocations.push_back(get32(header + kOffDifat + 4 * i));
    std::vector<uint8_t> sector(sectorSize_);
    const uint32_t perSector = sectorSize_ / 4;
    uint32_t difat = get32(header + kOffFirstDifat);
    uint32_t difatLeft = get32(header + kOffDifatSectors);
    std::vector<uint32_t> difatSeen;
    while (fatLocations.size() < fatSectors) {
        if (difatLeft == 0 || difat >= sectorCount_ || difatSeen.size() > sectorCount_)
            return STG_E_DOCFILECORRUPT;
        difatSeen.push_back(difat);
        hr = readSector(difat, sector.data());
        if (FAILED(hr)) return hr;
        for (uint32_t i = 0; i + 1 < perSector && fatLocations.size() < fatSectors; ++i)
            fatLocations.push_back(get32(sector.data() + 4 * i));
        difat = get32(sector.data() + 4 * (perSector - 1));
        --difatLeft;
    }
    if (hasDuplicates(difatSeen) || hasDuplicates(fatLocations)) return STG_E_DOCFILECORRUPT;

    fat_.resize(size_t(fatSectors) * perSector);
    for (uint32_t i = 0; i < fatSectors; ++i) {
        hr = readSector(fatLocations[i], sector.data());
        if (FAILED(hr)) return hr;
        for (uint32_t j = 0; j < perSector; ++j) fat_[size_t(i) * perSector + j] = get32(sector.data() + 4 * j);
    }

    // The directory.
    std::vector<uint32_t> dirSectors;
    hr = openEndedChain(get32(header + kOffFirstDir), &dirSectors);
    if (FAILED(hr)) return hr;
    if (dirSectors.empty()) return STG_E_DOCFILECORRUPT;
    const uint32_t entriesPerSector = sectorSize_ / kDirEntrySize;
    entries_.reserve(dirSectors.size() * entriesPerSector);
    for (uint32_t s : dirSectors) {
        hr = readSector(s, sector.data());
        if (FAILED(hr)) return hr;
        for (uint32_t k = 0; k < entriesPerSector; ++k) {
            const uint8_t* e = sector.data() + k * kDirEntrySize;
            DirEntry entry;
            entry.type = e[kEntType];
            uint16_t nameBytes = get16(e + kEntNameLength);
            if (entry.type != kTypeEmpty) {
                if (nameBytes < 2 || nameBytes > 64 || (nameBytes & 1)) return STG_E_DOCFILECORRUPT;
                for (uint16_t c = 0; c + 2 < nameBytes; c += 2) entry.name.push_back(char16_t(get16(e + c)));
            }
            entry.left = get32(e + kEntLeft);
            entry.right = get32(e + kEntRight);
            entry.child = get32(e + kEntChild);
            entry.clsid = getGuid(e + kEntClsid);
            entry.stateBits = get32(e + kEntState);
            entry.created = get64(e + kEntCreated);
            entry.modified = get64(e + kEntModified);
            entry.start = get32(e + kEntStart);
            entry.size = get64(e + kEntSize);
            // Old writers left garbage in the high half of version 3 sizes.
            if (version_ == Version::V3) entry.size &= 0xFFFFFFFFu;
            entries_.push_back(std::move(entry));
        }
    }
    if (entries_[0].type != kTypeRoot) return STG_E_DOCFILECORRUPT;

    // MiniFAT and the mini stream.
    const uint32_t firstMiniFat = get32(header + kOffFirstMiniFat);
    if (firstMiniFat != kEndOfChain && firstMiniFat != kFreeSector) {
        std::vector<uint32_t> miniFatSectors;
        hr = openEndedChain(firstMiniFat, &miniFatSectors);
        if (FAILED(hr)) return hr;
        miniFat_.resize(miniFatSectors.size() * perSector);
        for (size_t i = 0; i < miniFatSectors.size(); ++i) {
            hr = readSector(miniFatSectors[i], sector.data());
            if (FAILED(hr)) return hr;
            for (uint32_t j = 0; j < perSector; ++j) miniFat_[i * perSector + j] = get32(sector.data() + 4 * j);
        }
    }
    miniStreamSize_ = entries_[0].size;
    if (miniStreamSize_ > 0) {
        hr = regularChain(entries_[0].start, miniStreamSize_, &miniStreamSectors_);
        if (FAILED(hr)) return hr;
    }
    // A stream cannot be longer than what holds it. Readers size their buffer
    // from the declared length, so a hostile one would otherwise cost gigabytes
    // before its chain is ever found short.
    const uint64_t regularCapacity = sectorCount_ << shift_;
    for (const DirEntry& entry : entries_) {
        if (entry.type != kTypeStream) continue;
        const uint64_t capacity = entry.size < kMiniStreamCutoff ? miniStreamSize_ : regularCapacity;
        if (entry.size > capacity) return STG_E_DOCFILECORRUPT;
    }
    return S_OK;
}

HRESULT Image::openEndedChain(uint32_t start, std::vector<uint32_t>* out) const {
    out->clear();
    uint32_t s = start;
    while (s != kEndOfChain) {
        if (s >= sectorCount_ || s >= fat_.size() || out->size() >= sectorCount_) return STG_E_DOCFILECORRUPT;
        out->push_back(s);
        s = fat_[s];
    }
    return hasDuplicates(*out) ? STG_E_DOCFILECORRUPT : S_OK;
}

HRESULT Image::regularChain(uint32_t start, uint64_t length, std::vector<uint32_t>* out) const {
    out->clear();
    const uint64_t needed = (length + sectorSize_ - 1) >> shift_;
    if (needed > sectorCount_) return STG_E_DOCFILECORRUPT;
    out->reserve(size_t(needed));
    uint32_t s = start;
    for (uint64_t i = 0; i < needed; ++i) {
        if (s >= sectorCount_ || s >= fat_.size()) return STG_E_DOCFILECORRUPT;
        out->push_back(s);
        s = fat_[s];
    }
    return hasDuplicates(*out) ? STG_E_DOCFILECORRUPT : S_OK;
}

HRESULT Image::miniChain(uint32_t start, uint64_t length, std::vector<uint32_t>* out) const {
    out->clear();
    const uint64_t available = std::min<uint64_t>(
        miniFat_.size(), (uint64_t(miniStreamSectors_.size()) << shift_) / kMiniSectorSize);
    const uint64_t needed = (length + kMiniSectorSize - 1) / kMiniSectorSize;
    if (needed > available) return STG_E_DOCFILECORRUPT;
    out->reserve(size_t(needed));
    uint32_t s = start;
    for (uint64_t i = 0; i < needed; ++i) {
        if (s >= available) return STG_E_DOCFILECORRUPT;
        out->push_back(s);
        s = miniFat_[s];
    }
    return hasDuplicates(*out) ? STG_E_DOCFILECORRUPT : S_OK;
}

std::shared_ptr<const ByteSource> Image::streamSource(uint32_t index) const {
    const DirEntry& e = entries_[index];
    if (e.size == 0) return std::make_shared<EmptySource>();
    return std::make_shared<ChainSource>(shared_from_this(), e.start, e.size, e.size < kMiniStreamCutoff);
}

}  // namespace winsys::cfb
