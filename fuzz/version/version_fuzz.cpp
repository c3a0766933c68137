// libFuzzer target: any bytes as a file (a PE file, or one of our ELF
// modules with a resource section) whose version resource is asked for the
// way callers ask: its size, the resource itself, whole and cut short, its
// fixed part, translations and texts, wide and narrow, and the Installer's
// version and language. Each call answers or fails with an error code,
// without a crash, a hang or a read outside the file or the caller's buffer.
#include <windows.h>
#include <msi.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "scratch.h"

namespace {

std::u16string g_path;  // the input, by its Windows name

std::u16string windowsPath(const std::string& native) {
    std::u16string path = u"Z:";
    for (char c : native)
        path += c == '/' ? u'\\' : char16_t(static_cast<unsigned char>(c));
    return path;
}

void query(std::vector<uint8_t>& block, const char16_t* sub) {
    void* value = nullptr;
    UINT length = 0;
    VerQueryValueW(block.data(), sub, &value, &length);
    std::string narrow;
    for (const char16_t* c = sub; *c; ++c)
        narrow += char(*c);
    VerQueryValueA(block.data(), narrow.c_str(), &value, &length);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("QLTMSI_PREFIX", fuzz::scratchPath("prefix").c_str(), 1);
    g_path = windowsPath(fuzz::scratchPath("input.dll"));
    return 0;
}

// Every call parses the whole file again, as on Windows, and the parse is
// nearly all of an input's cost; so the input's last byte chooses one way of
// asking, and each way is reached by some inputs rather than all by each.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string native = fuzz::scratchPath("input.dll");
    if (!fuzz::writeScratch(native, data, size))
        return 0;
    const unsigned way = size ? data[size - 1] % 3 : 0;
    if (way == 2) {
        WCHAR version[64], language[64];
        DWORD versionLength = 64, languageLength = 64;
        MsiGetFileVersionW(g_path.c_str(), version, &versionLength, language, &languageLength);
        return 0;
    }
    DWORD handle = 0;
    DWORD blockSize = GetFileVersionInfoSizeW(g_path.c_str(), &handle);
    if (blockSize == 0 || blockSize >= (1u << 20))
        return 0;
    if (way == 1) {
        // A buffer cut short must be read inside what it holds.
        std::vector<uint8_t> half(blockSize / 2 + 1);
        if (GetFileVersionInfoW(g_path.c_str(), 0, DWORD(half.size()), half.data()))
            query(half, u"\\StringFileInfo\\040904b0\\FileVersion");
        return 0;
    }
    std::vector<uint8_t> block(blockSize);
    if (!GetFileVersionInfoW(g_path.c_str(), 0, blockSize, block.data()))
        return 0;
    query(block, u"\\");
    query(block, u"\\VarFileInfo\\Translation");
    void* value = nullptr;
    UINT length = 0;
    if (VerQueryValueW(block.data(), u"\\VarFileInfo\\Translation", &value, &length) && length >= 4) {
        auto* pair = static_cast<const uint16_t*>(value);
        char16_t sub[64];
        static const char16_t hex[] = u"0123456789abcdef";
        std::u16string text = u"\\StringFileInfo\\";
        for (uint16_t part : {pair[0], pair[1]})
            for (int shift = 12; shift >= 0; shift -= 4)
                text += hex[(part >> shift) & 0xF];
        text += u"\\FileVersion";
        text.copy(sub, text.size());
        sub[text.size()] = 0;
        query(block, sub);
    }
    query(block, u"\\StringFileInfo\\040904b0\\ProductName");
    return 0;
}
