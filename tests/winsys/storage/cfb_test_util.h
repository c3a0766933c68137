// Helpers for the compound-file tests: scratch directories, deterministic
// content, and raw access to a written file for checks and for damage.
#pragma once

#include "storage/compound_file.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace cfbtest {

// An element name as olefile and the Wine probe print it: each UTF-16 unit
// as four hex digits, low byte first.
inline std::string hexName(const std::u16string& name) {
    std::string out;
    char b[5];
    for (char16_t c : name) {
        std::snprintf(b, sizeof b, "%02x%02x", unsigned(c & 0xFF), unsigned(c >> 8));
        out += b;
    }
    return out;
}

class ScratchDir {
public:
    ScratchDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "cfbtest.XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

inline std::vector<uint8_t> pattern(size_t size, uint32_t seed) {
    std::vector<uint8_t> bytes(size);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = uint8_t(x);
    }
    return bytes;
}

inline std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline uint32_t get32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) | (uint32_t(b[at + 1]) << 8) | (uint32_t(b[at + 2]) << 16) | (uint32_t(b[at + 3]) << 24);
}
inline uint16_t get16(const std::vector<uint8_t>& b, size_t at) { return uint16_t(b[at] | (b[at + 1] << 8)); }
inline void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}

// A written file seen byte by byte, independently of the code under test.
struct Raw {
    std::vector<uint8_t> bytes;
    uint32_t sectorSize = 512;

    explicit Raw(std::vector<uint8_t> b) : bytes(std::move(b)) { sectorSize = 1u << get16(bytes, 0x1E); }
    size_t sectorOffset(uint32_t s) const { return size_t(s + 1) * sectorSize; }
    uint32_t fatSectorCount() const { return get32(bytes, 0x2C); }
    uint32_t difatSectorCount() const { return get32(bytes, 0x48); }
    std::vector<uint32_t> fatLocations() const {
        std::vector<uint32_t> at;
        for (uint32_t i = 0; i < 109 && at.size() < fatSectorCount(); ++i) at.push_back(get32(bytes, 0x4C + 4 * i));
        uint32_t d = get32(bytes, 0x44);
        while (at.size() < fatSectorCount()) {
            for (uint32_t i = 0; i + 1 < sectorSize / 4 && at.size() < fatSectorCount(); ++i)
                at.push_back(get32(bytes, sectorOffset(d) + 4 * i));
            d = get32(bytes, sectorOffset(d) + sectorSize - 4);
        }
        return at;
    }
    // File offset of the FAT entry of sector s.
    size_t fatEntryOffset(uint32_t s) const {
        return sectorOffset(fatLocations()[s / (sectorSize / 4)]) + 4 * (s % (sectorSize / 4));
    }
    uint32_t fat(uint32_t s) const { return get32(bytes, fatEntryOffset(s)); }
    std::vector<uint32_t> chain(uint32_t start) const {
        std::vector<uint32_t> c;
        for (uint32_t s = start; s != 0xFFFFFFFE && c.size() < bytes.size() / sectorSize; s = fat(s)) c.push_back(s);
        return c;
    }
    // File offsets of the directory entries, in index order.
    std::vector<size_t> entryOffsets() const {
        std::vector<size_t> at;
        for (uint32_t s : chain(get32(bytes, 0x30)))
            for (uint32_t k = 0; k < sectorSize / 128; ++k) at.push_back(sectorOffset(s) + 128 * k);
        return at;
    }
    std::u16string entryName(size_t at) const {
        std::u16string name;
        uint16_t len = get16(bytes, at + 0x40);
        for (uint16_t i = 0; i + 2 < len; i += 2) name.push_back(char16_t(get16(bytes, at + i)));
        return name;
    }
    size_t entryNamed(const std::u16string& name) const {
        for (size_t at : entryOffsets())
            if (bytes[at + 0x42] != 0 && entryName(at) == name) return at;
        return 0;
    }
};

}  // namespace cfbtest
