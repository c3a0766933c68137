// Replacements in a large package: 1,000 files replaced one by one through
// QLTMsiUpdateFile in packages of 2,000, 10,000 and 50,000 File rows. Prints
// the cost per replacement for each block of 100; the cost must grow neither
// with the number of replacements already made nor with the package.
#include <msi.h>
#include <msiquery.h>
#include <qltmsi.h>

#include "installer/registration.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kFilesPerComponent = 100;
constexpr int kReplacements = 1000;
constexpr int kBlock = 100;

std::u16string U16(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

void Execute(MSIHANDLE database, const std::string& statement) {
    MSIHANDLE view = 0;
    const std::u16string text = U16(statement);
    if (MsiDatabaseOpenViewW(database, text.c_str(), &view) != 0 || MsiViewExecute(view, 0) != 0) {
        std::fprintf(stderr, "failed: %s\n", statement.c_str());
        std::exit(1);
    }
    MsiCloseHandle(view);
}

std::string Guid(int product, int component) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-0000-4000-8000-%012X}", product, component);
    return text;
}

// A package of `files` File rows in components of 100, each component in a
// folder of its own under C:\bench<product>, registered as installed. Names
// are distinct, as in most packages.
std::string MakeProduct(const std::string& root, int product, int files) {
    const int components = files / kFilesPerComponent;
    const std::string folder = "C:\\bench" + std::to_string(product) + "\\";
    const std::string nativeFolder = root + "/prefix/drive_c/bench" + std::to_string(product);
    const std::string package = "C:\\windows\\Installer\\bench" + std::to_string(product) + ".msi";
    fs::create_directories(root + "/prefix/drive_c/windows/Installer");

    MSIHANDLE database = 0;
    if (MsiOpenDatabaseW(U16(package).c_str(), MSIDBOPEN_CREATEDIRECT, &database) != 0)
        std::exit(1);
    Execute(database,
            "CREATE TABLE `File` (`File` CHAR(72) NOT NULL, `Component_` CHAR(72) NOT NULL, "
            "`FileName` CHAR(255) NOT NULL LOCALIZABLE, `FileSize` LONG NOT NULL, `Version` "
            "CHAR(72), `Language` CHAR(20), `Attributes` SHORT, `Sequence` LONG NOT NULL "
            "PRIMARY KEY `File`)");
    Execute(database,
            "CREATE TABLE `Component` (`Component` CHAR(72) NOT NULL, `ComponentId` CHAR(38), "
            "`Directory_` CHAR(72) NOT NULL, `Attributes` SHORT NOT NULL, `Condition` "
            "CHAR(255), `KeyPath` CHAR(72) PRIMARY KEY `Component`)");
    Execute(database,
            "CREATE TABLE `Media` (`DiskId` SHORT NOT NULL, `LastSequence` LONG NOT NULL, "
            "`DiskPrompt` CHAR(64), `Cabinet` CHAR(255), `VolumeLabel` CHAR(32), `Source` "
            "CHAR(72) PRIMARY KEY `DiskId`)");
    Execute(database,
            "CREATE TABLE `Property` (`Property` CHAR(72) NOT NULL, `Value` LONGCHAR NOT NULL "
            "PRIMARY KEY `Property`)");
    Execute(database, "INSERT INTO `Media` (`DiskId`,`LastSequence`,`Cabinet`) VALUES (1," +
                          std::to_string(files) + ",'#data.cab')");

    winsys::installer::ProductRegistration registration;
    registration.productCode = U16(Guid(product, 0));
    registration.packageCode = U16(Guid(product, 0xFFFF));
    registration.productName = u"Bench";
    registration.productVersion = u"1.0.0";
    registration.manufacturer = u"Bench";
    registration.language = 1033;
    registration.localPackage = U16(package);
    registration.installSource = u"C:\\";
    registration.packageName = u"bench.msi";
    int sequence = 0;
    for (int c = 0; c < components; ++c) {
        const std::string name = "c" + std::to_string(c);
        fs::create_directories(nativeFolder + "/" + name);
        std::ofstream(nativeFolder + "/" + name + "/" + name + "f0.dat") << "key";
        Execute(database, "INSERT INTO `Component` (`Component`,`ComponentId`,`Directory_`,"
                          "`Attributes`,`KeyPath`) VALUES ('" + name + "','" +
                              Guid(product, c + 1) + "','D" + name + "',0,'" + name + "f0')");
        registration.components.push_back(
            {U16(Guid(product, c + 1)), U16(folder + name + "\\" + name + "f0.dat")});
        for (int f = 0; f < kFilesPerComponent; ++f) {
            const std::string file = name + "f" + std::to_string(f) + ".dat";
            Execute(database, "INSERT INTO `File` (`File`,`Component_`,`FileName`,`FileSize`,"
                              "`Attributes`,`Sequence`) VALUES ('" + name + "f" +
                                  std::to_string(f) + "','" + name + "','" + file + "',3,512," +
                                  std::to_string(++sequence) + ")");
        }
    }
    MsiDatabaseCommit(database);
    MsiCloseHandle(database);
    if (winsys::installer::registerProduct(registration) != 0)
        std::exit(1);
    return Guid(product, 0);
}

