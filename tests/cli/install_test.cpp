// qltmsi install and qltmsi products, run as programs on packages that wixl
// makes from tests/data/installer: the laid-out files equal what msiextract
// takes out of the same package, the installer queries answer each
// component's key path, a second install is refused, and packages we cannot
// read leave nothing behind.
#include <gtest/gtest.h>
#include <msi.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>

#include "cli/cli_runner.h"
#include "winsys/kernel/test_prefix.h"

namespace fs = std::filesystem;
using winsys_test::readFile;
using winsys_test::writeFile;

namespace {

using cli_test::Outcome;
using cli_test::qltmsi;
using cli_test::quoted;
using cli_test::run;

std::string randomBytes(size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (auto& b : bytes)
        b = char(generator());
    return bytes;
}

// Every regular file under root, as paths relative to it.
std::set<std::string> filesUnder(const fs::path& root) {
    std::set<std::string> files;
    if (!fs::exists(root))
        return files;
    for (auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file())
            files.insert(fs::relative(entry.path(), root).string());
    return files;
}

std::u16string componentPath(const char16_t* product, const char16_t* component,
                             INSTALLSTATE& state) {
    WCHAR buffer[MAX_PATH];
    DWORD count = MAX_PATH;
    state = MsiGetComponentPathW(product, component, buffer, &count);
    return std::u16string(buffer, count);
}

std::u16string productInfo(const char16_t* product, const char16_t* property) {
    WCHAR buffer[MAX_PATH];
    DWORD count = MAX_PATH;
    if (MsiGetProductInfoW(product, property, buffer, &count) != ERROR_SUCCESS)
        return u"<error>";
    return std::u16string(buffer, count);
}

std::string narrow(const std::u16string& s) {
    return std::string(s.begin(), s.end());
}

constexpr char16_t kSample[] = u"{3E7F5A2C-1B4D-4C6E-8F90-A1B2C3D4E5F6}";
constexpr char16_t kExternal[] = u"{7C1E9B24-3D5A-4F68-9A0B-2C4D6E8F0A1B}";

// One prefix for the process (the registry keeps its connection), and a work
// folder with the packages built once.
class Install : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        prefix_ = new winsys_test::TestPrefix;
        work_ = fs::path(prefix_->root()) / "work";
        fs::create_directories(work_ / "sample");
        fs::create_directories(work_ / "external");
        // The embedded-cabinet package.
        writeFile((work_ / "sample/main.exe").string(), "MZ not really a program\n");
        writeFile((work_ / "sample/readme.txt").string(), "read me first\n");
        writeFile((work_ / "sample/big.bin").string(), randomBytes(300000, 7));
        writeFile((work_ / "sample/empty.dat").string(), "");
        writeFile((work_ / "sample/settings.ini").string(), "[settings]\nkey=value\n");
        ASSERT_EQ(run("cd " + quoted(work_ / "sample") +
                          " && wixl -o sample.msi " QLTMSI_TEST_DATA "/sample.wxs",
                      prefix_->prefix())
                      .status,
                  0);
        // The external-cabinet package: wixl names the cabinet, gcab makes it.
        writeFile((work_ / "external/tool.exe").string(), randomBytes(70000, 11));
        writeFile((work_ / "external/guide.txt").string(), "the guide\n");
        writeFile((work_ / "external/notes.txt").string(), "notes kept beside the package\n");
        auto ext = quoted(work_ / "external");
        ASSERT_EQ(run("cd " + ext + " && wixl -o external.msi " QLTMSI_TEST_DATA "/external.wxs" +
                          " && gcab -c -z external.cab tool.exe guide.txt",
                      prefix_->prefix())
                      .status,
                  0);
        // notes.txt is read uncompressed from the source tree beside the
        // package, where the Directory table's source names put it.
        ASSERT_EQ(
            run("cd " + ext +
                    " && msibuild external.msi -q \"UPDATE \\`File\\` SET \\`Attributes\\` = 8704 "
                    "WHERE "
                    "\\`File\\` = 'notes.txt'\"" +
                    " && mkdir -p 'External Sample/docs' && mv notes.txt 'External Sample/docs/'",
                prefix_->prefix())
                .status,
            0);
    }
    static void TearDownTestSuite() {
        delete prefix_;
        prefix_ = nullptr;
    }

    static winsys_test::TestPrefix* prefix_;
    static fs::path work_;
};

