// Writes a resource image in the .res format that resource compilers write:
// string tables in blocks of 16 and a VS_VERSIONINFO, laid out the way the
// .rc compilers lay them out, so that one source gives the same resources on
// both platforms. Used by the build tool, not by winsys at run time.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace winsys::resources {

struct ImageSource {
    uint16_t language = 0x0409;
    std::vector<std::pair<unsigned, std::string>> strings;  // id, UTF-8 text
    uint16_t fileVersion[4] = {};
    uint16_t productVersion[4] = {};
    uint32_t fileFlagsMask = 0x3F;
    uint32_t fileFlags = 0;
    uint32_t fileOs = 0x40004;  // VOS_NT_WINDOWS32
    uint32_t fileType = 2;      // VFT_DLL
    uint32_t fileSubtype = 0;
    std::string stringTableKey = "040904B0";
    std::vector<std::pair<std::string, std::string>> versionStrings;  // in order
    std::vector<uint32_t> translations;  // language in the low word, code page in the high
};

std::string writeResImage(const ImageSource& source);

}  // namespace winsys::resources
