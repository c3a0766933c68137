// LoadStringW and LoadStringA: string tables hold blocks of 16 counted UTF-16
// strings; block n + 1 holds the strings numbered 16n to 16n + 15.
#include <windows.h>

#include <cstring>
#include <mutex>
#include <vector>

#include "kernel/text.h"
#include "resources/byte_view.h"
#include "resources/module_images.h"

namespace winsys::resources {

namespace {

struct FoundString {
    std::shared_ptr<const ResourceImage> image;
    const char16_t* text = nullptr;  // inside the image, not terminated
    size_t length = 0;
};

bool findString(HINSTANCE instance, UINT id, FoundString& out) {
    std::string path;
    if (!moduleFile(instance, path)) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return false;
    }
    DWORD error = ERROR_SUCCESS;
    out.image = imageOfFile(path, &error);
    if (!out.image) {
        SetLastError(error);
        return false;
    }
    const Resource* block = findResource(*out.image, kStringTableType, static_cast<uint16_t>((id >> 4) + 1));
    if (!block) {
        SetLastError(out.image->anyResources ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_DATA_NOT_FOUND);
        return false;
    }
    ByteView view(std::string_view(reinterpret_cast<const char*>(block->data.data()), block->data.size()));
    size_t at = 0;
    for (UINT skip = id & 15; skip > 0; --skip) at += 2 + size_t(view.u16(at)) * 2;
    size_t length = view.u16(at);
    if (!view.has(at + 2, length * 2)) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return false;
    }
    // Resource data is stored 4-aligned in its vector, so the text is 2-aligned.
    out.text = reinterpret_cast<const char16_t*>(block->data.data() + at + 2);
    out.length = length;
    return true;
}

// A pointer handed out by LoadStringW with a size of 0 must stay valid as
// long as the module is loaded: keep its image for the life of the process.
void keepForever(const std::shared_ptr<const ResourceImage>& image) {
    static std::mutex lock;
    static std::vector<std::shared_ptr<const ResourceImage>> kept;
    std::lock_guard guard(lock);
    for (const auto& k : kept)
        if (k == image) return;
    kept.push_back(image);
}

}  // namespace

}  // namespace winsys::resources

using namespace winsys::resources;

extern "C" {

WINSYS_EXPORT int WINAPI LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int size) {
    if (!buffer || size < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    FoundString found;
    if (!findString(instance, id, found)) return 0;
    if (size == 0) {
        // The caller gets a read-only pointer to the text itself, unterminated.
        keepForever(found.image);
        *reinterpret_cast<const WCHAR**>(buffer) = found.text;
        return static_cast<int>(found.length);
    }
    size_t copied = std::min(found.length, static_cast<size_t>(size) - 1);
    std::memcpy(buffer, found.text, copied * sizeof(WCHAR));
    buffer[copied] = 0;
    return static_cast<int>(copied);
}

WINSYS_EXPORT int WINAPI LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int size) {
    if (!buffer || size <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    buffer[0] = 0;
    FoundString found;
    if (!findString(instance, id, found)) return 0;
    std::string narrow = winsys::text::toUtf8(std::u16string_view(found.text, found.length));
    size_t copied = std::min(narrow.size(), static_cast<size_t>(size) - 1);
    // Cut before a character, never inside one.
    while (copied > 0 && copied < narrow.size() && (static_cast<unsigned char>(narrow[copied]) & 0xC0) == 0x80)
        --copied;
    std::memcpy(buffer, narrow.data(), copied);
    buffer[copied] = 0;
    return static_cast<int>(copied);
}

}  // extern "C"
