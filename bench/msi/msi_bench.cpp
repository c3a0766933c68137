// Database engine speed, side by side with msitools in the same run:
//  1. open a 20,000-file package and export every table (vs msidump -t);
//  2. 20,000 keyed UPDATEs on that table (vs msibuild running the same
//     statements, when msibuild is installed);
//  3. a commit of the changed package (vs copying its file).
#include <msiquery.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "msi/codepage.h"
#include "msi/database.h"
#include "msi/idt.h"

using namespace winsys::msi;
using Clock = std::chrono::steady_clock;

namespace {

double seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

bool have(const char* tool) { return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0; }

int shell(const std::string& command) { return std::system(command.c_str()); }

std::u16string wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

constexpr int kFiles = 20000;

void writeIdts(const std::string& dir) {
    std::string file = "File\tComponent_\tFileName\tFileSize\tVersion\tLanguage\tAttributes\tSequence\r\n"
                       "s72\ts72\tl255\ti4\tS72\tS20\tI2\ti2\r\nFile\tFile\r\n";
    std::string comp = "Component\tComponentId\tDirectory_\tAttributes\tCondition\tKeyPath\r\n"
                       "s72\tS38\ts72\ti2\tS255\tS72\r\nComponent\tComponent\r\n";
    for (int i = 0; i < kFiles; ++i) {
        file += "file" + std::to_string(i) + "\tcomp" + std::to_string(i / 10) + "\tFILE" + std::to_string(i) +
                ".DLL|file number " + std::to_string(i) + ".dll\t" + std::to_string(1000 + i) + "\t1.0." +
                std::to_string(i % 500) + ".0\t1033\t512\t" + std::to_string(i + 1) + "\r\n";
        if (i % 10 == 0)
            comp += "comp" + std::to_string(i / 10) + "\t{" + std::to_string(10000000 + i) +
                    "-2222-3333-4444-555555555555}\tINSTALLDIR\t0\t\tfile" + std::to_string(i) + "\r\n";
    }
    std::ofstream(dir + "/File.idt", std::ios::binary) << file;
    std::ofstream(dir + "/Component.idt", std::ios::binary) << comp;
    std::ofstream(dir + "/Property.idt", std::ios::binary)
        << "Property\tValue\r\ns72\tl0\r\nProperty\tProperty\r\nProductCode\t{AAAAAAAA-2222-3333-4444-555555555555}\r\n";
}

}  // namespace

