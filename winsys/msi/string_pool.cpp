// String pool codec: _StringPool holds a code-page header and one
// (length, reference count) slot per id; _StringData the bytes back to back.
#include "string_pool.h"

#include <algorithm>
#include <cstring>

#include "codepage.h"

namespace winsys::msi {
namespace {

uint16_t u16at(std::span<const uint8_t> b, size_t off) { return uint16_t(b[off] | (b[off + 1] << 8)); }

void putU16(std::vector<uint8_t>& v, uint32_t x) {
    uint8_t bytes[2] = {uint8_t(x), uint8_t(x >> 8)};
    v.insert(v.end(), bytes, bytes + 2);
}

}  // namespace

// Eight bytes at a time: a table of tens of thousands of short strings is
// hashed on every open.
uint32_t StringPool::hashOf(std::u16string_view s) {
    const char* bytes = reinterpret_cast<const char*>(s.data());
    size_t size = s.size() * sizeof(char16_t);
    uint64_t h = 0x9E3779B97F4A7C15ull ^ size;
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        uint64_t word;
        std::memcpy(&word, bytes + i, 8);
        h = (h ^ word) * 0xFF51AFD7ED558CCDull;
        h ^= h >> 29;
    }
    if (i < size) {
        uint64_t word = 0;
        std::memcpy(&word, bytes + i, size - i);
        h = (h ^ word) * 0xFF51AFD7ED558CCDull;
    }
    h ^= h >> 32;
    h *= 0xC4CEB9FE1A85EC53ull;
    return uint32_t(h ^ (h >> 29));
}

size_t StringPool::slotOf(std::u16string_view s, uint32_t hash) const {
    size_t mask = slots_.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        uint64_t slot = slots_[i];
        if (slot == 0) return i;
        if (uint32_t(slot >> 32) == hash && text(uint32_t(slot)) == s) return i;
    }
}

void StringPool::rehash(size_t slotCount) {
    std::vector<uint64_t> old = std::move(slots_);
    slots_.assign(slotCount, 0);
    size_t mask = slotCount - 1;
    for (uint64_t slot : old) {
        if (slot == 0) continue;
        size_t i = size_t(slot >> 32) & mask;
        while (slots_[i] != 0) i = (i + 1) & mask;
        slots_[i] = slot;
    }
}

void StringPool::reserve(size_t count) {
    size_t want = 16;
    while (want < count * 2) want *= 2;
    if (want > slots_.size()) rehash(want);
}

void StringPool::index(uint32_t id) {
    if ((indexed_ + 1) * 2 > slots_.size()) rehash(std::max<size_t>(16, slots_.size() * 2));
    std::u16string_view s = text(id);
    uint32_t hash = hashOf(s);
    size_t slot = slotOf(s, hash);
    if (slots_[slot] != 0) return;  // a duplicate: the first one keeps the text
    slots_[slot] = (uint64_t(hash) << 32) | id;
    ++indexed_;
}

uint32_t StringPool::intern(std::u16string_view s) {
    if (s.empty()) return 0;
    if (auto id = find(s)) return *id;
    uint32_t id;
    if (!free_.empty()) {
        id = free_.back();
        free_.pop_back();
    } else {
        id = uint32_t(entries_.size());
        entries_.emplace_back();
    }
    texts_.emplace_back(s);
    entries_[id] = Entry{uint32_t(texts_.size() - 1) | kAdded, uint32_t(s.size())};
    index(id);
    return id;
}

std::optional<uint32_t> StringPool::find(std::u16string_view s) const {
    if (s.empty()) return 0u;
    if (slots_.empty()) return std::nullopt;
    auto id = uint32_t(slots_[slotOf(s, hashOf(s))]);
    if (id == 0) return std::nullopt;
    return id;
}

