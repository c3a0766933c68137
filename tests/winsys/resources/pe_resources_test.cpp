// Version resources of real PE files (PE32 and PE32+), checked against
// python3-pefile, and the single source of the library's resources: the
// Windows resource script, compiled by windres, gives the same resources as
// the image our build tool writes for the Linux library.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <algorithm>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Wine's PE libraries: 32-bit ones (PE32) and, where wine64 is installed, 64-bit ones (PE32+).
const char* const kWineLibraries = "/usr/lib/i386-linux-gnu/wine/i386-windows";
const char* const kWine64Libraries = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows";

std::u16string windowsPath(const std::string& native) {
    std::u16string out = u"Z:";
    for (char c : native) out += c == '/' ? u'\\' : static_cast<char16_t>(c);
    return out;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

struct Version {
    bool present = false;
    uint32_t ms = 0, ls = 0;
    uint32_t resourceSize = 0;
};

// What pefile reports for each file: the fixed file version and the size of
// the version resource, or "none".
std::map<std::string, Version> pefileVersions(const std::vector<std::string>& files) {
    std::string script =
        "import sys, pefile\n"
        "for path in sys.argv[1:]:\n"
        "    try:\n"
        "        pe = pefile.PE(path, fast_load=True)\n"
        "    except pefile.PEFormatError:\n"
        "        print(path, 'skip')\n"
        "        continue\n"
        "    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY['IMAGE_DIRECTORY_ENTRY_RESOURCE']])\n"
        "    size = None\n"
        "    for t in getattr(pe, 'DIRECTORY_ENTRY_RESOURCE', None).entries if hasattr(pe, 'DIRECTORY_ENTRY_RESOURCE') else []:\n"
        "        if t.id == 16:\n"
        "            size = t.directory.entries[0].directory.entries[0].data.struct.Size\n"
        "    pe.parse_data_directories()\n"
        "    if size is None or not hasattr(pe, 'VS_FIXEDFILEINFO'):\n"
        "        print(path, 'none')\n"
        "    else:\n"
        "        f = pe.VS_FIXEDFILEINFO[0]\n"
        "        print(path, f.FileVersionMS, f.FileVersionLS, size)\n";
    std::string scriptPath = std::filesystem::temp_directory_path() / "winsys_pefile_versions.py";
    std::ofstream(scriptPath) << script;
    std::string command = "/usr/bin/python3 " + scriptPath;
    for (const auto& f : files) command += " '" + f + "'";
    std::map<std::string, Version> out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return out;
    char line[4096];
    while (fgets(line, sizeof line, pipe)) {
        std::istringstream in(line);
        std::string path, first;
        in >> path >> first;
        if (first == "skip") continue;  // pefile itself refuses the file
        Version v;
        if (first != "none") {
            v.present = true;
            v.ms = static_cast<uint32_t>(std::stoul(first));
            in >> v.ls >> v.resourceSize;
        }
        out[path] = v;
    }
    pclose(pipe);
    std::filesystem::remove(scriptPath);
    return out;
}

Version ourVersion(const std::string& path) {
    Version v;
    std::u16string windows = windowsPath(path);
    DWORD size = GetFileVersionInfoSizeW(windows.c_str(), nullptr);
    if (size == 0) return v;
    std::string block(size, '\0');
    if (!GetFileVersionInfoW(windows.c_str(), 0, size, block.data())) return v;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), u"\\", reinterpret_cast<void**>(&fixed), &length)) return v;
    v.present = true;
    v.ms = fixed->dwFileVersionMS;
    v.ls = fixed->dwFileVersionLS;
    v.resourceSize = (size - 4) / 2;
    return v;
}