winsys_test::TestPrefix* Install::prefix_ = nullptr;
fs::path Install::work_;

}  // namespace

TEST_F(Install, EmbeddedCabinetMatchesMsiextract) {
    const fs::path package = work_ / "sample/sample.msi";
    Outcome r = run(qltmsi("install " + quoted(package)), prefix_->prefix());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");  // quiet when not on a terminal

    const fs::path extracted = work_ / "sample/extracted";
    ASSERT_EQ(
        run("msiextract -C " + quoted(extracted) + " " + quoted(package), prefix_->prefix()).status,
        0);
    auto expected = filesUnder(extracted / "Program Files");
    ASSERT_EQ(expected.size(), 5u);
    const fs::path installed = fs::path(prefix_->driveC()) / "Program Files";
    EXPECT_EQ(filesUnder(installed), expected);
    for (const auto& file : expected)
        EXPECT_EQ(readFile((installed / file).string()),
                  readFile((extracted / "Program Files" / file).string()))
            << file;

    // The cached package: a new hex name in the Installer folder, same bytes.
    std::u16string local = productInfo(kSample, INSTALLPROPERTY_LOCALPACKAGE);
    ASSERT_EQ(local.rfind(u"C:\\windows\\Installer\\", 0), 0u) << narrow(local);
    std::string name = narrow(local.substr(21));
    EXPECT_EQ(name.size(), 12u);
    EXPECT_EQ(name.find_first_not_of("0123456789abcdef"), 8u);
    EXPECT_EQ(readFile(prefix_->driveC() + "/windows/Installer/" + name),
              readFile(package.string()));

    EXPECT_EQ(productInfo(kSample, INSTALLPROPERTY_PRODUCTNAME), u"Installer Sample");
    EXPECT_EQ(productInfo(kSample, INSTALLPROPERTY_VERSIONSTRING), u"2.4.6");
    EXPECT_EQ(productInfo(kSample, INSTALLPROPERTY_INSTALLLOCATION),
              u"C:\\Program Files\\Sample Works\\Installer Sample\\");
    EXPECT_EQ(productInfo(kSample, INSTALLPROPERTY_PUBLISHER), u"Sample Works");
    EXPECT_EQ(productInfo(kSample, INSTALLPROPERTY_PACKAGENAME), u"sample.msi");

    INSTALLSTATE state;
    EXPECT_EQ(componentPath(kSample, u"{A1A1A1A1-0000-4000-8000-000000000001}", state),
              u"C:\\Program Files\\Sample Works\\Installer Sample\\main.exe");
    EXPECT_EQ(state, INSTALLSTATE_LOCAL);
    EXPECT_EQ(componentPath(kSample, u"{A1A1A1A1-0000-4000-8000-000000000002}", state),
              u"C:\\Program Files\\Sample Works\\Installer Sample\\data\\big.bin");
    EXPECT_EQ(state, INSTALLSTATE_LOCAL);
    // The registry table is not processed, so the registry key path is absent.
    EXPECT_EQ(componentPath(kSample, u"{A1A1A1A1-0000-4000-8000-000000000003}", state),
              u"02:\\Software\\Sample Works\\Installer Sample\\Path");
    EXPECT_EQ(state, INSTALLSTATE_ABSENT);
    EXPECT_EQ(componentPath(kSample, u"{A1A1A1A1-0000-4000-8000-000000000004}", state),
              u"C:\\Program Files\\Sample Works\\Installer Sample\\logs\\");
    EXPECT_EQ(state, INSTALLSTATE_LOCAL);

    // Once a file goes, its component is absent.
    fs::remove(installed / "Sample Works/Installer Sample/main.exe");
    componentPath(kSample, u"{A1A1A1A1-0000-4000-8000-000000000001}", state);
    EXPECT_EQ(state, INSTALLSTATE_ABSENT);

    // A second install of the same product is refused and changes nothing.
    size_t cached = filesUnder(prefix_->driveC() + "/windows/Installer").size();
    r = run(qltmsi("install " + quoted(package)), prefix_->prefix());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("already installed"), std::string::npos) << r.err;
    EXPECT_EQ(filesUnder(prefix_->driveC() + "/windows/Installer").size(), cached);

    r = run(qltmsi("products"), prefix_->prefix());
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("{3E7F5A2C-1B4D-4C6E-8F90-A1B2C3D4E5F6}\tInstaller Sample\t2.4.6\t" +
                         narrow(local) + "\n"),
              std::string::npos)
        << r.out;
}

