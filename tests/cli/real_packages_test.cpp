// qltmsi install, verify and patch on packages shaped like those real tool
// chains make: cabinets with LZX and Quantum folders (libmspack's test
// cabinets put into wixl packages), media spanning several cabinets, and the
// library's own cabinet in LZX, carried over by a patch into a new MSZIP one.
#include <gtest/gtest.h>
#include <msi.h>
#include <msiquery.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "cli/cli_runner.h"
#include "winsys/kernel/test_prefix.h"

namespace fs = std::filesystem;
using winsys_test::readFile;
using winsys_test::writeFile;

namespace {

using cli_test::Outcome;
using cli_test::qltmsi;
using cli_test::run;

const fs::path kCabinets = fs::path(QLTMSI_CABINET_DATA);

// The stream of a package, written to a file.
bool saveStream(const fs::path& package, const char16_t* stream, const fs::path& to) {
    std::string native = package.string();
    std::u16string path = u"Z:" + std::u16string(native.begin(), native.end());
    for (auto& c : path)
        if (c == u'/')
            c = u'\\';
    MSIHANDLE db = 0, view = 0, record = 0;
    if (MsiOpenDatabaseW(path.c_str(), MSIDBOPEN_READONLY, &db) != ERROR_SUCCESS)
        return false;
    std::u16string sql = u"SELECT `Data` FROM `_Streams` WHERE `Name`='" + std::u16string(stream) + u"'";
    bool ok = MsiDatabaseOpenViewW(db, sql.c_str(), &view) == ERROR_SUCCESS &&
              MsiViewExecute(view, 0) == ERROR_SUCCESS &&
              MsiViewFetch(view, &record) == ERROR_SUCCESS;
    std::string bytes;
    char chunk[4096];
    for (DWORD n = sizeof chunk; ok; n = sizeof chunk) {
        ok = MsiRecordReadStream(record, 1, chunk, &n) == ERROR_SUCCESS;
        if (!ok || n == 0)
            break;
        bytes.append(chunk, n);
    }
    MsiCloseHandle(record);
    MsiCloseHandle(view);
    MsiCloseHandle(db);
    if (ok)
        writeFile(to.string(), bytes);
    return ok;
}

class RealPackages : public ::testing::Test {
  protected:
    void SetUp() override {
        work_ = fs::path(prefix_.root()) / "work";
        fs::create_directories(work_);
    }

    // A wixl package from tests/data/installer, with the source files the
    // test cabinet holds, then changed by msibuild arguments.
    fs::path Build(const std::string& wxs, const std::string& cabinet, const std::string& edits,
                   const std::string& folder = "") {
        fs::path dir = work_ / (folder.empty() ? wxs : folder);
        fs::create_directories(dir);
        auto r = run("cd " + cli_test::quoted(dir) + " && cabextract -q " + cli_test::quoted(kCabinets / cabinet) +
                         " && wixl -o package.msi " QLTMSI_TEST_DATA "/" + wxs + ".wxs" +
                         " && msibuild package.msi " + edits,
                     prefix_.prefix());
        EXPECT_EQ(r.status, 0) << r.err;
        return dir / "package.msi";
    }

    Outcome Qltmsi(const std::string& args) { return run(qltmsi(args), prefix_.prefix()); }
    fs::path DriveC() const { return prefix_.driveC(); }

    winsys_test::TestPrefix prefix_;
    fs::path work_;
};

constexpr char kMixed[] = "{5D0C3A8E-7B21-4E5F-9A6D-1C2B3E4F5A6B}";
constexpr char kSpanning[] = "{6E1D4B9F-8C32-4F60-AB7E-2D3C4F5A6B7C}";

TEST_F(RealPackages, LzxAndQuantumCabinetInstallsVerifiesAndCarriesOver) {
    // The library's own cabinet, in the package, holding LZX and Quantum
    // folders: the patch moves it out, unpacks it and packs a new one.
    fs::path package = Build("mixed", "mszip_lzx_qtm.cab",
                             "-q \"UPDATE \\`Media\\` SET \\`Cabinet\\`='#QuilletCab'\" -a QuilletCab " +
                                 cli_test::quoted(kCabinets / "mszip_lzx_qtm.cab"));
    Outcome r = Qltmsi("install " + cli_test::quoted(package));
    ASSERT_EQ(r.status, 0) << r.err;
    fs::path folder = DriveC() / "ProgramData/Mixed Methods";
    for (const char* name : {"mszip.txt", "lzx.txt", "qtm.txt"})
        EXPECT_EQ(readFile((folder / name).string()), readFile((package.parent_path() / name).string()))
            << name;
    r = Qltmsi(std::string("verify --product ") + kMixed);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("3 files, 0 differences"), std::string::npos) << r.out;