TEST(PeVersions, MatchPefileOnWineLibrariesAndOnBothPeFormats) {
    std::vector<std::string> files = {PE32_PATH, PE64_PATH};
    std::vector<std::string> wine;
    for (const char* directory : {kWineLibraries, kWine64Libraries})
        if (std::filesystem::is_directory(directory))
            for (const auto& entry : std::filesystem::directory_iterator(directory))
                if (entry.path().extension() == ".dll" || entry.path().extension() == ".exe")
                    wine.push_back(entry.path());
    std::sort(wine.begin(), wine.end());
    // A spread of Wine's libraries keeps the run short.
    for (size_t i = 0; i < wine.size(); i += 15) files.push_back(wine[i]);
    for (const char* name : {"msi.dll", "version.dll", "kernel32.dll", "cabinet.dll"})
        if (std::filesystem::exists(std::string(kWineLibraries) + "/" + name))
            files.push_back(std::string(kWineLibraries) + "/" + name);

    auto expected = pefileVersions(files);
    ASSERT_GE(expected.size(), 2u) << "python3-pefile missing?";
    int withVersion = 0;
    for (const auto& [path, want] : expected) {
        Version got = ourVersion(path);
        EXPECT_EQ(got.present, want.present) << path;
        if (!want.present || !got.present) continue;
        ++withVersion;
        EXPECT_EQ(got.ms, want.ms) << path;
        EXPECT_EQ(got.ls, want.ls) << path;
        EXPECT_EQ(got.resourceSize, want.resourceSize) << path;
    }
    EXPECT_GE(withVersion, 2);
    EXPECT_EQ(ourVersion(PE32_PATH).ms, DWORD(6 << 16 | 50));
    EXPECT_EQ(ourVersion(PE64_PATH).ms, DWORD(6 << 16 | 50));
}

// The whole version resource of the library is the same, byte for byte,
// whether windres built it into a DLL or our tool into the Linux library.
TEST(SingleSource, WindowsAndLinuxResourcesAreTheSame) {
    EXPECT_EQ(readFile(WINDRES_RES_PATH), readFile(LIBRARY_IMAGE_PATH));
    for (const char* pe : {PE32_PATH, PE64_PATH}) {
        std::u16string a = windowsPath(pe), b = windowsPath(LIBRARY_PATH);
        DWORD size = GetFileVersionInfoSizeW(a.c_str(), nullptr);
        ASSERT_EQ(size, GetFileVersionInfoSizeW(b.c_str(), nullptr)) << pe;
        std::string fromPe(size, '\0'), fromElf(size, '\0');
        ASSERT_TRUE(GetFileVersionInfoW(a.c_str(), 0, size, fromPe.data()));
        ASSERT_TRUE(GetFileVersionInfoW(b.c_str(), 0, size, fromElf.data()));
        EXPECT_EQ(fromPe, fromElf) << pe;
    }
}

// Damaged PE files are refused or read partly, never read out of bounds.
TEST(PeVersions, DamagedFilesDoNotCrash) {
    std::string original = readFile(PE32_PATH);
    ASSERT_GT(original.size(), 1024u);
    std::string path = std::filesystem::temp_directory_path() / "winsys_damaged_pe.dll";
    std::u16string windows = windowsPath(path);
    uint32_t seed = 12345;
    auto next = [&] { return seed = seed * 1103515245u + 12345u; };
    for (int round = 0; round < 300; ++round) {
        std::string damaged = original;
        if (round % 3 == 0) damaged.resize(next() % original.size());
        for (int flips = 0; flips < 8; ++flips) {
            // Aim at the headers and the resource tree, where the offsets are.
            size_t at = round % 2 ? next() % std::min<size_t>(damaged.size() + 1, 1024) : next() % (damaged.size() + 1);
            if (at < damaged.size()) damaged[at] = static_cast<char>(next());
        }
        std::filesystem::remove(path);
        std::ofstream(path, std::ios::binary) << damaged;
        DWORD size = GetFileVersionInfoSizeW(windows.c_str(), nullptr);
        if (size == 0) continue;
        std::string block(size, '\0');
        if (!GetFileVersionInfoW(windows.c_str(), 0, size, block.data())) continue;
        void* value = nullptr;
        UINT length = 0;
        VerQueryValueW(block.data(), u"\\StringFileInfo\\040904b0\\FileVersion", &value, &length);
        VerQueryValueA(block.data(), "\\StringFileInfo\\040904b0\\ProductName", &value, &length);
    }
    std::filesystem::remove(path);
}

