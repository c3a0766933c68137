// Parsed resource images, cached by path and checked against the file's
// identity and time, so that a replaced file is read anew.
#include "resources/module_images.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <map>
#include <mutex>

namespace winsys::resources {

namespace {

struct FileStamp {
    dev_t device;
    ino_t inode;
    off_t size;
    int64_t modifiedNs;
    bool operator==(const FileStamp&) const = default;
};

struct CachedImage {
    FileStamp stamp;
    std::shared_ptr<const ResourceImage> image;
};

std::mutex cacheLock;
std::map<std::string, CachedImage> cache;

std::shared_ptr<const ResourceImage> parse(const std::string& path, DWORD* error, uint16_t onlyType = 0) {
    FileReader file(path);
    if (!file.isOpen()) {
        *error = ERROR_FILE_NOT_FOUND;
        return nullptr;
    }
    auto image = std::make_shared<ResourceImage>();
    if (parsePeResources(file, *image, onlyType)) return image;
    std::string magic;
    if (file.read(0, 4, magic) && magic == "\x7f" "ELF") {
        if (auto section = readElfSection(file, kElfSectionName)) parseResFile(*section, *image);
        return image;
    }
    *error = ERROR_RESOURCE_DATA_NOT_FOUND;  // what Windows answers for a file that is no module
    return nullptr;
}

std::string realPath(const char* path) {
    char buffer[PATH_MAX];
    return realpath(path, buffer) ? std::string(buffer) : std::string(path);
}

}  // namespace

namespace {

bool statRegularFile(const std::string& nativePath, struct stat& st, DWORD* error) {
    if (stat(nativePath.c_str(), &st) != 0) {
        *error = errno == ENOTDIR || errno == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED;
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        *error = ERROR_ACCESS_DENIED;  // what Windows answers for a directory
        return false;
    }
    return true;
}

}  // namespace

std::shared_ptr<const ResourceImage> readImageOfFile(const std::string& nativePath, DWORD* error, uint16_t onlyType) {
    struct stat st;
    if (!statRegularFile(nativePath, st, error)) return nullptr;
    return parse(nativePath, error, onlyType);
}

std::shared_ptr<const ResourceImage> imageOfFile(const std::string& nativePath, DWORD* error) {
    struct stat st;
    if (!statRegularFile(nativePath, st, error)) return nullptr;
    FileStamp stamp{st.st_dev, st.st_ino, st.st_size, int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
    {
        std::lock_guard lock(cacheLock);
        auto found = cache.find(nativePath);
        if (found != cache.end() && found->second.stamp == stamp) return found->second.image;
    }
    auto image = parse(nativePath, error);
    if (image) {
        std::lock_guard lock(cacheLock);
        cache[nativePath] = CachedImage{stamp, image};
    }
    return image;
}

bool moduleFile(HMODULE module, std::string& nativePath) {
    if (!module) {
        nativePath = realPath("/proc/self/exe");
        return true;
    }
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(module), &info) || info.dli_fbase != reinterpret_cast<void*>(module))
        return false;
    // The main program is listed without a path of its own.
    bool named = info.dli_fname && std::string_view(info.dli_fname).find('/') != std::string_view::npos;
    nativePath = realPath(named ? info.dli_fname : "/proc/self/exe");
    return true;
}

}  // namespace winsys::resources