    // Replace the MSZIP member; the other two come from the LZX and Quantum
    // folders into the new cab cache, byte for byte.
    fs::path fresh = work_ / "mszip.txt";
    writeFile(fresh.string(), "a new copy of the MSZIP member\n");
    r = Qltmsi(std::string("patch --product ") + kMixed + " --replace " +
               cli_test::quoted("C:\\ProgramData\\Mixed Methods\\mszip.txt=" + fresh.string()));
    ASSERT_EQ(r.status, 0) << r.err;
    fs::copy_file(fresh, folder / "mszip.txt", fs::copy_options::overwrite_existing);
    r = Qltmsi(std::string("verify --product ") + kMixed);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    fs::path cache;
    for (const auto& entry : fs::directory_iterator(DriveC() / "windows/Installer")) {
        std::string name = entry.path().filename().string();
        if (std::count(name.begin(), name.end(), '.') == 2)  // 1a2b3c4d.a345.msi
            cache = entry.path();
    }
    ASSERT_FALSE(cache.empty());
    fs::path unpacked = work_ / "unpacked";
    ASSERT_TRUE(saveStream(cache, u"QuilletCab", work_ / "new.cab"));
    ASSERT_EQ(run("cabextract -q -d " + cli_test::quoted(unpacked) + " " + cli_test::quoted(work_ / "new.cab"),
                  prefix_.prefix())
                  .status,
              0);
    EXPECT_EQ(readFile((unpacked / "mszip.txt").string()), readFile(fresh.string()));
    for (const char* name : {"lzx.txt", "qtm.txt"})
        EXPECT_EQ(readFile((unpacked / name).string()),
                  readFile((package.parent_path() / name).string()))
            << name;
}

TEST_F(RealPackages, FileSpanningCabinetsOfSeveralMediaRows) {
    // Five Media rows, one per cabinet of a set whose one folder runs
    // through all five: test2.txt's row is the second, yet the file begins
    // in the first cabinet.
    std::string edits = "-q \"DELETE FROM \\`Media\\`\"";
    for (int i = 1; i <= 5; ++i) {
        std::string cab = "cabd_multi_basic_pt" + std::to_string(i) + ".cab";
        edits += " -q \"INSERT INTO \\`Media\\` (\\`DiskId\\`,\\`LastSequence\\`,\\`Cabinet\\`) "
                 "VALUES (" +
                 std::to_string(i) + "," + std::to_string(std::min(i, 3)) + ",'#" + cab + "')\"" +
                 " -a " + cab + " " + cli_test::quoted(kCabinets / cab);
    }
    fs::path package = Build("spanning", "cabd_multi_basic_pt1.cab", edits);
    Outcome r = Qltmsi("install " + cli_test::quoted(package));
    ASSERT_EQ(r.status, 0) << r.err;
    fs::path folder = DriveC() / "ProgramData/Spanning Media";
    for (const char* name : {"test1.txt", "test2.txt", "test3.txt"})
        EXPECT_EQ(readFile((folder / name).string()), readFile((package.parent_path() / name).string()))
            << name;
    r = Qltmsi(std::string("verify --product ") + kSpanning);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("begun in an earlier cabinet"), std::string::npos) << r.out;

    // Without its last part the set cannot be read: the message names the
    // stream that is missing, and nothing stays behind.
    std::string partial = edits.substr(0, edits.rfind(" -q "));
    fs::path broken = Build("spanning", "cabd_multi_basic_pt1.cab", partial, "broken");
    std::string elsewhere = prefix_.root() + "/other-prefix";
    r = run(qltmsi("install " + cli_test::quoted(broken)), elsewhere);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cabd_multi_basic_pt5.cab, which the package does not hold"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(fs::exists(elsewhere + "/drive_c/ProgramData/Spanning Media"));
}

constexpr char kFeatures[] = "{7F2E5C0A-9D43-4A71-BC8F-3E4D5F6A7B8C}";