TEST_F(Install, ExternalCabinetSourceTreeAndDirectoryProperty) {
    const fs::path package = work_ / "external/external.msi";
    Outcome r = run(qltmsi("install " + quoted(package) + " 'INSTALLDIR=C:\\Custom\\Place'"),
                    prefix_->prefix());
    ASSERT_EQ(r.status, 0) << r.err;
    const fs::path place = fs::path(prefix_->driveC()) / "Custom/Place";
    EXPECT_EQ(filesUnder(place),
              (std::set<std::string>{"tool.exe", "docs/guide.txt", "docs/notes.txt"}));
    EXPECT_EQ(readFile((place / "tool.exe").string()),
              readFile((work_ / "external/tool.exe").string()));
    EXPECT_EQ(readFile((place / "docs/guide.txt").string()), "the guide\n");
    EXPECT_EQ(readFile((place / "docs/notes.txt").string()), "notes kept beside the package\n");
    INSTALLSTATE state;
    EXPECT_EQ(componentPath(kExternal, u"{B2B2B2B2-0000-4000-8000-000000000002}", state),
              u"C:\\Custom\\Place\\docs\\guide.txt");
    EXPECT_EQ(state, INSTALLSTATE_LOCAL);
    EXPECT_EQ(productInfo(kExternal, INSTALLPROPERTY_INSTALLLOCATION), u"C:\\Custom\\Place\\");
}

TEST_F(Install, UnreadableInputLeavesNothingBehind) {
    // A prefix of its own: nothing may appear in it.
    const std::string fresh = prefix_->root() + "/fresh-prefix";
    const fs::path lzx = work_ / "lzx";
    fs::create_directories(lzx);
    fs::copy_file(work_ / "external/external.msi", lzx / "external.msi");
    // The same cabinet, its folder marked as LZX-compressed: MSZIP data
    // does not decode as LZX.
    std::string cabinet = readFile((work_ / "external/external.cab").string());
    ASSERT_GT(cabinet.size(), 44u);
    cabinet[42] = 3;
    cabinet[43] = 0x0F;
    writeFile((lzx / "external.cab").string(), cabinet);
    Outcome r = run(qltmsi("install " + quoted(lzx / "external.msi")), fresh);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("external.cab (damaged (compressed data does not decompress))"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(filesUnder(fresh + "/drive_c/windows/Installer").size(), 0u);
    EXPECT_FALSE(fs::exists(fresh + "/drive_c/ProgramData/External Sample"));  // nor its folders
    EXPECT_EQ(run(qltmsi("products"), fresh).out, "");

    writeFile((lzx / "not-a-package.msi").string(), "plain text");
    r = run(qltmsi("install " + quoted(lzx / "not-a-package.msi")), fresh);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("not a Windows Installer package"), std::string::npos) << r.err;
    r = run(qltmsi("install " + quoted(lzx / "missing.msi")), fresh);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot find"), std::string::npos) << r.err;
    EXPECT_EQ(run(qltmsi("install"), fresh).status, 2);
}

TEST_F(Install, HelpSaysWhatItIsNot) {
    Outcome r = run(qltmsi("install --help"), prefix_->prefix());
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("not a full installer"), std::string::npos);
    EXPECT_NE(r.out.find("custom"), std::string::npos);
    r = run(qltmsi("--help"), prefix_->prefix());
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("products"), std::string::npos);
    EXPECT_EQ(run(qltmsi("no-such-command"), prefix_->prefix()).status, 2);
}
