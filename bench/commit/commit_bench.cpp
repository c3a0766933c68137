// The cost of a commit that archives 100 large files, measured through the
// library's exports against a reference taken in the same run: compressing
// the same bytes with zlib (raw deflate, level 6, 32 KiB blocks, one thread)
// plus copying the installed package twice. A wixl-made product of 100 small
// files is installed by `qltmsi install` into a temporary prefix; each file
// is then replaced by a new one (a third random bytes, the rest text-like)
// and the changes are committed without an undo record. Only the commit call
// counts; the replacements are timed and printed apart. The total size is
// QLTMSI_BENCH_COMMIT_MB MiB (default 200). Everything made is removed.
#include <qltmsi.h>
#include <zlib.h>

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
#include <vector>

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

// The 100 replacement files of `total` bytes in all: in each, a third random
// bytes and the rest lines of words, which deflate shrinks about as it does
// ordinary text.
std::vector<fs::path> WriteNewFiles(const fs::path& folder, size_t total) {
    std::mt19937_64 random(20261207);
    std::vector<std::string> words;
    for (int i = 0; i < 400; ++i) {
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
        while (bytes.size() < each / 3) {
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

struct Reference {
    double compress = 0;
    double copy = 0;
    uint64_t compressedBytes = 0;
    uint64_t packageBytes = 0;
    double Total() const { return compress + copy; }
};

// Reads and compresses every file as one thread would for a cabinet (each
// 32 KiB block a raw deflate stream of its own), then copies the package
// twice, as the commit makes a working copy and writes it back.
Reference MeasureReference(const std::vector<fs::path>& files, const fs::path& package) {
    Reference reference;
    z_stream stream{};
    if (deflateInit2(&stream, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        Fail("deflateInit2 failed");
    std::vector<unsigned char> output(deflateBound(&stream, kBlock));
    std::vector<char> input;
    auto start = std::chrono::steady_clock::now();
    for (const fs::path& file : files) {
        std::ifstream in(file, std::ios::binary);
        input.assign(std::istreambuf_iterator<char>(in), {});
        for (size_t at = 0; at < input.size(); at += kBlock) {
            deflateReset(&stream);
            stream.next_in = reinterpret_cast<Bytef*>(input.data() + at);
            stream.avail_in = static_cast<uInt>(std::min(kBlock, input.size() - at));
            stream.next_out = output.data();
            stream.avail_out = static_cast<uInt>(output.size());
            if (deflate(&stream, Z_FINISH) != Z_STREAM_END)
                Fail("deflate failed");
            reference.compressedBytes += stream.total_out;
        }
    }
    reference.compress = Seconds(start);
    deflateEnd(&stream);

    const fs::path first = root / "copy1.msi", second = root / "copy2.msi";
    start = std::chrono::steady_clock::now();
    fs::copy_file(package, first, fs::copy_options::overwrite_existing);
    fs::copy_file(first, second, fs::copy_options::overwrite_existing);
    reference.copy = Seconds(start);
    reference.packageBytes = fs::file_size(package);
    fs::remove(first);
    fs::remove(second);
    return reference;
}

void PrintReference(const char* when, const Reference& reference) {
    std::printf("reference %-14s %7.3f s  (zlib %.3f s -> %.1f MiB; two copies of %.0f KiB %.3f s)\n",
                when, reference.Total(), reference.compress,
                static_cast<double>(reference.compressedBytes) / (1 << 20),
                static_cast<double>(reference.packageBytes) / 1024, reference.copy);
}

}  // namespace

int main() {
    size_t megabytes = 200;
    if (const char* setting = std::getenv("QLTMSI_BENCH_COMMIT_MB"))
        megabytes = std::max<size_t>(1, std::strtoul(setting, nullptr, 10));
    const size_t total = megabytes << 20;

    char pattern[] = "/tmp/commit-bench-XXXXXX";
    if (!mkdtemp(pattern))
        Fail("no temporary directory");
    root = pattern;
    fs::create_directories(root / "tmp");
    fs::create_directories(root / "work");
    setenv("QLTMSI_PREFIX", (root / "prefix").c_str(), 1);
    setenv("TMPDIR", (root / "tmp").c_str(), 1);

    InstallProduct(root / "work");
    const std::vector<fs::path> newFiles = WriteNewFiles(root / "new", total);
    const fs::path package = InstalledPackage();
    std::printf("commit of %d files, %zu MiB in all (a third random bytes)\n", kFiles, megabytes);

    const Reference before = MeasureReference(newFiles, package);

    const QLTMSI_HANDLE handle = QLTMsiOpen();
    const std::u16string product = U16(kProductCode);
    if (QLTMsiOpenDatabase(handle, product.c_str(), nullptr, nullptr, nullptr, nullptr) != 0)
        Fail(std::string("QLTMsiOpenDatabase failed: ") + QLTMsiGetLastErrorStrA(handle));
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kFiles; ++i) {
        const std::u16string installed = U16(kInstallFolder + FileName(i));
        const std::u16string source = U16(WindowsPathOf(newFiles[i]));
        const std::u16string name = U16(FileName(i));
        if (QLTMsiUpdateFile(handle, installed.c_str(), source.c_str(), name.c_str()) != 0)
            Fail("QLTMsiUpdateFile failed for " + FileName(i) + ": " +
                 QLTMsiGetLastErrorStrA(handle));
    }
    const double updates = Seconds(start);
    start = std::chrono::steady_clock::now();
    const QLTMSI_STATUS status = QLTMsiCommitChanges(handle, nullptr);
    const double commit = Seconds(start);
    if (status != 0) {
        const char* message = QLTMsiGetLastErrorStrA(handle);
        Fail("QLTMsiCommitChanges returned " + std::to_string(status) + ": " +
             (message ? message : ""));
    }
    QLTMsiClose(handle);

    const fs::path cabCache = InInstallerFolder(true);
    if (cabCache.empty())
        Fail("the commit left no cab cache");
    const double cabCacheMiB = static_cast<double>(fs::file_size(cabCache)) / (1 << 20);
    const Reference after = MeasureReference(newFiles, InstalledPackage());
    const double reference = std::min(before.Total(), after.Total());
    std::printf("updates (not counted)    %7.3f s  for %d QLTMsiUpdateFile calls\n", updates, kFiles);
    std::printf("commit                   %7.3f s  (cab cache %.1f MiB)\n", commit, cabCacheMiB);
    PrintReference("before commit", before);
    PrintReference("after commit", after);
    std::printf("commit / reference       %7.2f  (the faster reference; target <= 1.30)\n",
                commit / reference);
    fs::remove_all(root);
    return 0;
}
