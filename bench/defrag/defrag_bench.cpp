// Compacting a package of about 100 MB (DefragMsiFile: open, copy every
// element into a fresh compound file, check it opens, compare sizes) against
// copying the file with CopyFileW, in the same run and the same prefix.
//   defrag_bench [MEGABYTES]
#include <msiquery.h>
#include <qltmsi.h>
#include <windows.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

bool Check(UINT result, const char* what) {
    if (result != 0)
        std::fprintf(stderr, "defrag_bench: %s failed (%u)\n", what, result);
    return result == 0;
}

// A package with one table and `megabytes` streams of 1 MB of data that
// compresses poorly, as cabinets do.
bool MakePackage(const std::u16string& path, const std::string& scratch, int megabytes) {
    MSIHANDLE db = 0, view = 0;
    if (!Check(MsiOpenDatabaseW(path.c_str(), MSIDBOPEN_CREATE, &db), "create"))
        return false;
    MsiDatabaseOpenViewW(db, u"CREATE TABLE `Property` (`Property` CHAR(72) NOT NULL, `Value` "
                             u"LONGCHAR PRIMARY KEY `Property`)", &view);
    MsiViewExecute(view, 0);
    MsiCloseHandle(view);
    std::mt19937 random(7);
    const std::string chunkFile = scratch + "/chunk";
    const std::u16string chunkPath = u"Z:" + std::u16string(chunkFile.begin(), chunkFile.end());
    MsiDatabaseOpenViewW(db, u"SELECT * FROM `_Streams`", &view);
    MsiViewExecute(view, 0);
    std::string chunk(1 << 20, '\0');
    for (int i = 0; i < megabytes; ++i) {
        for (auto& c : chunk)
            c = static_cast<char>(random());
        std::ofstream(chunkFile, std::ios::binary).write(chunk.data(), std::streamsize(chunk.size()));
        MSIHANDLE record = MsiCreateRecord(2);
        std::string name = "Data" + std::to_string(i);
        MsiRecordSetStringW(record, 1, std::u16string(name.begin(), name.end()).c_str());
        MsiRecordSetStreamW(record, 2, chunkPath.c_str());
        if (!Check(MsiViewModify(view, MSIMODIFY_INSERT, record), "insert"))
            return false;
        MsiCloseHandle(record);
    }
    MsiCloseHandle(view);
    bool committed = Check(MsiDatabaseCommit(db), "commit");
    MsiCloseHandle(db);
    std::filesystem::remove(chunkFile);
    return committed;
}

}  // namespace

int main(int argc, char** argv) {
    const int megabytes = argc > 1 ? std::atoi(argv[1]) : 100;
    char pattern[] = "/tmp/defrag-bench-XXXXXX";
    const std::string root = mkdtemp(pattern);
    setenv("QLTMSI_PREFIX", (root + "/prefix").c_str(), 1);
    std::filesystem::create_directories(root + "/tmp");
    setenv("TMPDIR", (root + "/tmp").c_str(), 1);
    const std::u16string package = u"C:\\package.msi";
    const std::u16string copy = u"C:\\copy.msi";

    int status = 1;
    if (MakePackage(package, root, megabytes)) {
        const auto size = std::filesystem::file_size(root + "/prefix/drive_c/package.msi");
        constexpr int kRounds = 3;
        double copySeconds = 1e9, defragSeconds = 1e9;
        for (int round = 0; round < kRounds; ++round) {
            auto start = Clock::now();
            CopyFileW(package.c_str(), copy.c_str(), FALSE);
            copySeconds = std::min(copySeconds, Seconds(start));
            start = Clock::now();
            const DWORD result = DefragMsiFile(package.c_str());
            defragSeconds = std::min(defragSeconds, Seconds(start));
            if (result != QLTMSI_DEFRAG_DONE)
                std::fprintf(stderr, "defrag_bench: DefragMsiFile returned %u\n", result);
        }
        std::printf("package %.1f MB; best of %d: copy %.3f s, compaction %.3f s, ratio %.2f\n",
                    double(size) / (1 << 20), kRounds, copySeconds, defragSeconds,
                    defragSeconds / copySeconds);
        status = 0;
    }
    std::filesystem::remove_all(root);
    return status;
}
