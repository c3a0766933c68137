// The cost of a commit that archives 100 large files, measured through the
// library's exports against the floor of what such a commit must do, paired
// A/B in alternating rounds. A wixl-made product of 100 small files is
// installed by `qltmsi install` into a temporary prefix; each file is then
// replaced by a new one (a third random bytes, the rest text-like; see Mix)
// and the changes are committed without an undo record, in a process of its own
// (this program with `--commit`), which reports the commit's time, the bytes
// it wrote (/proc/self/io: `wchar`, and what reached the disk) and the
// process's peak memory. QLTMSI_BENCH_WRAP is put in front of that process's
// command line (a profiler, strace).
//
// The floor: deflate (the cabinet module's own, ISA-L at its level, each
// 32 KiB block primed with the one before) of the blocks that deflate shrinks, spread over the cores the
// commit uses, plus writing the compressed bytes once (the cab cache) and
// the package twice (the working copy committed, then copied over the
// installed package). Blocks that do not shrink are stored, so only reading
// them counts, and reading is left out of the floor. Beside it, the
// one-thread reference: every block deflated fresh at level 6 on one thread
// (what a plain cabinet writer does), plus the same writes. The total size is
// QLTMSI_BENCH_COMMIT_MB MiB (default 200). Everything made is removed.
#include <isa-l/igzip_lib.h>
#include <qltmsi.h>
#include <zlib.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "../paired.h"
#include "cabinet/block_encoder.h"

namespace fs = std::filesystem;

namespace {

constexpr int kFiles = 100;
constexpr size_t kBlock = 32768;
constexpr char kProductCode[] = "{7D3F2E50-9A4B-4C83-BE06-4F5A6B7C8D01}";
constexpr char kComponentCode[] = "{7D3F2E50-9A4B-4C83-BE06-4F5A6B7C8D02}";
constexpr char kInstallFolder[] = "C:\\Program Files\\Commit Bench\\";

fs::path root;

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "commit_bench: %s\n", what.c_str());
    if (!root.empty())
        fs::remove_all(root);
    std::exit(1);
}

