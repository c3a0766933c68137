// Resources of one module file, whatever carried them: the .rsrc section of a
// PE file or the winsys_rsrc section (a .res image) of an ELF file. Only the
// kinds winsys serves are kept: string tables and version information.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace winsys::resources {

constexpr uint16_t kStringTableType = 6;
constexpr uint16_t kVersionType = 16;
constexpr uint16_t kEnglishUnitedStates = 0x0409;

// A resource type or name: a number, or a string (kept upper-cased, as
// resource names compare without case).
struct ResourceId {
    uint16_t number = 0;
    std::u16string name;  // empty: numbered
    bool operator==(const ResourceId&) const = default;
};

struct Resource {
    ResourceId type;
    ResourceId name;
    uint16_t language = 0;
    std::vector<uint8_t> data;
};

struct ResourceImage {
    std::vector<Resource> resources;  // of the kept types only
    bool anyResources = false;        // of any type, for the error a caller gets
};

bool isKeptType(const ResourceId& type);

// The resource of that type and name, preferring English (United States),
// then language-neutral, then whichever comes first.
const Resource* findResource(const ResourceImage& image, uint16_t type, uint16_t name);
// The first resource of a type in the same language preference (the version
// resource is named 1 by convention, not by rule).
const Resource* findFirstOfType(const ResourceImage& image, uint16_t type);

// Parsers: false when the bytes are not that format at all; damaged parts
// are skipped, never read out of bounds.
bool parseResFile(std::string_view bytes, ResourceImage& image);

class FileReader;
// onlyType, when not 0, keeps that type alone: a caller after one kind need
// not read the others.
bool parsePeResources(FileReader& file, ResourceImage& image, uint16_t onlyType = 0);
// The bytes of the named section of an ELF file, if it has one.
std::optional<std::string> readElfSection(FileReader& file, std::string_view sectionName);

// Reads ranges of a file, failing softly past its end.
class FileReader {
public:
    explicit FileReader(const std::string& path);
    ~FileReader();
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;
    bool isOpen() const { return fd_ >= 0; }
    uint64_t size() const { return size_; }
    bool read(uint64_t offset, size_t count, std::string& out) const;

private:
    int fd_ = -1;
    uint64_t size_ = 0;
};

}  // namespace winsys::resources
