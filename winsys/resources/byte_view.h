// Bounds-checked little-endian reads over a byte string: every read of a
// module file goes through this, so damaged files cannot be read past.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace winsys::resources {

class ByteView {
public:
    explicit ByteView(std::string_view bytes) : bytes_(bytes) {}
    size_t size() const { return bytes_.size(); }
    bool has(size_t offset, size_t count) const { return offset <= bytes_.size() && count <= bytes_.size() - offset; }
    // One bounds check per value: resource trees are walked entry by entry,
    // and a damaged one may claim tens of thousands of entries.
    uint16_t u16(size_t offset) const { return has(offset, 2) ? load<uint16_t>(offset) : 0; }
    uint32_t u32(size_t offset) const { return has(offset, 4) ? load<uint32_t>(offset) : 0; }
    uint64_t u64(size_t offset) const { return has(offset, 8) ? load<uint64_t>(offset) : 0; }
    std::string_view slice(size_t offset, size_t count) const {
        return has(offset, count) ? bytes_.substr(offset, count) : std::string_view();
    }
    // A NUL-terminated UTF-16 string at offset; nothing when unterminated.
    std::optional<std::u16string> wideString(size_t offset) const {
        std::u16string s;
        for (size_t at = offset; has(at, 2); at += 2) {
            char16_t c = u16(at);
            if (c == 0) return s;
            s += c;
        }
        return std::nullopt;
    }

private:
    template <typename T>
    T load(size_t offset) const {
        T value;
        std::memcpy(&value, bytes_.data() + offset, sizeof value);
        if constexpr (std::endian::native == std::endian::big) {
            T swapped = 0;
            for (size_t i = 0; i < sizeof value; ++i) swapped = T(swapped << 8 | ((value >> (8 * i)) & 0xFF));
            value = swapped;
        }
        return value;
    }
    std::string_view bytes_;
};

inline size_t alignUp4(size_t n) { return (n + 3) & ~size_t(3); }

inline std::u16string upperAscii(std::u16string s) {
    for (char16_t& c : s)
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    return s;
}

}  // namespace winsys::resources
