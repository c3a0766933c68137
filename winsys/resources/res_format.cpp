// Reads the .res format that resource compilers write: a run of entries, each
// a header (sizes, type, name, language) and its data, aligned to 4 bytes.
// Several images laid end to end (one per linked object) read as one.
#include "resources/byte_view.h"
#include "resources/resource_image.h"

namespace winsys::resources {

namespace {

constexpr size_t kMinimumHeader = 32;

// A type or name field: 0xFFFF and a number, or a terminated string.
bool readId(const ByteView& view, size_t& at, size_t end, ResourceId& id) {
    if (view.u16(at) == 0xFFFF) {
        if (at + 4 > end) return false;
        id = {view.u16(at + 2), {}};
        at += 4;
        return true;
    }
    auto name = view.wideString(at);
    if (!name || at + (name->size() + 1) * 2 > end) return false;
    at += (name->size() + 1) * 2;
    id = {0, upperAscii(*name)};
    return true;
}

}  // namespace

bool parseResFile(std::string_view bytes, ResourceImage& image) {
    ByteView view(bytes);
    // Every image begins with an empty entry: 0 bytes of data, a 32-byte header.
    if (view.u32(0) != 0 || view.u32(4) != kMinimumHeader || view.u16(8) != 0xFFFF) return false;
    size_t at = 0;
    while (view.has(at, 8)) {
        uint32_t dataSize = view.u32(at);
        uint32_t headerSize = view.u32(at + 4);
        if (headerSize == 0 && dataSize == 0) {  // padding between images
            at += 4;
            continue;
        }
        if (headerSize < kMinimumHeader || !view.has(at, headerSize) || !view.has(at + headerSize, dataSize)) break;
        size_t field = at + 8;
        size_t headerEnd = at + headerSize;
        Resource r;
        if (readId(view, field, headerEnd, r.type) && readId(view, field, headerEnd, r.name)) {
            field = at + alignUp4(field - at);
            // DataVersion (4), MemoryFlags (2), LanguageId (2), Version, Characteristics.
            if (dataSize > 0) image.anyResources = true;
            if (field + 16 <= headerEnd && dataSize > 0 && isKeptType(r.type)) {
                r.language = view.u16(field + 6);
                std::string_view data = view.slice(headerEnd, dataSize);
                r.data.assign(data.begin(), data.end());
                image.resources.push_back(std::move(r));
            }
        }
        at = alignUp4(headerEnd + dataSize);
    }
    return true;
}

}  // namespace winsys::resources
