// Reads the resource tree of a PE file (PE32 or PE32+): the resource data
// directory points at a three-level tree (type, name, language) whose leaves
// give each resource's address and size.
#include <algorithm>
#include <iterator>

#include "resources/byte_view.h"
#include "resources/resource_image.h"

namespace winsys::resources {

namespace {

constexpr size_t kMaxSections = 96;  // the loader's own limit
constexpr uint32_t kMaxTreeBytes = 256u << 20;
constexpr uint32_t kMaxResourceBytes = 16u << 20;

struct Section {
    uint32_t virtualAddress, virtualSize, rawSize, rawOffset;
};

uint64_t extentOf(const Section& s) { return std::max(s.virtualSize, s.rawSize); }

// Where each address lies in the file: the first section, in the table's
// order, that spans it. Every leaf of the resource tree is looked up, so
// sections that do not overlap, as in any real module, are searched by
// address; overlapping ones, only in damaged files, one by one.
struct PeLayout {
    std::vector<Section> sections;
    std::vector<Section> byAddress;  // sorted, when no two overlap

    void index() {
        byAddress.clear();
        for (const Section& s : sections)
            if (extentOf(s) != 0) byAddress.push_back(s);  // spans nothing
        std::sort(byAddress.begin(), byAddress.end(),
                  [](const Section& a, const Section& b) { return a.virtualAddress < b.virtualAddress; });
        for (size_t i = 1; i < byAddress.size(); ++i)
            if (uint64_t(byAddress[i - 1].virtualAddress) + extentOf(byAddress[i - 1]) > byAddress[i].virtualAddress) {
                byAddress.clear();
                return;
            }
    }

    std::optional<uint64_t> offsetOf(uint32_t rva, uint32_t size) const {
        const Section* found = nullptr;
        if (!byAddress.empty()) {
            auto after = std::upper_bound(byAddress.begin(), byAddress.end(), rva,
                                          [](uint32_t at, const Section& s) { return at < s.virtualAddress; });
            if (after != byAddress.begin() && rva - std::prev(after)->virtualAddress < extentOf(*std::prev(after)))
                found = &*std::prev(after);
        } else {
            for (const Section& s : sections)
                if (rva >= s.virtualAddress && rva - s.virtualAddress < extentOf(s)) {
                    found = &s;
                    break;
                }
        }
        if (!found) return std::nullopt;
        uint32_t within = rva - found->virtualAddress;
        if (within > found->rawSize || size > found->rawSize - within) return std::nullopt;  // not in the file
        return uint64_t(found->rawOffset) + within;
    }
};

struct Tree {
    FileReader& file;
    const PeLayout& layout;
    ByteView view;
    ResourceImage& image;
    uint16_t onlyType;
    size_t budget = 65536;  // entries visited, against loops in damaged trees

    // Directory at offset: calls visit(nameField, isDirectory, targetOffset)
    // per entry. Names are decoded only where the caller needs them: most
    // entries of a large module are of types that are not kept.
    template <typename Visit>
    void forEachEntry(uint32_t offset, Visit visit) {
        size_t count = size_t(view.u16(offset + 12)) + view.u16(offset + 14);
        for (size_t i = 0; i < count && budget > 0; ++i, --budget) {
            size_t entry = offset + 16 + i * 8;
            if (!view.has(entry, 8)) return;
            uint32_t target = view.u32(entry + 4);
            visit(view.u32(entry), (target & 0x80000000u) != 0, target & 0x7FFFFFFFu);
        }
    }

    static bool isNamed(uint32_t nameField) { return (nameField & 0x80000000u) != 0; }

    // An entry whose name lies outside the tree is no entry at all.
    bool nameFits(uint32_t nameField) const {
        if (!isNamed(nameField)) return true;
        uint32_t at = nameField & 0x7FFFFFFFu;
        size_t length = view.u16(at);
        return length == 0 || view.has(size_t(at) + 2, length * 2);
    }

    // The entry's number or name; nothing when its name lies outside the tree.
    std::optional<ResourceId> idOf(uint32_t nameField) const {
        if (!isNamed(nameField)) return ResourceId{static_cast<uint16_t>(nameField & 0xFFFF), {}};
        if (!nameFits(nameField)) return std::nullopt;
        uint32_t at = nameField & 0x7FFFFFFFu;
        uint16_t length = view.u16(at);
        std::u16string name(length, u'\0');
        for (size_t k = 0; k < length; ++k) name[k] = view.u16(at + 2 + k * 2);
        return ResourceId{0, upperAscii(std::move(name))};
    }

