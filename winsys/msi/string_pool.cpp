// String pool codec: _StringPool holds a code-page header and one
// (length, reference count) slot per id; _StringData the bytes back to back.
#include "string_pool.h"

#include <algorithm>
#include <functional>

#include "codepage.h"

namespace winsys::msi {
namespace {

const std::u16string kEmpty;

uint16_t u16at(std::span<const uint8_t> b, size_t off) { return uint16_t(b[off] | (b[off + 1] << 8)); }

void putU16(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back(uint8_t(x));
    v.push_back(uint8_t(x >> 8));
}

}  // namespace

uint32_t StringPool::hashOf(std::u16string_view s) {
    uint64_t h = std::hash<std::u16string_view>()(s);
    return uint32_t(h ^ (h >> 32));
}

size_t StringPool::slotOf(std::u16string_view s, uint32_t hash) const {
    size_t mask = slots_.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        uint64_t slot = slots_[i];
        if (slot == 0) return i;
        if (uint32_t(slot >> 32) == hash && strings_[uint32_t(slot)] == s) return i;
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
    uint32_t hash = hashOf(strings_[id]);
    size_t slot = slotOf(strings_[id], hash);
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
        strings_[id] = std::u16string(s);
        used_[id] = 1;
    } else {
        id = uint32_t(strings_.size());
        strings_.emplace_back(s);
        used_.push_back(1);
    }
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

const std::u16string& StringPool::text(uint32_t id) const {
    if (id < strings_.size() && used_[id]) return strings_[id];
    return kEmpty;
}

void StringPool::place(uint32_t id, std::u16string s) {
    if (id >= strings_.size()) {
        strings_.resize(id + 1);
        used_.resize(id + 1, 0);
    }
    strings_[id] = std::move(s);
    used_[id] = 1;
    if (!strings_[id].empty()) index(id);
}

void StringPool::collectHoles() {
    free_.clear();
    for (uint32_t id = uint32_t(strings_.size()); id-- > 1;)
        if (!used_[id]) free_.push_back(id);
}

bool decodeStringPool(std::span<const uint8_t> pool, std::span<const uint8_t> data, StringPool* out,
                      bool* wideRefs, std::vector<uint32_t>* refCounts) {
    *out = StringPool();
    *wideRefs = false;
    if (refCounts) refCounts->assign(1, 0);
    if (pool.empty()) return data.empty();
    if (pool.size() < 4) return false;
    uint32_t header = pool[0] | (pool[1] << 8) | (pool[2] << 16) | (uint32_t(pool[3]) << 24);
    out->codepage = header & 0x7FFFFFFF;
    *wideRefs = (header & 0x80000000u) != 0;
    if (!isSupportedCodepage(out->codepage)) return false;
    size_t slots = (pool.size() - 4) / 4;
    out->reserve(slots);
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
        if (len > data.size() - offset) return false;
        out->place(id, decodeCodepage(out->codepage,
                                      std::string_view(reinterpret_cast<const char*>(data.data()) + offset, len)));
        offset += len;
        if (refCounts) {
            refCounts->resize(id + 1, 0);
            (*refCounts)[id] = refs;
        }
    }
    if (offset != data.size()) return false;
    out->collectHoles();
    return true;
}

bool encodeStringPool(const StringPool& pool, std::span<const uint32_t> refCounts, EncodedPool* out) {
    out->pool.clear();
    out->data.clear();
    uint32_t last = 0;  // largest id written
    for (uint32_t id = 1; id < pool.limit() && id < refCounts.size(); ++id)
        if (refCounts[id] && pool.valid(id)) last = id;
    out->wideRefs = last > 0xFFFF;
    uint32_t header = pool.codepage | (out->wideRefs ? 0x80000000u : 0);
    for (int i = 0; i < 4; ++i) out->pool.push_back(uint8_t(header >> (8 * i)));
    for (uint32_t id = 1; id <= last; ++id) {
        if (!refCounts[id] || !pool.valid(id)) {
            putU16(out->pool, 0);
            putU16(out->pool, 0);
            continue;
        }
        size_t before = out->data.size();
        if (!appendEncoded(pool.codepage, pool.text(id), out->data)) return false;
        uint32_t length = uint32_t(out->data.size() - before);
        uint32_t refs = std::min<uint32_t>(refCounts[id], 0xFFFF);
        if (length > 0xFFFF) {
            putU16(out->pool, 0);
            putU16(out->pool, refs);
            putU16(out->pool, length & 0xFFFF);
            putU16(out->pool, length >> 16);
        } else {
            putU16(out->pool, length);
            putU16(out->pool, refs);
        }
    }
    return true;
}

}  // namespace winsys::msi
