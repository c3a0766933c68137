// The string table of a database: every string cell holds an id into it.
// Ids stay stable while a database is open, so rows keep the order the file
// gives them (by id); ids freed on disk (holes) are reused for new strings.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace winsys::msi {

class StringPool {
public:
    unsigned codepage = 0;

    // Id of `s`, adding it if new; the empty string is id 0 (null).
    uint32_t intern(std::u16string_view s);
    // Id of `s` if present (0 for the empty string).
    std::optional<uint32_t> find(std::u16string_view s) const;
    // Text of an id; "" for 0, holes and unknown ids.
    const std::u16string& text(uint32_t id) const;
    bool valid(uint32_t id) const { return id == 0 || (id < strings_.size() && used_[id]); }
    // One past the largest id.
    uint32_t limit() const { return uint32_t(strings_.size()); }

    // Adds a string read from disk at `id` (ids ascend; gaps become holes).
    void place(uint32_t id, std::u16string s);
    void reserve(size_t count);
    // Marks the ids below limit() that are unused as reusable.
    void collectHoles();

private:
    // Slot of `s` in slots_: the one holding its id, or the empty one where
    // it would go.
    size_t slotOf(std::u16string_view s, uint32_t hash) const;
    static uint32_t hashOf(std::u16string_view s);
    void index(uint32_t id);  // adds the id of a string not yet indexed
    void rehash(size_t slotCount);

    std::vector<std::u16string> strings_{std::u16string()};
    std::vector<uint8_t> used_{0};
    // Ids by text, open addressing: each slot holds an id in its low half
    // (0: empty) and the text's hash in its high half, so that a probe rarely
    // has to compare strings. The strings are not copied, and a lookup
    // allocates nothing.
    std::vector<uint64_t> slots_;
    size_t indexed_ = 0;
    std::vector<uint32_t> free_;  // descending, smallest at the back
};

// Reads _StringPool and _StringData. False when they do not add up.
// `refCounts`, when given, gets the reference count stored for each id (0 for
// holes; 0xFFFF stands for that many or more).
bool decodeStringPool(std::span<const uint8_t> pool, std::span<const uint8_t> data, StringPool* out,
                      bool* wideRefs, std::vector<uint32_t>* refCounts = nullptr);

struct EncodedPool {
    std::vector<uint8_t> pool;
    std::string data;
    bool wideRefs = false;
};

// Writes the strings whose reference count is not 0 (others become holes).
// False when a string has no form in the pool's code page.
bool encodeStringPool(const StringPool& pool, std::span<const uint32_t> refCounts, EncodedPool* out);

}  // namespace winsys::msi