int main() {
    if (!have("msibuild") || !have("msidump")) {
        std::puts("msitools (msibuild, msidump) not installed: nothing to compare with");
        return 0;
    }
    char tmpl[] = "/tmp/qltmsi-bench-XXXXXX";
    std::string dir = mkdtemp(tmpl);
    writeIdts(dir);
    std::string package = dir + "/big.msi";
    if (shell("cd '" + dir + "' && msibuild big.msi -i File.idt -i Component.idt -i Property.idt")) return 1;
    std::printf("package: %d File rows, %ju bytes\n", kFiles, std::uintmax_t(std::filesystem::file_size(package)));

    // 1. Open and export every table.
    std::filesystem::create_directory(dir + "/ours");
    auto t0 = Clock::now();
    {
        std::shared_ptr<Database> db;
        if (Database::open(package, OpenMode::ReadOnly, &db)) return 1;
        std::vector<std::u16string> names = db->tableNames();
        names.push_back(u"_SummaryInformation");
        for (const auto& name : names) {
            std::u16string text;
            if (exportTable(*db, name, &text)) return 1;
            std::string bytes = encodeCodepage(kCodepageUtf8, text).value();
            std::ofstream(dir + "/ours/" + std::string(name.begin(), name.end()) + ".idt", std::ios::binary) << bytes;
        }
    }
    double oursExport = seconds(t0);
    t0 = Clock::now();
    if (shell("cd '" + dir + "' && mkdir -p peer && msidump -t -d '" + dir + "/peer' '" + package + "' >/dev/null")) return 1;
    double peerExport = seconds(t0);
    bool same = shell("cmp -s '" + dir + "/ours/File.idt' '" + dir + "/peer/File.idt'") == 0;
    std::printf("open + export all tables: ours %.3f s, msidump %.3f s, ratio %.1fx (File.idt identical: %s)\n",
                oursExport, peerExport, peerExport / oursExport, same ? "yes" : "NO");

    // 2. Keyed updates.
    std::filesystem::copy_file(package, dir + "/ours.msi");
    std::filesystem::copy_file(package, dir + "/peer.msi");
    MSIHANDLE db = 0;
    if (MsiOpenDatabaseW(wide(dir + "/ours.msi").c_str(), MSIDBOPEN_TRANSACT, &db)) return 1;
    t0 = Clock::now();
    for (int i = 0; i < kFiles; ++i) {
        std::u16string q = u"UPDATE `File` SET `FileSize` = " + wide(std::to_string(i * 7)) +
                           u", `Version` = '2.0." + wide(std::to_string(i)) + u"' WHERE `File` = 'file" +
                           wide(std::to_string(i)) + u"'";
        MSIHANDLE view = 0;
        if (MsiDatabaseOpenViewW(db, q.c_str(), &view) || MsiViewExecute(view, 0)) return 1;
        MsiCloseHandle(view);
    }
    double oursUpdates = seconds(t0);
    // msibuild runs its -q statements in one process on one database; the
    // statements go in batches that fit a command line.
    std::ofstream script(dir + "/updates.sh");
    const int batch = 2000;
    for (int start = 0; start < kFiles; start += batch) {
        script << "msibuild '" << dir << "/peer.msi'";
        for (int i = start; i < start + batch && i < kFiles; ++i)
            script << " -q \"UPDATE \\`File\\` SET \\`FileSize\\` = " << i * 7 << ", \\`Version\\` = '2.0." << i
                   << "' WHERE \\`File\\` = 'file" << i << "'\"";
        script << " || exit 1\n";
    }
    script.close();
    t0 = Clock::now();
    int peerStatus = shell("sh '" + dir + "/updates.sh'");
    double peerUpdates = seconds(t0);
    std::printf("%d keyed UPDATEs: ours %.3f s, msibuild %.3f s%s, ratio %.1fx\n", kFiles, oursUpdates, peerUpdates,
                peerStatus ? " (failed)" : " (10 runs of 2,000, with their commits)", peerUpdates / oursUpdates);

    // 3. Commit against a plain copy of the file.
    t0 = Clock::now();
    if (MsiDatabaseCommit(db)) return 1;
    double commit = seconds(t0);
    MsiCloseHandle(db);
    t0 = Clock::now();
    std::filesystem::copy_file(dir + "/ours.msi", dir + "/copy.msi");
    double copy = seconds(t0);
    // What a crash-safe writer of the same bytes must do at least: read,
    // write beside, flush, rename.
    t0 = Clock::now();
    {
        std::ifstream in(dir + "/ours.msi", std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        FILE* out = std::fopen((dir + "/safe.tmp").c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), out);
        std::fflush(out);
        fsync(fileno(out));
        std::fclose(out);
        std::rename((dir + "/safe.tmp").c_str(), (dir + "/safe.msi").c_str());
    }
    double safeCopy = seconds(t0);
    same = shell("msiinfo export '" + dir + "/ours.msi' File > '" + dir + "/a.idt' && msiinfo export '" + dir +
                 "/peer.msi' File > '" + dir + "/b.idt' && cmp -s '" + dir + "/a.idt' '" + dir + "/b.idt'") == 0;
    std::printf("commit after the updates: %.3f s; file copy %.4f s (ratio %.1fx); copy written beside, flushed and "
                "renamed %.4f s (ratio %.1fx); updated File table identical to msibuild's: %s\n",
                commit, copy, commit / copy, safeCopy, commit / safeCopy, same ? "yes" : "NO");
    std::filesystem::remove_all(dir);
    return 0;
}
