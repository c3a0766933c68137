// The .res writer behind the resource-image build tool.
#include "resources/image_writer.h"

#include <map>

#include "kernel/text.h"

namespace winsys::resources {

namespace {

class Bytes {
public:
    void u16(uint32_t v) {
        out_ += static_cast<char>(v & 0xFF);
        out_ += static_cast<char>((v >> 8) & 0xFF);
    }
    void u32(uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    }
    void wide(const std::u16string& s, bool terminate) {
        for (char16_t c : s) u16(c);
        if (terminate) u16(0);
    }
    void align4() {
        while (out_.size() % 4) out_ += '\0';
    }
    void patch16(size_t at, uint32_t v) {
        out_[at] = static_cast<char>(v & 0xFF);
        out_[at + 1] = static_cast<char>((v >> 8) & 0xFF);
    }
    size_t size() const { return out_.size(); }
    std::string& str() { return out_; }

private:
    std::string out_;
};

// One .res entry with a numbered type and name.
void appendEntry(Bytes& res, uint16_t type, uint16_t name, uint16_t memoryFlags, uint16_t language,
                 const std::string& data) {
    res.align4();
    res.u32(static_cast<uint32_t>(data.size()));
    res.u32(32);
    res.u16(0xFFFF);
    res.u16(type);
    res.u16(0xFFFF);
    res.u16(name);
    res.u32(0);  // DataVersion
    res.u16(memoryFlags);
    res.u16(language);
    res.u32(0);  // Version
    res.u32(0);  // Characteristics
    res.str() += data;
    res.align4();
}

// A version block: its length is patched once its value and children are in;
// the length leaves out the padding after the last child.
class VersionBlock {
public:
    VersionBlock(Bytes& out, const std::string& key, uint16_t valueLength, bool text) : out_(out) {
        out_.align4();
        start_ = out_.size();
        out_.u16(0);
        out_.u16(valueLength);
        out_.u16(text ? 1 : 0);
        out_.wide(text::toUtf16(key), true);
        out_.align4();
    }
    ~VersionBlock() { out_.patch16(start_, static_cast<uint32_t>(out_.size() - start_)); }

private:
    Bytes& out_;
    size_t start_;
};

std::string stringBlock(const std::map<unsigned, std::u16string>& strings, unsigned block) {
    Bytes b;
    for (unsigned id = (block - 1) * 16; id < block * 16; ++id) {
        auto found = strings.find(id);
        if (found == strings.end()) {
            b.u16(0);
            continue;
        }
        b.u16(static_cast<uint32_t>(found->second.size()));
        b.wide(found->second, false);
    }
    return b.str();
}

std::string versionInfo(const ImageSource& s) {
    Bytes b;
    {
        VersionBlock root(b, "VS_VERSION_INFO", 52, false);
        b.u32(0xFEEF04BD);
        b.u32(0x00010000);
        b.u32(uint32_t(s.fileVersion[0]) << 16 | s.fileVersion[1]);
        b.u32(uint32_t(s.fileVersion[2]) << 16 | s.fileVersion[3]);
        b.u32(uint32_t(s.productVersion[0]) << 16 | s.productVersion[1]);
        b.u32(uint32_t(s.productVersion[2]) << 16 | s.productVersion[3]);
        b.u32(s.fileFlagsMask);
        b.u32(s.fileFlags);
        b.u32(s.fileOs);
        b.u32(s.fileType);
        b.u32(s.fileSubtype);
        b.u32(0);
        b.u32(0);
        {
            VersionBlock info(b, "StringFileInfo", 0, true);
            VersionBlock table(b, s.stringTableKey, 0, true);
            for (const auto& [key, value] : s.versionStrings) {
                std::u16string wide = text::toUtf16(value);
                VersionBlock entry(b, key, static_cast<uint16_t>(wide.size() + 1), true);
                b.wide(wide, true);
            }
        }
        {
            VersionBlock info(b, "VarFileInfo", 0, true);
            VersionBlock translation(b, "Translation", static_cast<uint16_t>(s.translations.size() * 4), false);
            for (uint32_t t : s.translations) b.u32(t);
        }
    }
    return b.str();
}

}  // namespace

std::string writeResImage(const ImageSource& source) {
    Bytes res;
    appendEntry(res, 0, 0, 0, 0, {});  // the empty entry every .res starts with
    std::map<unsigned, std::u16string> strings;
    for (const auto& [id, value] : source.strings) strings[id] = text::toUtf16(value);
    std::map<unsigned, bool> blocks;
    for (const auto& entry : strings) blocks[entry.first / 16 + 1] = true;
    constexpr uint16_t kStringMemoryFlags = 0x1030;  // moveable, pure, discardable
    constexpr uint16_t kVersionMemoryFlags = 0;  // as windres writes it
    for (const auto& block : blocks)
        appendEntry(res, 6, static_cast<uint16_t>(block.first), kStringMemoryFlags, source.language,
                    stringBlock(strings, block.first));
    appendEntry(res, 16, 1, kVersionMemoryFlags, source.language, versionInfo(source));
    return res.str();
}

}  // namespace winsys::resources