    void read() {
        forEachEntry(0, [&](uint32_t typeField, bool typeIsDir, uint32_t typeDir) {
            if (!nameFits(typeField)) return;
            image.anyResources = true;
            if (!typeIsDir || isNamed(typeField)) return;  // only numbered types are kept
            const ResourceId type{static_cast<uint16_t>(typeField & 0xFFFF), {}};
            if (!isKeptType(type) || (onlyType && type.number != onlyType)) return;
            forEachEntry(typeDir, [&](uint32_t nameField, bool nameIsDir, uint32_t nameDir) {
                if (!nameIsDir) return;
                const auto name = idOf(nameField);
                if (!name) return;
                forEachEntry(nameDir, [&](uint32_t languageField, bool isDir, uint32_t leaf) {
                    // A language has no name; a named one counts as neutral.
                    if (isDir || !nameFits(languageField) || !view.has(leaf, 16)) return;
                    const uint16_t language = isNamed(languageField) ? 0 : static_cast<uint16_t>(languageField & 0xFFFF);
                    uint32_t rva = view.u32(leaf);
                    uint32_t size = view.u32(leaf + 4);
                    if (size == 0 || size > kMaxResourceBytes) return;
                    auto offset = layout.offsetOf(rva, size);
                    std::string data;
                    if (!offset || !file.read(*offset, size, data)) return;
                    image.resources.push_back(Resource{type, *name, language, {data.begin(), data.end()}});
                });
            });
        });
    }
};

}  // namespace

bool parsePeResources(FileReader& file, ResourceImage& image, uint16_t onlyType) {
    std::string dos;
    if (!file.read(0, 64, dos) || dos[0] != 'M' || dos[1] != 'Z') return false;
    uint32_t peOffset = ByteView(dos).u32(0x3C);
    std::string fileHeader;
    if (!file.read(peOffset, 24, fileHeader) || fileHeader.compare(0, 4, std::string("PE\0\0", 4)) != 0) return false;
    ByteView coff(fileHeader);
    size_t sectionCount = coff.u16(6);
    size_t optionalSize = coff.u16(20);
    if (sectionCount > kMaxSections) return false;
    std::string headers;
    if (!file.read(uint64_t(peOffset) + 24, optionalSize + sectionCount * 40, headers)) return false;
    ByteView optional(headers);
    uint16_t magic = optional.u16(0);
    size_t directoriesAt = magic == 0x10B ? 96 : magic == 0x20B ? 112 : 0;
    if (!directoriesAt) return false;
    uint32_t directoryCount = optional.u32(directoriesAt - 4);
    constexpr uint32_t kResourceDirectory = 2;
    if (directoryCount <= kResourceDirectory || directoriesAt + 8 * (kResourceDirectory + 1) > optionalSize)
        return true;  // a PE file without resources
    uint32_t treeRva = optional.u32(directoriesAt + 8 * kResourceDirectory);
    uint32_t treeSize = optional.u32(directoriesAt + 8 * kResourceDirectory + 4);
    PeLayout layout;
    for (size_t i = 0; i < sectionCount; ++i) {
        size_t at = optionalSize + i * 40;
        layout.sections.push_back({optional.u32(at + 12), optional.u32(at + 8), optional.u32(at + 16), optional.u32(at + 20)});
    }
    layout.index();
    if (treeRva == 0 || treeSize == 0) return true;
    treeSize = std::min(treeSize, kMaxTreeBytes);
    // The tree may claim more than the file holds; read what is there.
    auto treeOffset = layout.offsetOf(treeRva, 0);
    if (!treeOffset || *treeOffset >= file.size()) return true;
    uint64_t available = std::min<uint64_t>(treeSize, file.size() - *treeOffset);
    std::string tree;
    if (!file.read(*treeOffset, static_cast<size_t>(available), tree)) return true;
    Tree{file, layout, ByteView(tree), image, onlyType}.read();
    return true;
}

}  // namespace winsys::resources