std::optional<std::string_view> StringPool::storedBytes(uint32_t id) const {
    if (id >= entries_.size() || entries_[id].storedOffset == kNotStored || codepage != storedCodepage_)
        return std::nullopt;
    return std::string_view(reinterpret_cast<const char*>(stored_->data()) + entries_[id].storedOffset,
                            entries_[id].storedLength);
}

void StringPool::collectHoles() {
    free_.clear();
    for (uint32_t id = uint32_t(entries_.size()); id-- > 1;)
        if (entries_[id].text == kNoText) free_.push_back(id);
}

bool decodeStringPool(std::span<const uint8_t> pool, std::span<const uint8_t> data, StringPool* out,
                      bool* wideRefs, std::vector<uint32_t>* refCounts) {
    return decodeStringPoolKeeping(pool, std::vector<uint8_t>(data.begin(), data.end()), out, wideRefs, refCounts);
}

bool decodeStringPoolKeeping(std::span<const uint8_t> pool, std::vector<uint8_t> data, StringPool* out,
                             bool* wideRefs, std::vector<uint32_t>* refCounts) {
    *out = StringPool();
    *wideRefs = false;
    if (refCounts) refCounts->assign(1, 0);
    if (pool.empty()) return data.empty();
    if (pool.size() < 4) return false;
    uint32_t header = pool[0] | (pool[1] << 8) | (pool[2] << 16) | (uint32_t(pool[3]) << 24);
    out->codepage = header & 0x7FFFFFFF;
    out->storedCodepage_ = out->codepage;
    *wideRefs = (header & 0x80000000u) != 0;
    if (!isSupportedCodepage(out->codepage)) return false;
    size_t slots = (pool.size() - 4) / 4;
    if (data.size() >= StringPool::kAdded) return false;  // offsets are 31-bit
    out->stored_ = std::make_shared<const std::vector<uint8_t>>(std::move(data));
    std::vector<StringPool::Entry>& entries = out->entries_;
    // Sized for the most ids the slots can hold; trimmed to the last one.
    entries.resize(slots + 1);
    if (refCounts) refCounts->assign(slots + 1, 0);
    uint32_t limit = 1;
    std::string_view bytes(reinterpret_cast<const char*>(out->stored_->data()), out->stored_->size());
    // Usually every string is ASCII: then one pass widens them all, and each
    // text starts where its bytes do. Otherwise each is decoded in turn; no
    // code page makes more UTF-16 units than bytes, so the buffer never moves
    // while it fills.
    bool ascii = isAscii(bytes);
    std::u16string decoded;
    std::vector<uint32_t> textOffsets;  // of decoded texts, made into pointers at the end
    if (!ascii) textOffsets.resize(slots + 1);
    if (ascii) {
        out->readTexts_ = std::make_unique_for_overwrite<char16_t[]>(bytes.size());
        widenAscii(bytes, out->readTexts_.get());
    } else {
        decoded.reserve(bytes.size());
    }
    size_t offset = 0;
    uint32_t id = 1;
    for (size_t slot = 0; slot < slots; ++slot, ++id) {
        size_t at = 4 + slot * 4;
        uint32_t len = u16at(pool, at);
        uint32_t refs = u16at(pool, at + 2);
        if (len == 0 && refs == 0) continue;  // hole
        if (len == 0) {
            // A long string: the next slot carries the length, without an id.
            if (++slot >= slots) return false;
            at = 4 + slot * 4;
            len = u16at(pool, at) | (uint32_t(u16at(pool, at + 2)) << 16);
        }
        if (len > bytes.size() - offset) return false;
        size_t textStart = ascii ? offset : decoded.size();
        if (!ascii) appendDecoded(out->codepage, bytes.substr(offset, len), decoded);
        size_t textEnd = ascii ? offset + len : decoded.size();
        limit = id + 1;
        entries[id].length = uint32_t(textEnd - textStart);
        entries[id].storedOffset = uint32_t(offset);
        entries[id].storedLength = len;
        if (!ascii) textOffsets[id] = uint32_t(textStart);
        offset += len;
        if (refCounts) (*refCounts)[id] = refs;
    }
    if (offset != bytes.size()) return false;
    entries.resize(limit);
    if (refCounts) refCounts->resize(limit);
    out->readBase_ = ascii ? out->readTexts_.get() : out->texts_.emplace_back(std::move(decoded)).data();
    for (uint32_t i = 1; i < entries.size(); ++i)
        if (entries[i].storedOffset != StringPool::kNotStored)
            entries[i].text = ascii ? entries[i].storedOffset : textOffsets[i];
    out->reserve(entries.size());
    for (uint32_t i = 1; i < entries.size(); ++i)
        if (entries[i].text != StringPool::kNoText) out->index(i);
    out->collectHoles();
    return true;
}

