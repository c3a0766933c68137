// Bounds-checked little-endian reads over a byte string: every read of a
// module file goes through this, so damaged files cannot be read past.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace winsys::resources {

class ByteView {
public:
    explicit ByteView(std::string_view bytes) : bytes_(bytes) {}
    size_t size() const { return bytes_.size(); }
    bool has(size_t offset, size_t count) const { return offset <= bytes_.size() && count <= bytes_.size() - offset; }
    uint16_t u16(size_t offset) const { return has(offset, 2) ? static_cast<uint16_t>(byte(offset) | byte(offset + 1) << 8) : 0; }
    uint32_t u32(size_t offset) const {
        return has(offset, 4) ? static_cast<uint32_t>(u16(offset)) | static_cast<uint32_t>(u16(offset + 2)) << 16 : 0;
    }
    uint64_t u64(size_t offset) const {
        return has(offset, 8) ? static_cast<uint64_t>(u32(offset)) | static_cast<uint64_t>(u32(offset + 4)) << 32 : 0;
    }
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
    uint32_t byte(size_t offset) const { return static_cast<unsigned char>(bytes_[offset]); }
    std::string_view bytes_;
};

inline size_t alignUp4(size_t n) { return (n + 3) & ~size_t(3); }

inline std::u16string upperAscii(std::u16string s) {
    for (char16_t& c : s)
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    return s;
}

}  // namespace winsys::resources