std::u16string U16(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

std::string FileName(int index) {
    char name[16];
    std::snprintf(name, sizeof name, "f%03d.txt", index);
    return name;
}

// A native path as the library takes it: on the Z: drive, with backslashes.
std::string WindowsPathOf(const fs::path& native) {
    std::string path = "Z:" + native.string();
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

int Shell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The product: one component of 100 small files, built by wixl and
// installed into the prefix.
void InstallProduct(const fs::path& work) {
    std::string files;
    for (int i = 0; i < kFiles; ++i) {
        const std::string name = FileName(i);
        std::ofstream(work / name) << name << " as installed\n";
        files += "            <File Id=\"f" + std::to_string(i) + "\" Name=\"" + name +
                 "\" Source=\"" + name + "\"" + (i == 0 ? " KeyPath=\"yes\"" : "") + "/>\n";
    }
    std::ofstream(work / "bench.wxs")
        << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
           "<Wix xmlns=\"http://schemas.microsoft.com/wix/2006/wi\">\n"
           "  <Product Id=\"" << kProductCode << "\" Name=\"Commit Bench\" Language=\"1033\" "
           "Version=\"1.0.0\" Manufacturer=\"Bench Works\" UpgradeCode=\"" << kProductCode << "\">\n"
           "    <Package InstallerVersion=\"200\" Compressed=\"yes\" InstallScope=\"perMachine\"/>\n"
           "    <Media Id=\"1\" Cabinet=\"bench.cab\" EmbedCab=\"yes\"/>\n"
           "    <Directory Id=\"TARGETDIR\" Name=\"SourceDir\">\n"
           "      <Directory Id=\"ProgramFilesFolder\">\n"
           "        <Directory Id=\"BENCHDIR\" Name=\"Commit Bench\">\n"
           "          <Component Id=\"Files\" Guid=\"" << kComponentCode << "\">\n"
        << files
        << "          </Component>\n"
           "        </Directory>\n"
           "      </Directory>\n"
           "    </Directory>\n"
           "    <Feature Id=\"Complete\" Level=\"1\"><ComponentRef Id=\"Files\"/></Feature>\n"
           "  </Product>\n"
           "</Wix>\n";
    const std::string quotedWork = "'" + work.string() + "'";
    if (Shell("cd " + quotedWork + " && wixl -o bench.msi bench.wxs 2>/dev/null") != 0)
        Fail("wixl could not build the package");
    if (Shell(std::string("'") + QLTMSI_PROGRAM + "' install " + quotedWork +
              "/bench.msi >/dev/null") != 0)
        Fail("qltmsi install failed");
}

// What the new files are made of: the share of random bytes in each, and the
// vocabulary of the rest. The defaults deflate about as ordinary files do; a
// commit of 1,000 MB needs more compressible data, as the cab cache holds one
// cabinet of at most 256 MiB.
struct Mix {
    size_t randomPercent = 33;
    size_t words = 400;
};

size_t Setting(const char* name, size_t fallback, size_t least) {
    const char* setting = std::getenv(name);
    return setting ? std::max<size_t>(least, std::strtoul(setting, nullptr, 10)) : fallback;
}

// The 100 replacement files of `total` bytes in all: in each, the mix's share
// of random bytes and the rest lines of words, which deflate shrinks about as
// it does ordinary text.
std::vector<fs::path> WriteNewFiles(const fs::path& folder, size_t total, const Mix& mix) {
    std::mt19937_64 random(20261207);
    std::vector<std::string> words;
    for (size_t i = 0; i < mix.words; ++i) {
        std::string word;
        const int length = 2 + static_cast<int>(random() % 9);
        for (int c = 0; c < length; ++c)
            word += static_cast<char>('a' + random() % 26);
        words.push_back(word);
    }
    fs::create_directories(folder);
    std::vector<fs::path> paths;
    const size_t each = total / kFiles;
    std::string bytes;
    for (int i = 0; i < kFiles; ++i) {
        bytes.clear();
        bytes.reserve(each + 16);
        while (bytes.size() < each * mix.randomPercent / 100) {
            const uint64_t value = random();
            bytes.append(reinterpret_cast<const char*>(&value), sizeof value);
        }
        size_t lineStart = bytes.size();
        while (bytes.size() < each) {
            bytes += words[random() % words.size()];
            if (bytes.size() - lineStart > 70) {
                bytes += "\r\n";
                lineStart = bytes.size();
            } else {
                bytes += ' ';
            }
        }
        bytes.resize(each);
        paths.push_back(folder / FileName(i));
        std::ofstream(paths.back(), std::ios::binary).write(bytes.data(), bytes.size());
    }
    return paths;
}

// The installed package (xxxxxxxx.msi) or the cab cache beside it
// (xxxxxxxx.yyyy.msi); empty when there is none.
fs::path InInstallerFolder(bool cabCache) {
    const fs::path installer = root / "prefix" / "drive_c" / "windows" / "Installer";
    for (const auto& entry : fs::directory_iterator(installer)) {
        const std::string name = entry.path().filename().string();
        if (entry.path().extension() == ".msi" &&
            std::count(name.begin(), name.end(), '.') == (cabCache ? 2 : 1))
            return entry.path();
    }
    return {};
}

fs::path InstalledPackage() {
    fs::path package = InInstallerFolder(false);
    if (package.empty())
        Fail("no installed package");
    return package;
}

// What this process has written so far: bytes passed to write calls
// (`wchar`), and bytes that reach the disk, which is what it dirtied in the
// page cache less what was deleted or truncated before being written back.
struct Written {
    uint64_t calls = 0;
    uint64_t disk = 0;
};
Written WrittenBytes() {
    std::ifstream io("/proc/self/io");
    std::string key;
    uint64_t value = 0, dirtied = 0, cancelled = 0;
    Written written;
    while (io >> key >> value) {
        if (key == "wchar:")
            written.calls = value;
        else if (key == "write_bytes:")
            dirtied = value;
        else if (key == "cancelled_write_bytes:")
            cancelled = value;
    }
    written.disk = dirtied - std::min(dirtied, cancelled);
    return written;
}

int CommitCores() {
    return static_cast<int>(std::min(4u, std::max(1u, std::thread::hardware_concurrency())));
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Floor {
    double seconds = 0;
    double cpu = 0;        // of the same work on one core
    double reference = 0;  // one thread deflating every block, plus the copies
    uint64_t compressedBytes = 0;
    uint64_t storedBlocks = 0, blocks = 0;
};

// The floor of a commit of `files` into a package of the size of `package`.
Floor MeasureFloor(const std::vector<fs::path>& files, const fs::path& package) {
    Floor floor;
    isal_zstream stream{};
    std::vector<uint8_t> levelBuffer(ISAL_DEF_LVL3_DEFAULT);
    z_stream plain{};
    if (deflateInit2(&plain, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        Fail("deflateInit2 failed");
    std::vector<unsigned char> output(deflateBound(&plain, kBlock) + 64);
    std::vector<char> input;
    std::string compressed;
    double deflateSeconds = 0, allDeflateSeconds = 0;
    const double cpuStart = CpuSeconds();
    double skippedCpu = 0;
    for (const fs::path& file : files) {
        std::ifstream in(file, std::ios::binary);
        input.assign(std::istreambuf_iterator<char>(in), {});
        for (size_t at = 0; at < input.size(); at += kBlock) {
            const size_t size = std::min(kBlock, input.size() - at);
            auto start = std::chrono::steady_clock::now();
            const double blockCpu = CpuSeconds();
            isal_deflate_init(&stream);
            stream.level = winsys::cabinet::kMszipLevel;
            stream.level_buf = levelBuffer.data();
            stream.level_buf_size = static_cast<uint32_t>(levelBuffer.size());
            stream.end_of_stream = 1;
            if (at > 0 && isal_deflate_set_dict(&stream, reinterpret_cast<uint8_t*>(input.data() + at - kBlock),
                                                kBlock) != COMP_OK)
                Fail("isal_deflate_set_dict failed");
            stream.next_in = reinterpret_cast<uint8_t*>(input.data() + at);
            stream.avail_in = static_cast<uint32_t>(size);
            stream.next_out = output.data();
            stream.avail_out = static_cast<uint32_t>(output.size());
            if (isal_deflate(&stream) != COMP_OK || stream.internal_state.state != ZSTATE_END)
                Fail("isal_deflate failed");
            const double spent = Seconds(start);
            auto plainStart = std::chrono::steady_clock::now();
            const double plainCpu = CpuSeconds();
            deflateReset(&plain);
            plain.next_in = reinterpret_cast<Bytef*>(input.data() + at);
            plain.avail_in = static_cast<uInt>(size);
            plain.next_out = output.data();
            plain.avail_out = static_cast<uInt>(output.size());
            if (deflate(&plain, Z_FINISH) != Z_STREAM_END)
                Fail("deflate failed");
            allDeflateSeconds += Seconds(plainStart);
            skippedCpu += CpuSeconds() - plainCpu;
            ++floor.blocks;
            if (stream.total_out >= size) {
                skippedCpu += CpuSeconds() - blockCpu;
                ++floor.storedBlocks;
                floor.compressedBytes += size + 5;
                compressed.append(input.data() + at, size);
            } else {
                deflateSeconds += spent;
                floor.compressedBytes += stream.total_out;
                compressed.append(reinterpret_cast<const char*>(output.data()), stream.total_out);
            }
            if (compressed.size() > (8u << 20))
                compressed.clear();
        }
    }
    deflateEnd(&plain);
    floor.seconds = deflateSeconds / CommitCores();

    // The unavoidable writes: the compressed bytes once, the package twice.
    auto start = std::chrono::steady_clock::now();
    {
        std::string block(1 << 20, 'x');
        std::ofstream out(root / "floor.cab", std::ios::binary);
        for (uint64_t left = floor.compressedBytes; left > 0;) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(left, block.size()));
            out.write(block.data(), static_cast<std::streamsize>(n));
            left -= n;
        }
    }
    const fs::path first = root / "copy1.msi", second = root / "copy2.msi";
    fs::copy_file(package, first, fs::copy_options::overwrite_existing);
    fs::copy_file(first, second, fs::copy_options::overwrite_existing);
    const double writes = Seconds(start);
    floor.seconds += writes;
    floor.reference = allDeflateSeconds + writes;
    floor.cpu = CpuSeconds() - cpuStart - skippedCpu;
    fs::remove(root / "floor.cab");
    fs::remove(first);
    fs::remove(second);
    return floor;
}

// --commit: replaces the 100 files with those in NEWDIR and commits; prints
// "commit SECONDS CPU_SECONDS WCHAR DISK_BYTES PEAK_KIB". The bytes written
// are counted up to the handle's close, which deletes the commit's
// temporary files; those that reach the disk over the whole process, open
// and updates included, since what the close cancels may have been written
// before the commit started (the working copy).
int RunCommit(const fs::path& newFolder) {
    const QLTMSI_HANDLE handle = QLTMsiOpen();
    const std::u16string product = U16(kProductCode);
    if (QLTMsiOpenDatabase(handle, product.c_str(), nullptr, nullptr, nullptr, nullptr) != 0)
        Fail(std::string("QLTMsiOpenDatabase failed: ") + QLTMsiGetLastErrorStrA(handle));
    for (int i = 0; i < kFiles; ++i) {
        const std::u16string installed = U16(kInstallFolder + FileName(i));
        const std::u16string source = U16(WindowsPathOf(newFolder / FileName(i)));
        const std::u16string name = U16(FileName(i));
        if (QLTMsiUpdateFile(handle, installed.c_str(), source.c_str(), name.c_str()) != 0)
            Fail("QLTMsiUpdateFile failed for " + FileName(i) + ": " +
                 QLTMsiGetLastErrorStrA(handle));
    }
    const Written writtenBefore = WrittenBytes();
    const double cpuBefore = CpuSeconds();
    auto start = std::chrono::steady_clock::now();
    const QLTMSI_STATUS status = QLTMsiCommitChanges(handle, nullptr);
    const double commit = Seconds(start);
    const double cpu = CpuSeconds() - cpuBefore;
    if (status != 0) {
        const char* message = QLTMsiGetLastErrorStrA(handle);
        Fail("QLTMsiCommitChanges returned " + std::to_string(status) + ": " +
             (message ? message : ""));
    }
    QLTMsiClose(handle);
    const Written writtenAfter = WrittenBytes();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("commit %.6f %.6f %llu %llu %ld\n", commit, cpu,
                static_cast<unsigned long long>(writtenAfter.calls - writtenBefore.calls),
                static_cast<unsigned long long>(writtenAfter.disk),
                usage.ru_maxrss);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--commit")
        return RunCommit(argv[2]);
    const size_t megabytes = Setting("QLTMSI_BENCH_COMMIT_MB", 200, 1);
    const Mix mix{std::min<size_t>(100, Setting("QLTMSI_BENCH_COMMIT_RANDOM_PERCENT", 33, 0)),
                  Setting("QLTMSI_BENCH_COMMIT_WORDS", 400, 1)};
    const size_t total = megabytes << 20;
    const std::string self = fs::read_symlink("/proc/self/exe").string();

    char pattern[] = "/tmp/commit-bench-XXXXXX";
    if (!mkdtemp(pattern))
        Fail("no temporary directory");
    root = pattern;
    fs::create_directories(root / "tmp");
    fs::create_directories(root / "work");
    setenv("QLTMSI_PREFIX", (root / "prefix").c_str(), 1);
    setenv("TMPDIR", (root / "tmp").c_str(), 1);

    InstallProduct(root / "work");
    const std::vector<fs::path> newFiles = WriteNewFiles(root / "new", total, mix);
    std::printf("commit of %d files, %zu MiB in all (%zu %% random bytes, %zu words), %d cores for the commit\n",
                kFiles, megabytes, mix.randomPercent, mix.words, CommitCores());

    std::vector<double> commits, floors, ratios, written, onDisk, peaks, cabinets, cpuRatios,
        referenceRatios;
    Floor floor;
    const int rounds = bench::Rounds(3);
    for (int round = 0; round < rounds; ++round) {
        double commit = 0, floorSeconds = 0, commitCpu = 0;
        for (int half = 0; half < 2; ++half) {
            if ((half == 0) == (round % 2 == 0)) {
                const char* wrap = std::getenv("QLTMSI_BENCH_WRAP");
                FILE* child = popen((std::string(wrap ? wrap : "") + " '" + self + "' --commit '" + (root / "new").string() + "'").c_str(), "r");
                if (!child)
                    Fail("cannot run the commit");
                double seconds = 0;
                unsigned long long bytes = 0, diskBytes = 0;
                long peak = 0;
                const int got = std::fscanf(child, "commit %lf %lf %llu %llu %ld", &seconds,
                                            &commitCpu, &bytes, &diskBytes, &peak);
                if (pclose(child) != 0 || got != 5)
                    Fail("the commit failed");
                commit = seconds;
                written.push_back(static_cast<double>(bytes));
                onDisk.push_back(static_cast<double>(diskBytes));
                peaks.push_back(static_cast<double>(peak) / 1024);
                const fs::path cabCache = InInstallerFolder(true);
                if (cabCache.empty())
                    Fail("the commit left no cab cache");
                cabinets.push_back(static_cast<double>(fs::file_size(cabCache)));
            } else {
                floor = MeasureFloor(newFiles, InstalledPackage());
                floorSeconds = floor.seconds;
            }
        }
        commits.push_back(commit);
        floors.push_back(floorSeconds);
        ratios.push_back(commit / floorSeconds);
        cpuRatios.push_back(commitCpu / floor.cpu);
        referenceRatios.push_back(commit / floor.reference);
    }
    std::printf("commit          %7.3f s (median of %d)\n", bench::Median(commits), rounds);
    std::printf("floor           %7.3f s (deflate of %llu of %llu blocks on %d cores, compressed bytes "
                "written once, package written twice)\n",
                bench::Median(floors), static_cast<unsigned long long>(floor.blocks - floor.storedBlocks),
                static_cast<unsigned long long>(floor.blocks), CommitCores());
    std::printf("commit / floor  %7.2f (median of paired rounds)\n",
                bench::Median(ratios));
    std::printf("commit cpu / floor cpu %.2f (user + system time of the commit, all threads, against the "
                "floor's work on one core)\n",
                bench::Median(cpuRatios));
    std::printf("commit / one-thread reference %.2f (fresh level-6 deflate of every block on one thread, "
                "plus the same writes)\n",
                bench::Median(referenceRatios));
    std::printf("written by the commit (wchar): %.1f MiB, %.2fx the cab cache (%.1f MiB)\n",
                bench::Median(written) / (1 << 20), bench::Median(written) / bench::Median(cabinets),
                bench::Median(cabinets) / (1 << 20));
    std::printf("written to disk by the committing process, open to close (write_bytes - "
                "cancelled_write_bytes): %.1f MiB, "
                "%.2fx the cab cache\n",
                bench::Median(onDisk) / (1 << 20), bench::Median(onDisk) / bench::Median(cabinets));
    std::printf("peak memory of the committing process: %.1f MiB\n", bench::Median(peaks));
    fs::remove_all(root);
    return 0;
}