TEST_F(RealPackages, FeaturesConditionsAndRunTimeFolders) {
    fs::path dir = work_ / "features";
    fs::create_directories(dir);
    for (const char* name : {"core", "extra", "hidden", "late", "plugin"})
        writeFile((dir / (std::string(name) + ".txt")).string(), std::string(name) + "\n");
    writeFile((dir / "runtime64.dll").string(), "the 64-bit runtime\n");
    writeFile((dir / "runtime32.dll").string(), "the 32-bit runtime\n");
    // wixl writes neither component conditions nor the Condition table.
    Outcome r = run(
        "cd " + cli_test::quoted(dir) + " && wixl -o package.msi " QLTMSI_TEST_DATA "/features.wxs" +
            " && msibuild package.msi"
            " -q \"UPDATE \\`Component\\` SET \\`Condition\\`='VersionNT64' WHERE "
            "\\`Component\\`='Runtime64'\""
            " -q \"UPDATE \\`Component\\` SET \\`Condition\\`='NOT VersionNT64' WHERE "
            "\\`Component\\`='Runtime32'\""
            " -q \"CREATE TABLE \\`Condition\\` (\\`Feature_\\` CHAR(38) NOT NULL, \\`Level\\` "
            "SHORT NOT NULL, \\`Condition\\` CHAR(255) PRIMARY KEY \\`Feature_\\`, \\`Level\\`)\""
            " -q \"INSERT INTO \\`Condition\\` (\\`Feature_\\`,\\`Level\\`,\\`Condition\\`) "
            "VALUES ('Later',1,'ENABLE_LATE')\""
            " -q \"UPDATE \\`Directory\\` SET \\`Directory_Parent\\`='SETBYACTION' WHERE "
            "\\`Directory\\`='RUNTIMEPARENT'\"",
        prefix_.prefix());
    ASSERT_EQ(r.status, 0) << r.err;
    fs::path package = dir / "package.msi";

    // The folder a custom action would set is not known: refused, and the
    // message says how to give it.
    r = Qltmsi("install " + cli_test::quoted(package));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("SETBYACTION"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("PROPERTY=VALUE"), std::string::npos) << r.err;

    r = Qltmsi("install " + cli_test::quoted(package) + " 'SETBYACTION=C:\\Given'");
    ASSERT_EQ(r.status, 0) << r.err;
    fs::path app = DriveC() / "Program Files/Feature Sample";
    EXPECT_TRUE(fs::exists(app / "core.txt"));
    EXPECT_EQ(readFile((app / "bin64/runtime.dll").string()), "the 64-bit runtime\n");
    for (const char* absent : {"extra.txt", "hidden.txt", "late.txt", "bin32"})
        EXPECT_FALSE(fs::exists(app / absent)) << absent;
    EXPECT_TRUE(fs::exists(DriveC() / "Given/runtime/plugins/plugin.txt"));
    r = Qltmsi(std::string("verify --product ") + kFeatures);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("skip C:\\Program Files\\Feature Sample\\bin32\\runtime.dll"),
              std::string::npos)
        << r.out;

    // What was not installed is not found in the package, as on Windows.
    fs::path fresh = work_ / "fresh.txt";
    writeFile(fresh.string(), "new\n");
    for (const char* left : {"extra.txt", "bin32\\runtime.dll"}) {
        r = Qltmsi(std::string("patch --product ") + kFeatures + " --replace " +
                   cli_test::quoted(std::string("C:\\Program Files\\Feature Sample\\") + left + "=" +
                         fresh.string()));
        EXPECT_EQ(r.status, 1) << left;
        EXPECT_NE(r.err.find("File not found"), std::string::npos) << r.err;
    }
    r = Qltmsi(std::string("patch --product ") + kFeatures + " --replace " +
               cli_test::quoted("C:\\Program Files\\Feature Sample\\bin64\\runtime.dll=" + fresh.string()));
    EXPECT_EQ(r.status, 0) << r.err;

    // A 32-bit system, a higher INSTALLLEVEL, the Condition row's property,
    // and the folder given at the lowest level: its parent chain is never
    // needed.
    std::string second = prefix_.root() + "/second";
    r = run(qltmsi("install --32-bit " + cli_test::quoted(package) +
                   " INSTALLLEVEL=3 ENABLE_LATE=1 'PLUGINS=C:\\Plugins'"),
            second);
    ASSERT_EQ(r.status, 0) << r.err;
    fs::path app2 = fs::path(second) / "drive_c/Program Files/Feature Sample";
    for (const char* present : {"core.txt", "extra.txt", "late.txt", "bin32/runtime.dll"})
        EXPECT_TRUE(fs::exists(app2 / present)) << present;
    for (const char* absent : {"hidden.txt", "bin64"})
        EXPECT_FALSE(fs::exists(app2 / absent)) << absent;
    EXPECT_TRUE(fs::exists(fs::path(second) / "drive_c/Plugins/plugin.txt"));
}

}  // namespace