// Resource addresses are found in whichever section spans them, also when the
// section table holds more than one section there: an empty one at the same
// address, or an overlapping one after the real one (only damaged files have
// those).
TEST(PeVersions, ExtraSectionsAtTheResourcesAddressChangeNothing) {
    const std::string original = readFile(PE32_PATH);
    auto u16 = [](const std::string& b, size_t at) { return uint16_t(uint8_t(b[at]) | uint8_t(b[at + 1]) << 8); };
    auto u32 = [&](const std::string& b, size_t at) { return uint32_t(u16(b, at)) | uint32_t(u16(b, at + 2)) << 16; };
    const size_t pe = u32(original, 0x3C);
    const size_t count = u16(original, pe + 6);
    const size_t table = pe + 24 + u16(original, pe + 20);
    size_t rsrc = table;
    while (rsrc < table + count * 40 && original.compare(rsrc, 5, ".rsrc") != 0) rsrc += 40;
    ASSERT_LT(rsrc, table + count * 40) << "no .rsrc section";
    const size_t appended = table + count * 40;
    ASSERT_LE(appended + 40, size_t(u32(original, table + 20)));  // room before the first section's data
    ASSERT_EQ(original.substr(appended, 40), std::string(40, '\0'));

    const Version expected = ourVersion(PE32_PATH);
    ASSERT_TRUE(expected.present);
    const std::string path = std::filesystem::temp_directory_path() / "winsys_extra_section.dll";
    for (const bool empty : {true, false}) {
        SCOPED_TRACE(empty ? "an empty section at the same address" : "an overlapping section after it");
        std::string bytes = original;
        std::string extra = original.substr(rsrc, 40);
        extra.replace(0, 8, std::string("decoy\0\0\0", 8));
        if (empty) extra.replace(8, 4, std::string(4, '\0'));    // VirtualSize
        extra.replace(16, 4, empty ? std::string(4, '\0') : original.substr(rsrc + 16, 4));  // SizeOfRawData
        extra.replace(20, 4, std::string(4, '\0'));              // PointerToRawData: the headers
        bytes.replace(appended, 40, extra);
        bytes[pe + 6] = char(count + 1);
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
        const Version got = ourVersion(path);
        EXPECT_TRUE(got.present);
        EXPECT_EQ(got.ms, expected.ms);
        EXPECT_EQ(got.ls, expected.ls);
        EXPECT_EQ(got.resourceSize, expected.resourceSize);
    }
    std::filesystem::remove(path);
}

// A file rewritten in place with another version but the same size and
// time, as happens within the file system's timestamp granularity, answers
// with its new version: the version calls read the file anew.
TEST(PeVersions, FileRewrittenInPlaceGivesItsNewVersion) {
    std::string bytes = readFile(PE32_PATH);
    size_t fixed = bytes.find(std::string("\xBD\x04\xEF\xFE", 4));  // VS_FIXEDFILEINFO
    ASSERT_NE(fixed, std::string::npos);
    std::string path = std::filesystem::temp_directory_path() / "winsys_rewritten_pe.dll";
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    struct stat before {};
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    EXPECT_EQ(ourVersion(path).ms, DWORD(6 << 16 | 50));

    bytes[fixed + 8] = 51;  // the minor part of dwFileVersionMS
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    struct timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    struct stat after {};
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    ASSERT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(ourVersion(path).ms, DWORD(6 << 16 | 51));
    std::filesystem::remove(path);
}

}  // namespace