// Microseconds per replacement for each block of 100.
std::vector<double> Measure(const std::string& product, int files, const std::string& newFile) {
    const int components = files / kFilesPerComponent;
    const int handle = QLTMsiOpen();
    const std::u16string code = U16(product);
    if (QLTMsiOpenDatabase(handle, code.c_str(), nullptr, nullptr, nullptr, nullptr) != 0)
        std::exit(1);
    const std::u16string source = U16(newFile);
    std::vector<double> perBlock;
    const std::string folder =
        "C:\\bench" + std::to_string(std::stoul(product.substr(1, 8), nullptr, 16)) + "\\";
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kReplacements; ++i) {
        // Spread over every component, each file once.
        const int component = i % components;
        const int file = 1 + i / components;
        const std::string name =
            "c" + std::to_string(component) + "f" + std::to_string(file) + ".dat";
        const std::u16string installed =
            U16(folder + "c" + std::to_string(component) + "\\" + name);
        if (QLTMsiUpdateFile(handle, installed.c_str(), source.c_str(), U16(name).c_str()) != 0) {
            std::fprintf(stderr, "replacement %d failed\n", i);
            std::exit(1);
        }
        if ((i + 1) % kBlock == 0) {
            const auto now = std::chrono::steady_clock::now();
            perBlock.push_back(
                std::chrono::duration<double, std::micro>(now - start).count() / kBlock);
            start = now;
        }
    }
    QLTMsiClose(handle);
    return perBlock;
}

}  // namespace

int main() {
    char pattern[] = "/tmp/update-bench-XXXXXX";
    const std::string root = mkdtemp(pattern);
    fs::create_directories(root + "/tmp");
    setenv("QLTMSI_PREFIX", (root + "/prefix").c_str(), 1);
    setenv("TMPDIR", (root + "/tmp").c_str(), 1);
    std::ofstream(root + "/new.dat") << "new contents";
    const std::string newFile = "Z:" + root + "\\new.dat";
    std::string windowsNew = "Z:" + root + "/new.dat";
    for (char& c : windowsNew)
        if (c == '/')
            c = '\\';

    std::printf("replacements of 1,000 files, microseconds per replacement by block of 100\n");
    std::vector<double> medians;
    const int sizes[] = {2000, 10000, 50000};
    for (int files : sizes) {
        const std::string product = MakeProduct(root, files, files);
        std::vector<double> blocks = Measure(product, files, windowsNew);
        std::printf("%6d File rows:", files);
        for (double b : blocks)
            std::printf(" %7.0f", b);
        std::printf("\n       last block / first block: %.2f\n", blocks.back() / blocks.front());
        std::sort(blocks.begin(), blocks.end());
        medians.push_back(blocks[blocks.size() / 2]);
    }
    std::printf("median per call: %.0f us at 2,000 rows, %.0f us at 10,000, %.0f us at 50,000; "
                "50,000 / 2,000: %.2f (25.00 is linear)\n",
                medians[0], medians[1], medians[2], medians[2] / medians[0]);
    fs::remove_all(root);
    return 0;
}
