// Property-set codec for summary information.
#include "summary_info.h"

#include <msidefs.h>

#include "codepage.h"

namespace winsys::msi {
namespace {

constexpr uint8_t kFmtid[16] = {0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10,
                                0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9};

uint32_t u32at(std::span<const uint8_t> b, size_t off) {
    return b[off] | (b[off + 1] << 8) | (b[off + 2] << 16) | (uint32_t(b[off + 3]) << 24);
}
void put32(std::vector<uint8_t>& v, uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(uint8_t(x >> (8 * i)));
}
void set32(std::vector<uint8_t>& v, size_t off, uint32_t x) {
    for (int i = 0; i < 4; ++i) v[off + i] = uint8_t(x >> (8 * i));
}

}  // namespace

unsigned SummaryInfo::codepage() const {
    auto it = properties.find(PID_CODEPAGE);
    if (it == properties.end()) return 0;
    return uint16_t(it->second.integer);
}

uint16_t summaryPropertyType(uint32_t pid) {
    switch (pid) {
    case PID_CODEPAGE: return VT_I2;
    case PID_TITLE: case PID_SUBJECT: case PID_AUTHOR: case PID_KEYWORDS: case PID_COMMENTS:
    case PID_TEMPLATE: case PID_LASTAUTHOR: case PID_REVNUMBER: case PID_APPNAME:
        return VT_LPSTR;
    case PID_EDITTIME: case PID_LASTPRINTED: case PID_CREATE_DTM: case PID_LASTSAVE_DTM:
        return VT_FILETIME;
    case PID_PAGECOUNT: case PID_WORDCOUNT: case PID_CHARCOUNT: case PID_SECURITY:
        return VT_I4;
    default: return 0;
    }
}

std::optional<SummaryInfo> decodeSummaryInfo(std::span<const uint8_t> b) {
    SummaryInfo info;
    if (b.size() < 0x30) return std::nullopt;
    if (b[0] != 0xFE || b[1] != 0xFF) return std::nullopt;
    if (u32at(b, 0x18) < 1) return std::nullopt;
    size_t section = u32at(b, 0x2C);
    if (section > b.size() || b.size() - section < 8) return std::nullopt;
    auto sec = b.subspan(section);
    size_t secSize = std::min<size_t>(u32at(sec, 0), sec.size());
    sec = sec.first(secSize);
    if (sec.size() < 8) return std::nullopt;
    uint32_t count = u32at(sec, 4);
    if (count > (sec.size() - 8) / 8) return std::nullopt;
    // Text needs the code page first; it may come after the strings.
    unsigned codepage = 0;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t pid = u32at(sec, 8 + i * 8), off = u32at(sec, 12 + i * 8);
        if (pid == PID_CODEPAGE && off <= sec.size() && sec.size() - off >= 8 && u32at(sec, off) == VT_I2)
            codepage = uint16_t(sec[off + 4] | (sec[off + 5] << 8));
    }
    if (!isSupportedCodepage(codepage)) codepage = 0;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t pid = u32at(sec, 8 + i * 8), off = u32at(sec, 12 + i * 8);
        if (off > sec.size() || sec.size() - off < 8) return std::nullopt;
        SummaryProperty p;
        p.type = uint16_t(u32at(sec, off));
        switch (p.type) {
        case VT_I2: p.integer = int16_t(sec[off + 4] | (sec[off + 5] << 8)); break;
        case VT_I4: p.integer = int32_t(u32at(sec, off + 4)); break;
        case VT_FILETIME:
            if (sec.size() - off < 12) return std::nullopt;
            p.filetime = u32at(sec, off + 4) | (uint64_t(u32at(sec, off + 8)) << 32);
            break;
        case VT_LPSTR: {
            uint32_t len = u32at(sec, off + 4);
            if (len > sec.size() - off - 8) return std::nullopt;
            std::string_view bytes(reinterpret_cast<const char*>(sec.data() + off + 8), len);
            if (auto nul = bytes.find('\0'); nul != std::string_view::npos) bytes = bytes.substr(0, nul);
            p.text = decodeCodepage(codepage, bytes);
            break;
        }
        default: continue;  // types Windows Installer does not use are dropped
        }
        info.properties[pid] = std::move(p);
    }
    return info;
}

std::optional<std::vector<uint8_t>> encodeSummaryInfo(const SummaryInfo& info) {
    std::vector<uint8_t> out = {0xFE, 0xFF, 0x00, 0x00, 0x05, 0x00, 0x02, 0x00};
    out.resize(0x18, 0);
    put32(out, 1);
    out.insert(out.end(), kFmtid, kFmtid + 16);
    put32(out, 0x30);
    size_t section = out.size();
    put32(out, 0);
    put32(out, uint32_t(info.properties.size()));
    size_t table = out.size();
    out.resize(out.size() + 8 * info.properties.size(), 0);
    unsigned codepage = info.codepage();
    size_t index = 0;
    for (const auto& [pid, p] : info.properties) {
        set32(out, table + index * 8, pid);
        set32(out, table + index * 8 + 4, uint32_t(out.size() - section));
        ++index;
        put32(out, p.type);
        switch (p.type) {
        case VT_I2: put32(out, uint16_t(p.integer)); break;
        case VT_I4: put32(out, uint32_t(p.integer)); break;
        case VT_FILETIME:
            put32(out, uint32_t(p.filetime));
            put32(out, uint32_t(p.filetime >> 32));
            break;
        case VT_LPSTR: {
            auto bytes = encodeCodepage(codepage == 0 ? 1252 : codepage, p.text);
            if (!bytes) return std::nullopt;
            put32(out, uint32_t(bytes->size() + 1));
            out.insert(out.end(), bytes->begin(), bytes->end());
            out.push_back(0);
            while (out.size() % 4) out.push_back(0);
            break;
        }
        default: put32(out, 0); break;
        }
    }
    set32(out, section, uint32_t(out.size() - section));
    return out;
}

}  // namespace winsys::msi
