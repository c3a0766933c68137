// The version calls. A version resource is a tree of blocks, each: total
// length, value length, type (1: text), a terminated UTF-16 key, then the
// value and the child blocks, each 4-aligned. GetFileVersionInfo copies the
// resource and leaves the space after it for the narrow texts VerQueryValueA
// hands out, marked as Windows marks it.
#include <windows.h>

#include <algorithm>
#include <cstring>

#include "kernel/text.h"
#include "paths/paths.h"
#include "resources/byte_view.h"
#include "resources/module_images.h"

namespace winsys::resources {

namespace {

constexpr char kNarrowAreaMark[4] = {'F', 'E', '2', 'X'};

// The version resource of a Windows path, or null with the last error set.
const Resource* versionResourceOf(LPCWSTR name, std::shared_ptr<const ResourceImage>& image) {
    if (!name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    unsigned pathError = 0;
    auto native = paths::toNative(name, &pathError);
    if (!native) {
        SetLastError(pathError ? pathError : ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    DWORD error = ERROR_SUCCESS;
    image = readImageOfFile(*native, &error, kVersionType);
    if (!image) {
        SetLastError(error);
        return nullptr;
    }
    const Resource* version = findResource(*image, kVersionType, 1);
    if (!version) version = findFirstOfType(*image, kVersionType);
    if (!version || version->data.size() < 6) {
        SetLastError(image->anyResources ? ERROR_RESOURCE_TYPE_NOT_FOUND : ERROR_RESOURCE_DATA_NOT_FOUND);
        return nullptr;
    }
    return version;
}

struct Block {
    size_t offset = 0;       // from the start of the root
    size_t length = 0;       // wLength
    size_t valueLength = 0;  // wValueLength: characters for text, bytes otherwise
    bool isText = false;
    std::u16string key;
    size_t valueOffset = 0;
    size_t childrenOffset = 0;
};

bool readBlock(const ByteView& view, size_t offset, size_t limit, Block& b) {
    if (!view.has(offset, 6)) return false;
    b.offset = offset;
    b.length = view.u16(offset);
    b.valueLength = view.u16(offset + 2);
    b.isText = view.u16(offset + 4) == 1;
    if (b.length < 6 || offset + b.length > limit) return false;
    auto key = view.wideString(offset + 6);
    if (!key) return false;
    b.key = *key;
    b.valueOffset = alignUp4(offset + 6 + (key->size() + 1) * 2);
    size_t valueBytes = b.isText ? b.valueLength * 2 : b.valueLength;
    b.childrenOffset = alignUp4(b.valueOffset + valueBytes);
    return b.valueOffset + valueBytes <= offset + b.length || valueBytes == 0;
}

bool sameKey(std::u16string_view a, std::u16string_view b) {
    return upperAscii(std::u16string(a)) == upperAscii(std::u16string(b));
}

// The block that a path such as "\StringFileInfo\040904b0\FileVersion" names.
bool findBlock(const void* root, std::u16string_view path, Block& found) {
    const auto* bytes = static_cast<const char*>(root);
    size_t rootLength = static_cast<const uint8_t*>(root)[0] | static_cast<const uint8_t*>(root)[1] << 8;
    ByteView view(std::string_view(bytes, rootLength));
    if (!readBlock(view, 0, rootLength, found)) return false;
    size_t start = 0;
    while (start < path.size()) {
        size_t end = path.find(u'\\', start);
        if (end == std::u16string_view::npos) end = path.size();
        std::u16string_view part = path.substr(start, end - start);
        start = end + 1;
        if (part.empty()) continue;
        Block parent = found;
        bool matched = false;
        for (size_t at = parent.childrenOffset; at < parent.offset + parent.length;) {
            Block child;
            if (!readBlock(view, at, parent.offset + parent.length, child)) break;
            if (sameKey(child.key, part)) {
                found = child;
                matched = true;
                break;
            }
            at = alignUp4(at + child.length);
        }
        if (!matched) return false;
    }
    return true;
}

BOOL fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

}  // namespace

}  // namespace winsys::resources

using namespace winsys::resources;

extern "C" {

WINSYS_EXPORT DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR name, LPDWORD handle) {
    if (handle) *handle = 0;
    std::shared_ptr<const ResourceImage> image;
    const Resource* version = versionResourceOf(name, image);
    if (!version) return 0;
    SetLastError(ERROR_SUCCESS);
    // Twice the resource and the mark: room for the narrow texts after it.
    return static_cast<DWORD>(version->data.size() * 2 + sizeof(kNarrowAreaMark));
}

WINSYS_EXPORT DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR name, LPDWORD handle) {
    if (!name) {
        if (handle) *handle = 0;
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return GetFileVersionInfoSizeW(winsys::text::toUtf16(name).c_str(), handle);
}

WINSYS_EXPORT BOOL WINAPI GetFileVersionInfoW(LPCWSTR name, DWORD /*handle*/, DWORD size, LPVOID data) {
    if (!data) return fail(ERROR_INVALID_PARAMETER);
    std::shared_ptr<const ResourceImage> image;
    const Resource* version = versionResourceOf(name, image);
    if (!version) return FALSE;
    auto* out = static_cast<uint8_t*>(data);
    size_t copied = std::min<size_t>(size, version->data.size());
    std::memcpy(out, version->data.data(), copied);
    // A root claiming more than the buffer holds is cut, so that later
    // queries stay inside the caller's buffer: the root itself, the mark
    // VerQueryValueA looks for after it, and the narrow area it writes to,
    // which is marked only when the buffer has room for all of it.
    if (copied >= 2) {
        size_t claimed = out[0] | out[1] << 8;
        size_t root = std::min(claimed, copied);
        if (alignUp4(root) + sizeof(kNarrowAreaMark) > size)
            root = size >= sizeof(kNarrowAreaMark) ? (size - sizeof(kNarrowAreaMark)) & ~size_t(3) : 0;
        if (root != claimed) {
            out[0] = static_cast<uint8_t>(root);
            out[1] = static_cast<uint8_t>(root >> 8);
        }
        size_t markAt = alignUp4(root);
        if (markAt + sizeof(kNarrowAreaMark) <= size) {
            bool areaFits = 2 * root + sizeof(kNarrowAreaMark) <= size;
            static const char kNoArea[sizeof(kNarrowAreaMark)] = {};
            std::memcpy(out + markAt, areaFits ? kNarrowAreaMark : kNoArea, sizeof(kNarrowAreaMark));
        }
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

WINSYS_EXPORT BOOL WINAPI GetFileVersionInfoA(LPCSTR name, DWORD handle, DWORD size, LPVOID data) {
    if (!name) return fail(ERROR_INVALID_PARAMETER);
    return GetFileVersionInfoW(winsys::text::toUtf16(name).c_str(), handle, size, data);
}

WINSYS_EXPORT BOOL WINAPI VerQueryValueW(LPCVOID block, LPCWSTR subBlock, LPVOID* buffer, PUINT length) {
    if (!block || !subBlock || !buffer) return fail(ERROR_INVALID_PARAMETER);
    Block found;
    if (!findBlock(block, subBlock, found)) return fail(ERROR_RESOURCE_TYPE_NOT_FOUND);
    *buffer = const_cast<uint8_t*>(static_cast<const uint8_t*>(block) + found.valueOffset);
    if (length) *length = static_cast<UINT>(found.valueLength);
    return TRUE;
}

WINSYS_EXPORT BOOL WINAPI VerQueryValueA(LPCVOID block, LPCSTR subBlock, LPVOID* buffer, PUINT length) {
    if (!block || !subBlock || !buffer) return fail(ERROR_INVALID_PARAMETER);
    Block found;
    if (!findBlock(block, winsys::text::toUtf16(subBlock), found)) return fail(ERROR_RESOURCE_TYPE_NOT_FOUND);
    const auto* root = static_cast<const uint8_t*>(block);
    if (!found.isText || found.valueLength == 0) {
        *buffer = const_cast<uint8_t*>(root + found.valueOffset);
        if (length) *length = static_cast<UINT>(found.valueLength);
        return TRUE;
    }
    // Text goes to the area after the resource, at the offset it has in the
    // resource, so that every text has a place of its own that stays valid.
    size_t rawLength = root[0] | root[1] << 8;
    size_t rootLength = alignUp4(rawLength);
    if (std::memcmp(root + rootLength, kNarrowAreaMark, sizeof(kNarrowAreaMark)) != 0)
        return fail(ERROR_INVALID_DATA);
    std::u16string wide(found.valueLength, u'\0');
    std::memcpy(wide.data(), root + found.valueOffset, found.valueLength * 2);
    wide.resize(std::u16string_view(wide.c_str()).size());
    std::string narrow = winsys::text::toUtf8(wide);
    size_t areaStart = rootLength + sizeof(kNarrowAreaMark);
    size_t areaEnd = 2 * rawLength + sizeof(kNarrowAreaMark);  // what GetFileVersionInfoSize allowed for
    size_t at = areaStart + found.valueOffset;
    if (at + narrow.size() + 1 > areaEnd) return fail(ERROR_NOT_ENOUGH_MEMORY);
    auto* target = const_cast<uint8_t*>(root + at);
    std::memcpy(target, narrow.c_str(), narrow.size() + 1);
    *buffer = target;
    if (length) *length = static_cast<UINT>(narrow.size() + 1);
    return TRUE;
}

}  // extern "C"
