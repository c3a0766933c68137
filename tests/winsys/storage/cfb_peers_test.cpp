// Compound files against independent implementations: packages that wixl
// and msibuild write are read by us entry for entry as olefile reads them,
// and files we write are read by olefile and by msitools with the same
// result as the originals.
#include "cfb_test_util.h"
#include "shell_output.h"
#include "sha1.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

using namespace winsys::cfb;
using namespace cfbtest;

namespace {

// A peer's output, with a note of a failing exit status so that
// comparisons show it.
std::string run(const std::string& command) {
    int status = 0;
    std::string out = shellOutput(command, &status);
    if (status != 0) out += "\n[exit status " + std::to_string(status) + "]";
    return out;
}

bool have(const char* probe) { return std::system((std::string(probe) + " >/dev/null 2>&1").c_str()) == 0; }

std::string clsidText(const GUID& g) {
    static const GUID zero{};
    if (std::memcmp(&g, &zero, sizeof g) == 0) return "";
    char b[40];
    std::snprintf(b, sizeof b, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", g.Data1, g.Data2, g.Data3,
                  g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return b;
}

void listInto(const CompoundFile& file, EntryId storage, const std::string& prefix, std::vector<std::string>* lines) {
    std::vector<EntryInfo> kids;
    ASSERT_EQ(file.children(storage, &kids), S_OK);
    for (const auto& kid : kids) {
        std::string path = prefix.empty() ? hexName(kid.name) : prefix + "/" + hexName(kid.name);
        if (kid.type == EntryType::Stream) {
            std::vector<uint8_t> bytes;
            ASSERT_EQ(file.readStream(kid.id, &bytes), S_OK);
            lines->push_back("stream " + path + " " + std::to_string(bytes.size()) + " " + sha1Hex(bytes));
        } else {
            lines->push_back("storage " + path + " " + clsidText(kid.clsid));
            listInto(file, kid.id, path, lines);
        }
    }
}

// The same listing as data/olefile_list.py prints.
std::string ourListing(const std::string& path) {
    std::unique_ptr<CompoundFile> file;
    EXPECT_EQ(CompoundFile::open(path, {}, &file), S_OK);
    if (!file) return "";
    std::vector<std::string> lines;
    listInto(*file, kRootEntry, "", &lines);
    std::sort(lines.begin(), lines.end());
    EntryInfo root;
    file->stat(kRootEntry, &root);
    std::string out = "root " + clsidText(root.clsid) + "\n";
    for (const auto& l : lines) out += l + "\n";
    return out;
}

std::string oleListing(const std::string& path) {
    return run("/usr/bin/python3 " SOURCE_DIR "/data/olefile_list.py '" + path + "'");
}

class Peers : public ::testing::Test {
protected:
    void SetUp() override {
        if (!have("/usr/bin/python3 -c 'import olefile'")) GTEST_SKIP() << "python3-olefile is not installed";
    }
    ScratchDir dir;
};

std::string makePackage(const ScratchDir& dir) {
    writeFile(dir.file("small.txt"), pattern(100, 1));
    writeFile(dir.file("big.bin"), pattern(300000, 2));
    std::ofstream(dir.file("p.wxs")) << R"(<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="{5B2C7D1E-8F3A-4B6C-9D0E-1F2A3B4C5D6E}" Name="Storage Peer" Language="1033" Version="1.2.3"
           Manufacturer="qltmsi tests" UpgradeCode="{6C3D8E2F-9A4B-4C7D-8E1F-2A3B4C5D6E7F}">
    <Package InstallerVersion="200" Compressed="yes"/>
    <Media Id="1" Cabinet="p.cab" EmbedCab="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFilesFolder">
        <Directory Id="INSTALLDIR" Name="StoragePeer">
          <Component Id="Main" Guid="{7D4E9F3A-0B5C-4D8E-9F2A-3B4C5D6E7F80}">
            <File Id="small.txt" Name="small.txt" Source="small.txt" KeyPath="yes"/>
            <File Id="big.bin" Name="big.bin" Source="big.bin"/>
          </Component>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="All" Level="1"><ComponentRef Id="Main"/></Feature>
  </Product>
</Wix>
)";
    std::string cd = "cd '" + dir.path().string() + "' && ";
    std::string out = run(cd + "wixl -o p.msi p.wxs 2>&1");
    EXPECT_EQ(out.find("exit status"), std::string::npos) << out;
    return dir.file("p.msi");
}

TEST_F(Peers, PackagesWrittenByWixlAndMsibuildReadAsOlefileReadsThem) {
    if (!have("wixl --version") || !have("msibuild 2>&1 | true")) GTEST_SKIP() << "msitools are not installed";
    std::string msi = makePackage(dir);
    std::string listing = ourListing(msi);
    EXPECT_EQ(listing, oleListing(msi));
    EXPECT_NE(listing.find("root 000C1084-0000-0000-C000-000000000046"), std::string::npos);

    // msibuild adds a stream large enough for DIFAT sectors in version 3.
    writeFile(dir.file("extra.bin"), pattern(8 << 20, 3));
    run("msibuild '" + msi + "' -a extra.bin '" + dir.file("extra.bin") + "'");
    Raw raw(readFile(msi));
    EXPECT_GT(raw.fatSectorCount(), 109u);
    listing = ourListing(msi);
    EXPECT_EQ(listing, oleListing(msi));
    EXPECT_NE(listing.find(" 8388608 " + sha1Hex(pattern(8 << 20, 3))), std::string::npos);

    // The streams msiinfo reports are among ours, with the same count of
    // non-table streams (table streams start with 0x4840 and are not listed).
    std::string streams = run("msiinfo streams '" + msi + "'");
    size_t reported = size_t(std::count(streams.begin(), streams.end(), '\n'));
    size_t ours = 0, pos = 0;
    while ((pos = listing.find("\nstream ", pos)) != std::string::npos) {
        pos += 8;
        if (listing.compare(pos, 4, "4048") != 0) ++ours;
    }
    EXPECT_EQ(ours, reported) << streams;
}

TEST_F(Peers, FilesWeWriteReadTheSameInOlefileAndMsitools) {
    if (!have("wixl --version")) GTEST_SKIP() << "msitools are not installed";
    std::string msi = makePackage(dir);
    writeFile(dir.file("extra.bin"), pattern(7 << 20, 4));
    run("msibuild '" + msi + "' -a extra.bin '" + dir.file("extra.bin") + "'");
    std::string original = oleListing(msi);
    std::string tables = run("msiinfo tables '" + msi + "'");
    std::string streams = run("msiinfo streams '" + msi + "'");
    std::string files = run("msiinfo export '" + msi + "' File");

    for (Version v : {Version::V3, Version::V4}) {
        std::string copy = dir.file(v == Version::V3 ? "copy3.msi" : "copy4.msi");
        {
            std::unique_ptr<CompoundFile> source, target;
            ASSERT_EQ(CompoundFile::open(msi, {}, &source), S_OK);
            ASSERT_EQ(CompoundFile::create(copy, v, false, 0, &target), S_OK);
            ASSERT_EQ(target->copyFrom(*source, kRootEntry, kRootEntry), S_OK);
            ASSERT_EQ(target->commit(), S_OK);
        }
        if (v == Version::V3) {
            EXPECT_GE(Raw(readFile(copy)).difatSectorCount(), 1u);  // past 6.8 MB
        }
        EXPECT_EQ(oleListing(copy), original);
        EXPECT_EQ(run("msiinfo tables '" + copy + "'"), tables);
        EXPECT_EQ(run("msiinfo streams '" + copy + "'"), streams);
        EXPECT_EQ(run("msiinfo export '" + copy + "' File"), files);
        std::string extracted = dir.file("extracted.bin");
        run("msiinfo extract '" + copy + "' extra.bin > '" + extracted + "'");
        EXPECT_EQ(readFile(extracted), pattern(7 << 20, 4));
    }
}

TEST_F(Peers, RandomTreesWeWriteReadTheSameInOlefile) {
    for (Version v : {Version::V3, Version::V4}) {
        std::string path = dir.file(v == Version::V3 ? "r3.cfb" : "r4.cfb");
        {
            std::unique_ptr<CompoundFile> file;
            ASSERT_EQ(CompoundFile::create(path, v, false, 0, &file), S_OK);
            EntryId a, b;
            ASSERT_EQ(file->createStorage(kRootEntry, u"Alpha", false, &a), S_OK);
            ASSERT_EQ(file->createStorage(a, u"beta", false, &b), S_OK);
            ASSERT_EQ(file->setClass(a, GUID{0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}}), S_OK);
            for (int i = 0; i < 300; ++i) {
                std::u16string name = u"s" + std::u16string(1, char16_t(u'A' + i % 26)) + char16_t(0x3800 + i);
                EntryId where = i % 3 == 0 ? kRootEntry : (i % 3 == 1 ? a : b);
                ASSERT_EQ(file->writeStream(where, name, pattern(size_t(i * 37) % 9000, i)), S_OK);
            }
            ASSERT_EQ(file->writeStream(kRootEntry, u"\x05SummaryInformation", pattern(0, 0)), S_OK);
            ASSERT_EQ(file->commit(), S_OK);
        }
        EXPECT_EQ(ourListing(path), oleListing(path));
    }
}

}  // namespace
