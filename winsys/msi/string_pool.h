// The string table of a database: every string cell holds an id into it.
// Ids stay stable while a database is open, so rows keep the order the file
// gives them (by id); ids freed on disk (holes) are reused for new strings.
// The texts read from a file share one buffer, and the pool keeps the bytes
// they were read from: a commit writes those bytes back as they were rather
// than encoding every string again.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace winsys::msi {

class StringPool {
public:
    StringPool() = default;
    // Texts are handed out as views into the pool's own buffers, which a
    // move keeps in place and a copy would not.
    StringPool(const StringPool&) = delete;
    StringPool& operator=(const StringPool&) = delete;
    StringPool(StringPool&&) = default;
    StringPool& operator=(StringPool&&) = default;

    unsigned codepage = 0;

    // Id of `s`, adding it if new; the empty string is id 0 (null).
    uint32_t intern(std::u16string_view s);
    // Id of `s` if present (0 for the empty string).
    std::optional<uint32_t> find(std::u16string_view s) const;
    // Text of an id; "" for 0, holes and unknown ids. The view stays valid
    // as long as the pool.
    std::u16string_view text(uint32_t id) const {
        if (id >= entries_.size() || entries_[id].text == kNoText) return {};
        const Entry& e = entries_[id];
        const char16_t* at = e.text & kAdded ? texts_[e.text & ~kAdded].data() : readBase_ + e.text;
        return std::u16string_view(at, e.length);
    }
    bool valid(uint32_t id) const { return id == 0 || (id < entries_.size() && entries_[id].text != kNoText); }
    // One past the largest id.
    uint32_t limit() const { return uint32_t(entries_.size()); }

    // The bytes `id` was read from, while its text and the code page are
    // still the ones read; nullopt otherwise.
    std::optional<std::string_view> storedBytes(uint32_t id) const;
    // All the bytes read, which storedBytes views point into; null when none.
    const std::shared_ptr<const std::vector<uint8_t>>& storedData() const { return stored_; }

private:
    friend bool decodeStringPoolKeeping(std::span<const uint8_t>, std::vector<uint8_t>, StringPool*, bool*,
                                        std::vector<uint32_t>*);

    static constexpr uint32_t kNotStored = UINT32_MAX;
    static constexpr uint32_t kNoText = UINT32_MAX;
    static constexpr uint32_t kAdded = 0x80000000u;
    // Sixteen bytes: a package holds tens of thousands of strings.
    struct Entry {
        // Where the text is: kNoText for an unused id, kAdded with the index
        // of a string added since reading, else an offset into the texts read.
        uint32_t text = kNoText;
        uint32_t length = 0;
        uint32_t storedOffset = kNotStored;  // into stored_, for texts as read
        uint32_t storedLength = 0;
    };

    // Slot of `s` in slots_: the one holding its id, or the empty one where
    // it would go.
    size_t slotOf(std::u16string_view s, uint32_t hash) const;
    static uint32_t hashOf(std::u16string_view s);
    void index(uint32_t id);  // adds the id of a string not yet indexed
    void rehash(size_t slotCount);
    void reserve(size_t count);
    // Marks the ids below limit() that are unused as reusable.
    void collectHoles();

    std::vector<Entry> entries_ = std::vector<Entry>(1);  // id 0: the empty string
    // Where texts live: the texts read from a file in one buffer, then each
    // string added later in one of its own. Neither moves (a deque keeps its
    // elements in place), so the views handed out stay valid.
    std::unique_ptr<char16_t[]> readTexts_;
    std::deque<std::u16string> texts_;
    const char16_t* readBase_ = nullptr;  // the texts read: readTexts_ or a decoded string in texts_
    std::shared_ptr<const std::vector<uint8_t>> stored_;  // _StringData as read, shared with commits
    unsigned storedCodepage_ = 0;  // the code page stored_ is in
    // Ids by text, open addressing: each slot holds an id in its low half
    // (0: empty) and the text's hash in its high half, so that a probe rarely
    // has to compare strings. A lookup allocates nothing.
    std::vector<uint64_t> slots_;
    size_t indexed_ = 0;
    std::vector<uint32_t> free_;  // descending, smallest at the back
};

// Reads _StringPool and _StringData. False when they do not add up.
// `refCounts`, when given, gets the reference count stored for each id (0 for
// holes; 0xFFFF stands for that many or more).
bool decodeStringPool(std::span<const uint8_t> pool, std::span<const uint8_t> data, StringPool* out,
                      bool* wideRefs, std::vector<uint32_t>* refCounts = nullptr);
// The same, the pool keeping `data` itself as the bytes read instead of a
// copy: _StringData is the largest stream most packages open with.
bool decodeStringPoolKeeping(std::span<const uint8_t> pool, std::vector<uint8_t> data, StringPool* out,
                             bool* wideRefs, std::vector<uint32_t>* refCounts = nullptr);

struct EncodedPool {
    std::vector<uint8_t> pool;
    std::string data;
    bool wideRefs = false;
    // Only when encoded `apart`: the _StringData stream is these pieces in
    // order, each a run of the bytes the pool read (`stored`, offsets into
    // storedData()) or of `data`, which then holds only the strings encoded anew.
    struct Piece {
        bool stored = false;
        size_t offset = 0;
        size_t length = 0;
    };
    std::vector<Piece> pieces;
};

// Writes the strings whose reference count is not 0 (others become holes).
// False when a string has no form in the pool's code page. With `apart`, the
// bytes of strings as read are not copied: see EncodedPool::pieces.
bool encodeStringPool(const StringPool& pool, std::span<const uint32_t> refCounts, EncodedPool* out,
                      bool apart = false);

}  // namespace winsys::msi