bool encodeStringPool(const StringPool& pool, std::span<const uint32_t> refCounts, EncodedPool* out, bool apart) {
    out->pool.clear();
    out->data.clear();
    out->pieces.clear();
    uint32_t last = 0;  // largest id written
    // Room for every byte at once: growing by doubling would copy and touch
    // about twice the bytes of a large pool.
    size_t dataBound = 0;
    for (uint32_t id = 1; id < pool.limit() && id < refCounts.size(); ++id) {
        if (!refCounts[id] || !pool.valid(id)) continue;
        last = id;
        auto stored = pool.storedBytes(id);
        if (!stored) dataBound += pool.text(id).size() * 3;
        else if (!apart) dataBound += stored->size();
    }
    out->data.reserve(dataBound);
    out->wideRefs = last > 0xFFFF;
    uint32_t header = pool.codepage | (out->wideRefs ? 0x80000000u : 0);
    for (int i = 0; i < 4; ++i) out->pool.push_back(uint8_t(header >> (8 * i)));
    out->pool.reserve(4 + size_t(last) * 4 + 64);
    // Texts as read go back as the bytes they were read from, a run of
    // neighbours at a time.
    const char* run = nullptr;
    size_t runLength = 0;
    const char* storedBase = pool.storedData() ? reinterpret_cast<const char*>(pool.storedData()->data()) : nullptr;
    auto addPiece = [&](bool stored, size_t offset, size_t length) {
        auto& pieces = out->pieces;
        if (!pieces.empty() && pieces.back().stored == stored &&
            pieces.back().offset + pieces.back().length == offset)
            pieces.back().length += length;
        else if (length)
            pieces.push_back({stored, offset, length});
    };
    auto flush = [&] {
        if (apart) addPiece(true, size_t(run - storedBase), runLength);
        else out->data.append(run, runLength);
        run = nullptr;
        runLength = 0;
    };
    for (uint32_t id = 1; id <= last; ++id) {
        if (!refCounts[id] || !pool.valid(id)) {
            putU16(out->pool, 0);
            putU16(out->pool, 0);
            continue;
        }
        size_t length;
        if (auto stored = pool.storedBytes(id)) {
            if (run && run + runLength != stored->data()) flush();
            if (!run) run = stored->data();
            runLength += stored->size();
            length = stored->size();
        } else {
            if (run) flush();
            size_t before = out->data.size();
            if (!appendEncoded(pool.codepage, pool.text(id), out->data)) return false;
            length = out->data.size() - before;
            if (apart) addPiece(false, before, length);
        }
        uint32_t refs = std::min<uint32_t>(refCounts[id], 0xFFFF);
        if (length > 0xFFFF) {
            putU16(out->pool, 0);
            putU16(out->pool, refs);
            putU16(out->pool, uint32_t(length & 0xFFFF));
            putU16(out->pool, uint32_t(length >> 16));
        } else {
            putU16(out->pool, uint32_t(length));
            putU16(out->pool, refs);
        }
    }
    if (run) flush();
    return true;
}

}  // namespace winsys::msi
