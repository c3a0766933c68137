// Interop with msitools: packages that wixl and msibuild write dump through
// our engine exactly as `msiinfo export` dumps them, and packages our engine
// writes (tables, binary columns, streams, large pools and streams) read the
// same in msiinfo, msidump and msiextract.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "msi/codepage.h"
#include "msi/database.h"
#include "msi/idt.h"
#include "msi_test_util.h"
#include "peer_dumps.h"

using namespace msitest;

namespace {

class Peers : public ::testing::Test {
protected:
    void SetUp() override {
        if (!have("msiinfo") || !have("wixl") || !have("msibuild")) GTEST_SKIP() << "msitools/wixl not installed";
    }
    ScratchDir dir;
};

TEST_F(Peers, WixlPackagesDumpAsMsiinfoDumpsThem) {
    writeFile(dir.file("readme.txt"), "read me\n");
    writeFile(dir.file("extra.txt"), "extra\n");
    std::string data(5000, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = char(i * 31);
    writeFile(dir.file("data.bin"), data);
    int st;
    shellOutput("cd '" + dir.path() + "' && wixl -o p.msi '" SOURCE_DIR "/../../data/msi/product.wxs' 2>&1", &st);
    ASSERT_EQ(st, 0);
    shellOutput("cd '" + dir.path() + "' && wixl -a x64 -o x.msi '" SOURCE_DIR "/../../data/msi/x64.wxs' 2>&1", &st);
    ASSERT_EQ(st, 0);
    expectSameDumps(dir.file("p.msi"));
    expectSameDumps(dir.file("x.msi"));
    // The dump tool prints the same, and lists what msiinfo lists.
    std::string tool = QLTMSI_DB;
    EXPECT_EQ(shellOutput(tool + " dump '" + dir.file("p.msi") + "' File Binary"),
              peerDump(dir.file("p.msi"), "File") + peerDump(dir.file("p.msi"), "Binary"));
    EXPECT_EQ(shellOutput(tool + " tables '" + dir.file("p.msi") + "'"), shellOutput("msiinfo tables '" + dir.file("p.msi") + "'"));
    EXPECT_EQ(shellOutput(tool + " streams '" + dir.file("p.msi") + "'"), shellOutput("msiinfo streams '" + dir.file("p.msi") + "'"));
    // Code page 0 with Windows-1252 bytes reads as a Western system reads it.
    MSIHANDLE db = open(dir.file("p.msi"), MSIDBOPEN_READONLY);
    EXPECT_EQ(rows(db, u"SELECT `Value` FROM `Property` WHERE `Property` = 'GREETING'"),
              std::vector<std::string>{"Gr\xfc\xdf" "e aus K\xf6ln \x14 caf\xe9"});
    EXPECT_EQ(shellOutput("msiinfo extract '" + dir.file("p.msi") + "' Binary.blob1"), data);
    MsiCloseHandle(db);
}

TEST_F(Peers, MsibuildPackagesDumpAsMsiinfoDumpsThem) {
    std::string idt = "Id\tBig\tSmall\tText\tLocal\r\ni2\tI4\tI2\tS20\tL0\r\nNums\tId\r\n";
    idt += "-3\t2147483647\t-32767\t\tone\r\n1\t\t7\tone\t\r\n300\t-2147483647\t32767\tx\ttwo\r\n";
    writeFile(dir.file("Nums.idt"), idt);
    writeFile(dir.file("blob.bin"), std::string(9000, 'b'));
    int st;
    shellOutput("cd '" + dir.path() + "' && msibuild b.msi -q \"CREATE TABLE \\`Two\\` (\\`A\\` CHAR(10) NOT NULL, "
          "\\`B\\` SHORT NOT NULL, \\`C\\` LONGCHAR PRIMARY KEY \\`A\\`, \\`B\\`)\" "
          "-q \"INSERT INTO \\`Two\\` (\\`A\\`,\\`B\\`,\\`C\\`) VALUES ('b',2,'x')\" "
          "-q \"INSERT INTO \\`Two\\` (\\`A\\`,\\`B\\`,\\`C\\`) VALUES ('a',2,'y')\" "
          "-q \"INSERT INTO \\`Two\\` (\\`A\\`,\\`B\\`) VALUES ('b',1)\" "
          "-i Nums.idt -a cab.stream blob.bin -s 'Title' 'Someone' 'Intel;1033' '{12345678-1234-1234-1234-123456789ABC}' 2>&1", &st);
    ASSERT_EQ(st, 0);
    expectSameDumps(dir.file("b.msi"));
}

TEST_F(Peers, PackagesWeWriteReadTheSameInMsitools) {
    if (!have("gcab") || !have("msiextract") || !have("msidump")) GTEST_SKIP() << "gcab/msiextract/msidump missing";
    writeFile(dir.file("hello.txt"), "hello from the cabinet\n");
    int st;
    shellOutput("cd '" + dir.path() + "' && gcab -c -z data.cab hello.txt", &st);
    ASSERT_EQ(st, 0);
    std::string big(5 * 1024 * 1024 + 3, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = char((i * 2654435761u) >> 13);
    writeFile(dir.file("big.bin"), big);
    writeFile(dir.file("small.bin"), "tiny");

    std::string path = dir.file("ours.msi");
    MSIHANDLE db = open(path, MSIDBOPEN_CREATE);
    ASSERT_NE(db, 0u);
    const char16_t* schema[] = {
        u"CREATE TABLE `Directory` (`Directory` CHAR(72) NOT NULL, `Directory_Parent` CHAR(72), `DefaultDir` CHAR(255) "
        u"NOT NULL LOCALIZABLE PRIMARY KEY `Directory`)",
        u"CREATE TABLE `Component` (`Component` CHAR(72) NOT NULL, `ComponentId` CHAR(38), `Directory_` CHAR(72) NOT NULL, "
        u"`Attributes` SHORT NOT NULL, `Condition` CHAR(255), `KeyPath` CHAR(72) PRIMARY KEY `Component`)",
        u"CREATE TABLE `File` (`File` CHAR(72) NOT NULL, `Component_` CHAR(72) NOT NULL, `FileName` CHAR(255) NOT NULL "
        u"LOCALIZABLE, `FileSize` LONG NOT NULL, `Version` CHAR(72), `Language` CHAR(20), `Attributes` SHORT, "
        u"`Sequence` SHORT NOT NULL PRIMARY KEY `File`)",
        u"CREATE TABLE `Media` (`DiskId` SHORT NOT NULL, `LastSequence` SHORT NOT NULL, `DiskPrompt` CHAR(64) LOCALIZABLE, "
        u"`Cabinet` CHAR(255), `VolumeLabel` CHAR(32), `Source` CHAR(72) PRIMARY KEY `DiskId`)",
        u"CREATE TABLE `Property` (`Property` CHAR(72) NOT NULL, `Value` CHAR(0) NOT NULL LOCALIZABLE PRIMARY KEY `Property`)",
        u"CREATE TABLE `Binary` (`Name` CHAR(72) NOT NULL, `Data` OBJECT NOT NULL PRIMARY KEY `Name`)",
        u"INSERT INTO `Directory` (`Directory`, `DefaultDir`) VALUES ('TARGETDIR', 'SourceDir')",
        u"INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES ('INSTALLDIR', 'TARGETDIR', 'App')",
        u"INSERT INTO `Component` (`Component`, `ComponentId`, `Directory_`, `Attributes`, `KeyPath`) VALUES "
        u"('Main', '{11111111-2222-3333-4444-555555555555}', 'INSTALLDIR', 0, 'hello')",
        u"INSERT INTO `File` (`File`, `Component_`, `FileName`, `FileSize`, `Sequence`) VALUES "
        u"('hello.txt', 'Main', 'hello.txt', 23, 1)",
        u"INSERT INTO `Media` (`DiskId`, `LastSequence`, `Cabinet`) VALUES (1, 1, '#data.cab')",
        u"INSERT INTO `Property` (`Property`, `Value`) VALUES ('ProductCode', '{AAAAAAAA-2222-3333-4444-555555555555}')",
        u"INSERT INTO `Property` (`Property`, `Value`) VALUES ('Note', 'na\u00efve caf\u00e9')",
    };
    for (auto* q : schema) ASSERT_EQ(run(db, q), 0u) << n(q);
    MSIHANDLE rec = MsiCreateRecord(2);
    MsiRecordSetStringW(rec, 1, u"big");
    ASSERT_EQ(MsiRecordSetStreamW(rec, 2, w(dir.file("big.bin")).c_str()), 0u);
    ASSERT_EQ(run(db, u"INSERT INTO `Binary` (`Name`, `Data`) VALUES (?, ?)", rec), 0u);
    MsiRecordSetStringW(rec, 1, u"small");
    ASSERT_EQ(MsiRecordSetStreamW(rec, 2, w(dir.file("small.bin")).c_str()), 0u);
    ASSERT_EQ(run(db, u"INSERT INTO `Binary` (`Name`, `Data`) VALUES (?, ?)", rec), 0u);
    MsiRecordSetStringW(rec, 1, u"data.cab");
    ASSERT_EQ(MsiRecordSetStreamW(rec, 2, w(dir.file("data.cab")).c_str()), 0u);
    ASSERT_EQ(run(db, u"INSERT INTO `_Streams` (`Name`, `Data`) VALUES (?, ?)", rec), 0u);
    MSIHANDLE si;
    ASSERT_EQ(MsiGetSummaryInformationW(db, nullptr, 10, &si), 0u);
    MsiSummaryInfoSetPropertyW(si, PID_CODEPAGE, VT_I2, 1252, nullptr, nullptr);
    MsiSummaryInfoSetPropertyW(si, PID_TITLE, VT_LPSTR, 0, nullptr, u"Installation Database");
    MsiSummaryInfoSetPropertyW(si, PID_TEMPLATE, VT_LPSTR, 0, nullptr, u"Intel;1033");
    MsiSummaryInfoSetPropertyW(si, PID_REVNUMBER, VT_LPSTR, 0, nullptr, u"{BBBBBBBB-2222-3333-4444-555555555555}");
    MsiSummaryInfoSetPropertyW(si, PID_PAGECOUNT, VT_I4, 200, nullptr, nullptr);
    MsiSummaryInfoSetPropertyW(si, PID_WORDCOUNT, VT_I4, 2, nullptr, nullptr);
    ASSERT_EQ(MsiSummaryInfoPersist(si), 0u);
    ASSERT_EQ(MsiDatabaseCommit(db), 0u);
    MsiCloseAllHandles();

    expectSameDumps(path);
    EXPECT_EQ(peerDump(path, "Property"),
              "Property\tValue\r\ns72\tl0\r\nProperty\tProperty\r\n"
              "ProductCode\t{AAAAAAAA-2222-3333-4444-555555555555}\r\nNote\tna\xc3\xafve caf\xc3\xa9\r\n");
    EXPECT_EQ(shellOutput("msiinfo extract '" + path + "' Binary.big"), big);
    EXPECT_EQ(shellOutput("msiinfo extract '" + path + "' Binary.small"), "tiny");
    EXPECT_NE(shellOutput("msiinfo suminfo '" + path + "'").find("{BBBBBBBB-2222-3333-4444-555555555555}"), std::string::npos);
    shellOutput("cd '" + dir.path() + "' && mkdir dump && cd dump && msidump -d . '" + path + "' 2>&1", &st);
    EXPECT_EQ(st, 0);
    EXPECT_EQ(readFile(dir.file("dump/File.idt")), ourDump(path, "File"));
    shellOutput("cd '" + dir.path() + "' && mkdir out && msiextract -C out '" + path + "' 2>&1", &st);
    EXPECT_EQ(st, 0);
    EXPECT_EQ(readFile(dir.file("out/App/hello.txt")), "hello from the cabinet\n");
}

TEST_F(Peers, LargePoolsAndTablesInBothDirections) {
    // A pool past 65,535 entries needs 3-byte references; msiinfo must agree.
    std::string path = dir.file("large.msi");
    MSIHANDLE db = open(path, MSIDBOPEN_CREATE);
    ASSERT_EQ(run(db, u"CREATE TABLE `File` (`File` CHAR(72) NOT NULL, `Component_` CHAR(72) NOT NULL, `FileName` CHAR(255) "
                      u"NOT NULL LOCALIZABLE, `FileSize` LONG NOT NULL, `Version` CHAR(72), `Language` CHAR(20), "
                      u"`Attributes` SHORT, `Sequence` SHORT NOT NULL PRIMARY KEY `File`)"), 0u);
    MSIHANDLE view;
    ASSERT_EQ(MsiDatabaseOpenViewW(db, u"SELECT * FROM `File`", &view), 0u);
    ASSERT_EQ(MsiViewExecute(view, 0), 0u);
    MSIHANDLE rec = MsiCreateRecord(8);
    for (int i = 0; i < 35000; ++i) {
        std::string k = "f" + std::to_string(i);
        MsiRecordSetStringA(rec, 1, k.c_str());
        MsiRecordSetStringA(rec, 2, ("c" + std::to_string(i)).c_str());
        MsiRecordSetStringA(rec, 3, (k + ".txt").c_str());
        MsiRecordSetInteger(rec, 4, i * 3);
        MsiRecordSetInteger(rec, 8, i % 30000 + 1);
        ASSERT_EQ(MsiViewModify(view, MSIMODIFY_INSERT, rec), 0u);
    }
    MsiCloseHandle(view);
    ASSERT_EQ(MsiDatabaseCommit(db), 0u);
    MsiCloseAllHandles();
    std::string pool = shellOutput("msiinfo export '" + path + "' File | wc -l");
    EXPECT_EQ(std::stoi(pool), 35003);
    EXPECT_EQ(ourDump(path, "File"), peerDump(path, "File"));

    // And a 20,000-row table that msibuild wrote reads back through us.
    std::string idt = "File\tComponent_\tFileName\tFileSize\tVersion\tLanguage\tAttributes\tSequence\r\n"
                      "s72\ts72\tl255\ti4\tS72\tS20\tI2\ti2\r\nFile\tFile\r\n";
    for (int i = 0; i < 20000; ++i)
        idt += "file" + std::to_string(i) + "\tcomp" + std::to_string(i % 100) + "\tname" + std::to_string(i) +
               ".dll\t" + std::to_string(i) + "\t1.0." + std::to_string(i) + "\t1033\t512\t" + std::to_string(i + 1) + "\r\n";
    writeFile(dir.file("File.idt"), idt);
    int st;
    shellOutput("cd '" + dir.path() + "' && msibuild twenty.msi -i File.idt 2>&1", &st);
    ASSERT_EQ(st, 0);
    EXPECT_EQ(ourDump(dir.file("twenty.msi"), "File"), peerDump(dir.file("twenty.msi"), "File"));
    MSIHANDLE t = open(dir.file("twenty.msi"), MSIDBOPEN_READONLY);
    EXPECT_EQ(rows(t, u"SELECT `FileName` FROM `File` WHERE `File` = 'file12345'"), std::vector<std::string>{"name12345.dll"});
}

// The same C program against Wine's msi.dll and against winsys: each reads
// what the other wrote, and both print the same.
TEST(WinePeer, PackagesCrossBetweenWineAndWinsys) {
    if (!have("wine") || !have("x86_64-w64-mingw32-gcc")) GTEST_SKIP() << "wine or mingw-w64 not installed";
    ScratchDir dir;
    int st;
    shellOutput("x86_64-w64-mingw32-gcc -O1 -o '" + dir.file("probe.exe") + "' '" SOURCE_DIR "/probe/msi_probe.c' -lmsi 2>&1", &st);
    ASSERT_EQ(st, 0);
    writeFile(dir.file("blob.bin"), "blobdata-0123456789\n");
    std::string winDir = "Z:" + dir.path();
    for (char& c : winDir)
        if (c == '/') c = '\\';
    std::string wine = "WINEDEBUG=-all WINEPREFIX=/tmp/qltmsi-wine-msi-" + std::to_string(getuid()) + " wine '" +
                       dir.file("probe.exe") + "' ";
    std::string native = "QLTMSI_PREFIX='" + dir.file("prefix") + "' '" MSI_PROBE "' ";
    auto clean = [](std::string s) {
        s.erase(std::remove(s.begin(), s.end(), '\r'), s.end());
        return s;
    };
    EXPECT_EQ(clean(shellOutput(wine + "write '" + winDir + "\\wine.msi' '" + winDir + "\\blob.bin' 2>/dev/null")), "written\n");
    EXPECT_EQ(shellOutput(native + "write '" + winDir + "\\ours.msi' '" + winDir + "\\blob.bin'"), "written\n");
    std::string expected = clean(shellOutput(wine + "read '" + winDir + "\\wine.msi' 2>/dev/null"));
    EXPECT_NE(expected.find("[blob1] [stream 20 bytes, starts blobdat]"), std::string::npos) << expected;
    EXPECT_EQ(shellOutput(native + "read '" + winDir + "\\wine.msi'"), expected);
    EXPECT_EQ(clean(shellOutput(wine + "read '" + winDir + "\\ours.msi' 2>/dev/null")), expected);
    EXPECT_EQ(shellOutput(native + "read '" + winDir + "\\ours.msi'"), expected);
}

}  // namespace
