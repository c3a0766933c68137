// Choosing a resource among languages, and reading module files.
#include "resources/resource_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace winsys::resources {

bool isKeptType(const ResourceId& type) {
    return type.name.empty() && (type.number == kStringTableType || type.number == kVersionType);
}

namespace {

int languageRank(uint16_t language) {
    if (language == kEnglishUnitedStates) return 0;
    if (language == 0) return 1;  // LANG_NEUTRAL
    if ((language & 0x3FF) == 0x09) return 2;  // another English
    return 3;
}

template <typename Match>
const Resource* bestMatch(const ResourceImage& image, Match matches) {
    const Resource* best = nullptr;
    for (const Resource& r : image.resources)
        if (matches(r) && (!best || languageRank(r.language) < languageRank(best->language))) best = &r;
    return best;
}

}  // namespace

const Resource* findResource(const ResourceImage& image, uint16_t type, uint16_t name) {
    return bestMatch(image, [&](const Resource& r) {
        return r.type == ResourceId{type, {}} && r.name == ResourceId{name, {}};
    });
}

const Resource* findFirstOfType(const ResourceImage& image, uint16_t type) {
    const Resource* first = nullptr;
    for (const Resource& r : image.resources)
        if (r.type == ResourceId{type, {}}) {
            first = &r;
            break;
        }
    if (!first) return nullptr;
    return bestMatch(image, [&](const Resource& r) { return r.type == first->type && r.name == first->name; });
}

FileReader::FileReader(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd_ >= 0 && fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) {
        size_ = static_cast<uint64_t>(st.st_size);
    } else if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

FileReader::~FileReader() {
    if (fd_ >= 0) ::close(fd_);
}

bool FileReader::read(uint64_t offset, size_t count, std::string& out) const {
    if (fd_ < 0 || offset > size_ || count > size_ - offset) return false;
    out.resize(count);
    size_t done = 0;
    while (done < count) {
        ssize_t n = ::pread(fd_, out.data() + done, count - done, static_cast<off_t>(offset + done));
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace winsys::resources
