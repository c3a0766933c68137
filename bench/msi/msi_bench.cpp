// Database engine speed against msitools, whole processes paired A/B:
//  1. export of every table of a 20,000-file package, one process per table
//     on both sides (qltmsi-db dump vs msiinfo export);
//  2. 20,000 keyed UPDATEs in 10 fresh processes of 2,000 each, every
//     process opening the package, running its statements and committing
//     (msi_sql vs msibuild -q);
//  3. where the time of one such process goes (open, updates, commit), in
//     this process, against a crash-safe copy of the package file.
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
#include "../paired.h"

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
    if (!have("msibuild") || !have("msiinfo")) {
        std::puts("msitools (msibuild, msiinfo) not installed: nothing to compare with");
        return 0;
    }
    char tmpl[] = "/tmp/qltmsi-bench-XXXXXX";
    std::string dir = mkdtemp(tmpl);
    writeIdts(dir);
    std::string package = dir + "/big.msi";
    if (shell("cd '" + dir + "' && msibuild big.msi -i File.idt -i Component.idt -i Property.idt")) return 1;
    std::printf("package: %d File rows, %ju bytes\n", kFiles, std::uintmax_t(std::filesystem::file_size(package)));
    const int rounds = bench::Rounds(5);

    // 1. Export, one process per table on both sides.
    const std::vector<std::string> tables = {"File", "Component", "Property", "_Columns", "_Tables"};
    std::string oursExport, peerExport;
    for (const auto& t : tables) {
        oursExport += std::string(QLTMSI_DB) + " dump '" + package + "' " + t + " > '" + dir + "/ours-" + t + ".idt' && ";
        peerExport += "msiinfo export '" + package + "' " + t + " > '" + dir + "/peer-" + t + ".idt' && ";
    }
    oursExport += "true";
    peerExport += "true";
    auto exported = bench::RunPaired(
        rounds, [] {}, [&] { return bench::TimeShell(oursExport); }, [&] { return bench::TimeShell(peerExport); });
    bench::Print("export 5 tables, 5 processes:", "msiinfo", exported);
    std::printf("  File.idt identical to msiinfo's: %s\n",
                shell("cmp -s '" + dir + "/ours-File.idt' '" + dir + "/peer-File.idt'") == 0 ? "yes" : "NO");

    // 2. Keyed updates in fresh processes, open and commit included.
    const int batch = 2000;
    auto statement = [](int i) {
        return "UPDATE `File` SET `FileSize` = " + std::to_string(i * 7) + ", `Version` = '2.0." + std::to_string(i) +
               "' WHERE `File` = 'file" + std::to_string(i) + "'";
    };
    auto script = [&](const std::string& name, const std::string& program, const std::string& target,
                      const std::string& flag) {
        std::ofstream out(dir + "/" + name);
        for (int start = 0; start < kFiles; start += batch) {
            out << program << " '" << target << "'";
            for (int i = start; i < start + batch && i < kFiles; ++i) {
                std::string q = statement(i);
                std::string quoted;
                for (char c : q) quoted += c == '`' ? std::string("\\`") : std::string(1, c);
                out << flag << " \"" << quoted << "\"";
            }
            out << " || exit 1\n";
        }
        return "sh '" + dir + "/" + name + "'";
    };
    std::string oursUpdates = script("ours.sh", MSI_SQL, dir + "/ours.msi", "");
    std::string peerUpdates = script("peer.sh", "msibuild", dir + "/peer.msi", " -q");
    // Each side starts from a fresh copy of the package, made before its clock starts.
    auto fresh = [&](const std::string& name) {
        std::filesystem::copy_file(package, dir + "/" + name, std::filesystem::copy_options::overwrite_existing);
    };
    auto updated = bench::RunPaired(
        rounds, [] {}, [&] { fresh("ours.msi"); return bench::TimeShell(oursUpdates); },
        [&] { fresh("peer.msi"); return bench::TimeShell(peerUpdates); });
    bench::Print("20,000 UPDATEs, 10 x (open, 2,000, commit):", "msibuild -q", updated);
    bool same = shell("msiinfo export '" + dir + "/ours.msi' File > '" + dir + "/a.idt' && msiinfo export '" + dir +
                      "/peer.msi' File > '" + dir + "/b.idt' && cmp -s '" + dir + "/a.idt' '" + dir + "/b.idt'") == 0;
    std::printf("  updated File table identical to msibuild's: %s\n", same ? "yes" : "NO");

    // 3. One batch in this process, step by step.
    std::filesystem::copy_file(package, dir + "/steps.msi", std::filesystem::copy_options::overwrite_existing);
    std::vector<double> open, run, commit, safe;
    for (int round = 0; round < rounds; ++round) {
        auto t0 = Clock::now();
        MSIHANDLE db = 0;
        if (MsiOpenDatabaseW(wide(dir + "/steps.msi").c_str(), MSIDBOPEN_DIRECT, &db)) return 1;
        open.push_back(seconds(t0));
        t0 = Clock::now();
        for (int i = round * batch; i < (round + 1) * batch; ++i) {
            MSIHANDLE view = 0;
            if (MsiDatabaseOpenViewW(db, wide(statement(i % kFiles)).c_str(), &view) || MsiViewExecute(view, 0))
                return 1;
            MsiCloseHandle(view);
        }
        run.push_back(seconds(t0));
        t0 = Clock::now();
        if (MsiDatabaseCommit(db)) return 1;
        commit.push_back(seconds(t0));
        MsiCloseHandle(db);
        // What a crash-safe writer of the whole file must do at least: read
        // it, write it beside, flush, rename.
        t0 = Clock::now();
        {
            std::ifstream in(dir + "/steps.msi", std::ios::binary);
            std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            FILE* out = std::fopen((dir + "/safe.tmp").c_str(), "wb");
            std::fwrite(bytes.data(), 1, bytes.size(), out);
            std::fflush(out);
            fsync(fileno(out));
            std::fclose(out);
            std::rename((dir + "/safe.tmp").c_str(), (dir + "/safe.msi").c_str());
        }
        safe.push_back(seconds(t0));
    }
    std::printf("one process of 2,000 (medians): open %.4f s, updates %.4f s, commit %.4f s; "
                "crash-safe copy of the file %.4f s\n",
                bench::Median(open), bench::Median(run), bench::Median(commit), bench::Median(safe));
    std::filesystem::remove_all(dir);
    return 0;
}
