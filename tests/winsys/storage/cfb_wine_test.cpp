// Compound files against Wine's ole32 (a mingw probe run under wine): Wine
// finds elements by searching the sibling trees, so it opens every stream of
// our files only if their trees are ordered as the format requires; files
// Wine writes in its own layout are read by us; and both sides' compactions
// agree.
#include <memory>
#include "cfb_test_util.h"
#include "shell_output.h"

#include <ole2.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>

using namespace winsys::cfb;
using namespace cfbtest;

namespace {

// Sorted lines, without the probe's own status lines.
std::vector<std::string> entries(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();  // Wine's console ends lines with CR LF
        if (!line.empty() && line.rfind("result", 0) != 0 && line.rfind("class", 0) != 0) lines.push_back(line);
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

void listInto(const CompoundFile& file, EntryId storage, const std::string& prefix, std::string* out) {
    std::vector<EntryInfo> kids;
    ASSERT_EQ(file.children(storage, &kids), S_OK);
    for (const auto& kid : kids) {
        std::string path = prefix.empty() ? hexName(kid.name) : prefix + "/" + hexName(kid.name);
        if (kid.type == EntryType::Stream) {
            std::vector<uint8_t> bytes;
            ASSERT_EQ(file.readStream(kid.id, &bytes), S_OK);
            uint64_t h = 1469598103934665603ULL;
            for (uint8_t b : bytes) h = (h ^ b) * 1099511628211ULL;
            char line[64];
            std::snprintf(line, sizeof line, " %zu %016llx\n", bytes.size(), static_cast<unsigned long long>(h));
            *out += "stream " + path + line;
        } else {
            *out += "storage " + path + "\n";
            listInto(file, kid.id, path, out);
        }
    }
}

std::vector<std::string> ourEntries(const std::string& path) {
    std::unique_ptr<CompoundFile> file;
    EXPECT_EQ(CompoundFile::open(path, {}, &file), S_OK);
    std::string text;
    if (file) listInto(*file, kRootEntry, "", &text);
    return entries(text);
}

class Wine : public ::testing::Test {
protected:
    // One Wine prefix serves the whole suite: making one takes tens of seconds, and a
    // prefix removed under a running wineserver breaks the next test's calls.
    static void SetUpTestSuite() {
        if (getenv("WINEPREFIX")) return;
        suitePrefix = std::make_unique<ScratchDir>();
        setenv("WINEPREFIX", (suitePrefix->path() / "wineprefix").c_str(), 1);
    }
    static void TearDownTestSuite() {
        if (!suitePrefix) return;
        std::system("wineserver -k >/dev/null 2>&1");
        suitePrefix.reset();
        unsetenv("WINEPREFIX");
    }
    void SetUp() override {
        if (std::string(WINE_PROBE).empty() || std::system("wine --version >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "wine or the mingw compiler is not installed";
        setenv("WINEDEBUG", "-all", 1);
        setenv("QLTMSI_PREFIX", (dir.path() / "prefix").c_str(), 1);
    }
    static inline std::unique_ptr<ScratchDir> suitePrefix;
    std::string probe(const std::string& args) { return shellOutput(std::string("wine ") + WINE_PROBE + " " + args + " 2>/dev/null"); }
    std::string list(const std::string& path) { return probe("list '" + zDrivePath(path) + "'"); }
    ScratchDir dir;
};

std::string writeTree(const std::string& path, Version version, int streams) {
    std::unique_ptr<CompoundFile> file;
    EXPECT_EQ(CompoundFile::create(path, version, false, 0, &file), S_OK);
    std::vector<EntryId> storages{kRootEntry};
    const char16_t alphabet[] = u"aAbBzZ_\x00e9\x00c9\x3801\x4840\x4711";
    for (int i = 0; i < streams; ++i) {
        std::u16string name;
        for (int k = 0, n = 1 + i % 9; k < n; ++k) name.push_back(alphabet[(i * 7 + k * 3) % 12]);
        name += char16_t(u'0' + i % 10);
        EntryId parent = storages[size_t(i) % storages.size()];
        EntryId found;
        if (file->find(parent, name, &found) == S_OK) continue;
        if (i % 17 == 0) {
            EntryId made;
            EXPECT_EQ(file->createStorage(parent, name, false, &made), S_OK);
            storages.push_back(made);
        } else {
            EXPECT_EQ(file->writeStream(parent, name, pattern(size_t(i * 131) % 10000, uint32_t(i))), S_OK);
        }
    }
    EXPECT_EQ(file->setClass(kRootEntry, GUID{0x000C1084, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}}), S_OK);
    EXPECT_EQ(file->commit(), S_OK);
    return path;
}

TEST_F(Wine, FindsEveryElementOfOurFilesByName) {
    for (Version v : {Version::V3, Version::V4}) {
        std::string path = writeTree(dir.file(v == Version::V3 ? "t3.cfb" : "t4.cfb"), v, 600);
        std::string listed = list(path);
        EXPECT_NE(listed.find("class 000c1084"), std::string::npos) << listed.substr(0, 200);
        EXPECT_EQ(listed.find("unopenable"), std::string::npos);
        EXPECT_EQ(entries(listed), ourEntries(path));
    }
}

TEST_F(Wine, CompactionsAgreeBothWays) {
    std::string path = writeTree(dir.file("src.cfb"), Version::V3, 300);
    // Leave free space behind: remove a third of the streams.
    {
        std::unique_ptr<CompoundFile> file;
        ASSERT_EQ(CompoundFile::open(path, {Access::ReadWrite, 0}, &file), S_OK);
        std::vector<EntryInfo> kids;
        ASSERT_EQ(file->children(kRootEntry, &kids), S_OK);
        for (size_t i = 0; i < kids.size(); i += 3)
            if (kids[i].type == EntryType::Stream) file->remove(kids[i].id);
        ASSERT_EQ(file->commit(), S_OK);
    }
    auto expected = ourEntries(path);

    // Wine compacts our file; we read its layout.
    std::string byWine = dir.file("wine.cfb");
    std::string result = probe("compact '" + zDrivePath(path) + "' '" + zDrivePath(byWine) + "'");
    EXPECT_NE(result.find("result 00000000"), std::string::npos) << result;
    EXPECT_EQ(ourEntries(byWine), expected);

    // We compact Wine's file through our StgOpenStorage / CopyTo; Wine reads ours.
    std::string byUs = dir.file("ours.cfb");
    const std::string fromText = zDrivePath(byWine), toText = zDrivePath(byUs);
    std::u16string from(fromText.begin(), fromText.end()), to(toText.begin(), toText.end());
    IStorage* source = nullptr;
    IStorage* target = nullptr;
    ASSERT_EQ(StgOpenStorage(from.c_str(), nullptr, 0x20, nullptr, 0, &source), S_OK);
    ASSERT_EQ(StgCreateDocfile(to.c_str(), 0x1011, 0, &target), S_OK);
    ASSERT_EQ(source->CopyTo(0, nullptr, nullptr, target), S_OK);
    target->Release();
    source->Release();
    EXPECT_EQ(entries(list(byUs)), expected);
    EXPECT_LE(readFile(byUs).size(), readFile(byWine).size());
}

}  // namespace
