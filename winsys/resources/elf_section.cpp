// Finds a named section in an ELF file (32 or 64 bits, little-endian): our
// own modules carry their resource image in one.
#include "resources/byte_view.h"
#include "resources/resource_image.h"

namespace winsys::resources {

std::optional<std::string> readElfSection(FileReader& file, std::string_view sectionName) {
    std::string header;
    if (!file.read(0, 64, header) && !file.read(0, 52, header)) return std::nullopt;
    if (header.compare(0, 4, "\x7f" "ELF") != 0 || header[5] != 1) return std::nullopt;
    ByteView h(header);
    bool is64 = header[4] == 2;
    uint64_t tableOffset = is64 ? h.u64(0x28) : h.u32(0x20);
    size_t entrySize = is64 ? h.u16(0x3A) : h.u16(0x2E);
    size_t count = is64 ? h.u16(0x3C) : h.u16(0x30);
    size_t namesIndex = is64 ? h.u16(0x3E) : h.u16(0x32);
    size_t minimumEntry = is64 ? 64 : 40;
    if (entrySize < minimumEntry || count == 0 || namesIndex >= count) return std::nullopt;
    std::string table;
    if (!file.read(tableOffset, entrySize * count, table)) return std::nullopt;
    ByteView t(table);
    auto sectionRange = [&](size_t index, uint64_t& offset, uint64_t& size, uint32_t& nameAt, uint32_t& type) {
        size_t at = index * entrySize;
        nameAt = t.u32(at);
        type = t.u32(at + 4);
        offset = is64 ? t.u64(at + 0x18) : t.u32(at + 0x10);
        size = is64 ? t.u64(at + 0x20) : t.u32(at + 0x14);
    };
    uint64_t namesOffset, namesSize;
    uint32_t ignoredName, ignoredType;
    sectionRange(namesIndex, namesOffset, namesSize, ignoredName, ignoredType);
    std::string names;
    constexpr uint64_t kMaxNames = 1u << 20;
    if (namesSize > kMaxNames || !file.read(namesOffset, static_cast<size_t>(namesSize), names)) return std::nullopt;
    for (size_t i = 0; i < count; ++i) {
        uint64_t offset, size;
        uint32_t nameAt, type;
        sectionRange(i, offset, size, nameAt, type);
        if (nameAt >= names.size()) continue;
        size_t end = names.find('\0', nameAt);
        if (end == std::string::npos || std::string_view(names).substr(nameAt, end - nameAt) != sectionName) continue;
        constexpr uint32_t kNoBits = 8;  // SHT_NOBITS: nothing in the file
        constexpr uint64_t kMaxSection = 64u << 20;
        if (type == kNoBits || size > kMaxSection) return std::nullopt;
        std::string bytes;
        if (!file.read(offset, static_cast<size_t>(size), bytes)) return std::nullopt;
        return bytes;
    }
    return std::nullopt;
}

}  // namespace winsys::resources
