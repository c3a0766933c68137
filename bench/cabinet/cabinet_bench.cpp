// Cabinet module benchmark against gcab and cabextract, whole processes
// paired A/B: compression speed and size against `gcab -c -z` on the same
// files, and extraction of the same cabinet into a fresh folder against
// `gcab -x` and `cabextract`. Our side is this program run again as a child
// (`--compress`, `--extract`), so that both sides are timed as a user waits
// for them. The data set (text, Windows executables, incompressible data) is
// generated in a temporary directory; QLTMSI_BENCH_CABINET_MB sets its size
// (default 200).
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "../paired.h"
#include "fci.h"
#include "fdi.h"

namespace fs = std::filesystem;

namespace {

struct Api {
    decltype(&FCICreate) fciCreate;
    decltype(&FCIAddFile) fciAddFile;
    decltype(&FCIFlushCabinet) fciFlushCabinet;
    decltype(&FCIDestroy) fciDestroy;
    decltype(&FDICreate) fdiCreate;
    decltype(&FDICopy) fdiCopy;
    decltype(&FDIDestroy) fdiDestroy;
};

int PosixFlags(int oflag) {
    int flags = (oflag & 3) == 2 ? O_RDWR : (oflag & 3) == 1 ? O_WRONLY : O_RDONLY;
    if (oflag & 0x0100)
        flags |= O_CREAT;
    if (oflag & 0x0200)
        flags |= O_TRUNC;
    if (oflag & 0x0400)
        flags |= O_EXCL;
    return flags;
}

void* Alloc(ULONG cb) {
    return std::malloc(cb);
}
void Free(void* p) {
    std::free(p);
}
INT_PTR FciOpen(char* name, int oflag, int, int* err, void*) {
    int fd = ::open(name, PosixFlags(oflag), 0600);
    if (fd < 0)
        *err = errno;
    return fd;
}
UINT FciRead(INT_PTR hf, void* p, UINT cb, int*, void*) {
    return static_cast<UINT>(::read(static_cast<int>(hf), p, cb));
}
UINT FciWrite(INT_PTR hf, void* p, UINT cb, int*, void*) {
    return static_cast<UINT>(::write(static_cast<int>(hf), p, cb));
}
int FciClose(INT_PTR hf, int*, void*) {
    return ::close(static_cast<int>(hf));
}
long FciSeek(INT_PTR hf, long d, int t, int*, void*) {
    return static_cast<long>(::lseek(static_cast<int>(hf), d, t));
}
int FciDelete(char* name, int*, void*) {
    return ::remove(name);
}
BOOL FciTemp(char* name, int size, void*) {
    static int n = 0;
    std::string s = (fs::temp_directory_path() /
                     ("cabbench-" + std::to_string(getpid()) + "-" + std::to_string(++n)))
                        .string();
    if (static_cast<int>(s.size()) >= size)
        return FALSE;
    std::strcpy(name, s.c_str());
    return TRUE;
}
int FciPlaced(PCCAB, char*, long, BOOL, void*) {
    return 0;
}
long FciStatus(UINT, ULONG, ULONG cb2, void*) {
    return static_cast<long>(cb2);
}
BOOL FciNext(PCCAB, ULONG, void*) {
    return TRUE;
}
INT_PTR FciOpenInfo(char* name, USHORT* date, USHORT* time, USHORT* attribs, int* err, void* pv) {
    struct stat st {};
    if (::stat(name, &st) != 0)
        return -1;
    struct tm t {};
    localtime_r(&st.st_mtime, &t);
    *date = static_cast<USHORT>(((t.tm_year - 80) << 9) | ((t.tm_mon + 1) << 5) | t.tm_mday);
    *time = static_cast<USHORT>((t.tm_hour << 11) | (t.tm_min << 5) | (t.tm_sec / 2));
    *attribs = 0x20;
    return FciOpen(name, 0, 0, err, pv);
}

INT_PTR FdiOpen(char* name, int oflag, int) {
    return ::open(name, PosixFlags(oflag), 0600);
}
UINT FdiRead(INT_PTR hf, void* p, UINT cb) {
    return static_cast<UINT>(::read(static_cast<int>(hf), p, cb));
}
UINT FdiWrite(INT_PTR hf, void* p, UINT cb) {
    return static_cast<UINT>(::write(static_cast<int>(hf), p, cb));
}
int FdiClose(INT_PTR hf) {
    return ::close(static_cast<int>(hf));
}
long FdiSeek(INT_PTR hf, long d, int t) {
    return static_cast<long>(::lseek(static_cast<int>(hf), d, t));
}
INT_PTR FdiNotify(FDINOTIFICATIONTYPE type, PFDINOTIFICATION note) {
    const auto* dir = static_cast<const std::string*>(note->pv);
    if (type == fdintCOPY_FILE)
        return ::open((*dir + "/" + note->psz1).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (type == fdintCLOSE_FILE_INFO) {
        ::close(static_cast<int>(note->hf));
        return TRUE;
    }
    return 0;
}

double Seconds(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double TimeCommand(const std::string& command) {
    auto start = std::chrono::steady_clock::now();
    if (std::system((command + " > /dev/null 2>&1").c_str()) != 0)
        std::fprintf(stderr, "failed: %s\n", command.c_str());
    return Seconds(start);
}

// The data set: a third text, a third Windows executables, a third data
// that does not compress, in files of 64 KiB to 4 MiB.
std::vector<std::string> MakeDataSet(const fs::path& dir, uint64_t total) {
    std::vector<std::string> names;
    std::mt19937 rng(2024);
    std::string text;
    for (const char* root : {"/usr/include", "/usr/share/common-licenses"}) {
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(root, ec);
             it != fs::recursive_directory_iterator() && text.size() < (8u << 20);
             it.increment(ec)) {
            if (ec || !it->is_regular_file(ec))
                continue;
            std::ifstream in(it->path(), std::ios::binary);
            text.append(std::istreambuf_iterator<char>(in), {});
        }
    }
    std::vector<fs::path> executables;
    for (const char* root : {"/usr/lib/x86_64-linux-gnu/wine/x86_64-windows",
                             "/usr/lib/i386-linux-gnu/wine/i386-windows", "/usr/lib/wine"}) {
        std::error_code ec;
        for (auto it = fs::directory_iterator(root, ec); !ec && it != fs::directory_iterator();
             it.increment(ec))
            if (it->path().extension() == ".dll" && it->file_size(ec) > 65536)
                executables.push_back(it->path());
    }
    uint64_t written = 0;
    size_t exeIndex = 0, textOffset = 0;
    for (int i = 0; written < total; ++i) {
        uint64_t size = std::min<uint64_t>(65536 + rng() % (4 << 20), total - written);
        std::string name = "f" + std::to_string(i);
        std::ofstream out(dir / name, std::ios::binary);
        int kind = i % 3;
        if (kind == 1 && !executables.empty()) {
            const fs::path& exe = executables[exeIndex++ % executables.size()];
            std::ifstream in(exe, std::ios::binary);
            std::string bytes((std::istreambuf_iterator<char>(in)), {});
            size = std::min<uint64_t>(size, bytes.size());
            out.write(bytes.data(), static_cast<std::streamsize>(size));
            name += ".dll";
        } else if (kind == 0 && !text.empty()) {
            for (uint64_t left = size; left > 0;) {
                uint64_t n = std::min<uint64_t>(left, text.size() - textOffset);
                out.write(text.data() + textOffset, static_cast<std::streamsize>(n));
                left -= n;
                textOffset = (textOffset + n) % text.size();
            }
            name += ".txt";
        } else {
            std::string bytes(size, '\0');
            for (auto& c : bytes)
                c = static_cast<char>(rng());
            out.write(bytes.data(), static_cast<std::streamsize>(size));
            name += ".bin";
        }
        out.close();
        fs::rename(dir / ("f" + std::to_string(i)), dir / name);
        names.push_back(name);
        written += size;
    }
    return names;
}

Api LoadApi() {
    void* module = dlopen(CABINET_MODULE_PATH, RTLD_NOW);
    if (!module) {
        std::fprintf(stderr, "cannot load %s\n", CABINET_MODULE_PATH);
        std::exit(1);
    }
    return Api{reinterpret_cast<decltype(Api::fciCreate)>(dlsym(module, "FCICreate")),
               reinterpret_cast<decltype(Api::fciAddFile)>(dlsym(module, "FCIAddFile")),
               reinterpret_cast<decltype(Api::fciFlushCabinet)>(dlsym(module, "FCIFlushCabinet")),
               reinterpret_cast<decltype(Api::fciDestroy)>(dlsym(module, "FCIDestroy")),
               reinterpret_cast<decltype(Api::fdiCreate)>(dlsym(module, "FDICreate")),
               reinterpret_cast<decltype(Api::fdiCopy)>(dlsym(module, "FDICopy")),
               reinterpret_cast<decltype(Api::fdiDestroy)>(dlsym(module, "FDIDestroy"))};
}

// --compress CABINET DIR NAME...: one cabinet of the named files of DIR.
int Compress(int argc, char** argv) {
    Api api = LoadApi();
    ERF erf{};
    CCAB ccab{};
    ccab.cb = 0x7FFFFFFF;
    ccab.cbFolderThresh = 0x7FFFFFFF;
    ccab.setID = 1;
    std::snprintf(ccab.szCabPath, sizeof ccab.szCabPath, "%s", argv[2]);
    HFCI fci = api.fciCreate(&erf, FciPlaced, Alloc, Free, FciOpen, FciRead, FciWrite, FciClose,
                             FciSeek, FciDelete, FciTemp, &ccab, nullptr);
    bool ok = fci != nullptr;
    for (int i = 4; i < argc && ok; ++i) {
        std::string path = std::string(argv[3]) + "/" + argv[i];
        ok = api.fciAddFile(fci, path.data(), argv[i], FALSE, FciNext, FciStatus, FciOpenInfo,
                            tcompTYPE_MSZIP);
    }
    ok = ok && api.fciFlushCabinet(fci, FALSE, FciNext, FciStatus);
    if (fci)
        api.fciDestroy(fci);
    if (!ok)
        std::fprintf(stderr, "compression failed: %d\n", erf.erfOper);
    return ok ? 0 : 1;
}

// --extract CABINET DIR: every file of the cabinet into DIR.
int Extract(char** argv) {
    Api api = LoadApi();
    ERF erf{};
    fs::path cabinet = argv[2];
    HFDI fdi =
        api.fdiCreate(Alloc, Free, FdiOpen, FdiRead, FdiWrite, FdiClose, FdiSeek, cpu80386, &erf);
    std::string dirArg = cabinet.parent_path().string() + "/",
                cabArg = cabinet.filename().string(), target = argv[3];
    bool ok = fdi && api.fdiCopy(fdi, cabArg.data(), dirArg.data(), 0, FdiNotify, nullptr, &target);
    if (fdi)
        api.fdiDestroy(fdi);
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::strcmp(argv[1], "--compress") == 0)
        return Compress(argc, argv);
    if (argc == 4 && std::strcmp(argv[1], "--extract") == 0)
        return Extract(argv);
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    const char* mbText = std::getenv("QLTMSI_BENCH_CABINET_MB");
    uint64_t megabytes = mbText ? std::strtoull(mbText, nullptr, 10) : 200;
    std::string pattern = (fs::temp_directory_path() / "cabbench-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        return 1;
    fs::path root = pattern;
    fs::path data = root / "data";
    fs::create_directories(data);
    std::vector<std::string> names = MakeDataSet(data, megabytes << 20);
    std::string list;
    for (const auto& n : names)
        list += " " + n;
    TimeCommand("cat " + (data / "*").string());  // warm the page cache for both sides
    const int rounds = bench::Rounds(3);
    const double mib = static_cast<double>(megabytes);
    std::printf("data set: %llu MiB in %zu files (text, Windows executables, random)\n",
                static_cast<unsigned long long>(megabytes), names.size());

    // Compression, each side writing its own cabinet anew every round.
    fs::path ours = root / "ours.cab", theirs = root / "gcab.cab";
    auto compressed = bench::RunPaired(
        rounds, [] {},
        [&] {
            return bench::TimeShell(self + " --compress " + ours.string() + " " + data.string() +
                                    list);
        },
        [&] {
            return bench::TimeShell("cd " + data.string() + " && gcab -c -z " + theirs.string() +
                                    list + " > /dev/null");
        });
    bench::Print("create a cabinet:", "gcab -c -z", compressed);
    auto oursSize = static_cast<double>(fs::file_size(ours));
    auto gcabSize = static_cast<double>(fs::file_size(theirs));
    std::printf("  cabinet %.0f bytes, gcab's %.0f bytes: %+.3f%%; %.0f MiB/s against %.0f MiB/s\n",
                oursSize, gcabSize, 100.0 * (oursSize / gcabSize - 1.0),
                mib / compressed.oursMedian(), mib / compressed.peerMedian());

    // Extraction of our cabinet by each reader, into a fresh folder each time.
    fs::path outOurs = root / "x-module", outPeer = root / "x-peer";
    auto freshFolder = [](const fs::path& dir) {
        fs::remove_all(dir);
        fs::create_directories(dir);
        std::system("sync");
    };
    auto oursExtract = [&] {
        freshFolder(outOurs);
        return bench::TimeShell(self + " --extract " + ours.string() + " " + outOurs.string());
    };
    auto gcabExtract = bench::RunPaired(rounds, [] {}, oursExtract, [&] {
        freshFolder(outPeer);
        return bench::TimeShell("gcab -x -C " + outPeer.string() + " " + ours.string() +
                                " > /dev/null");
    });
    bench::Print("extract into a fresh folder:", "gcab -x", gcabExtract);
    auto cabextractExtract = bench::RunPaired(rounds, [] {}, oursExtract, [&] {
        freshFolder(outPeer);
        return bench::TimeShell("cabextract -q -d " + outPeer.string() + " " + ours.string());
    });
    bench::Print("extract into a fresh folder:", "cabextract", cabextractExtract);
    bool same =
        std::system(
            ("diff -r " + data.string() + " " + outOurs.string() + " > /dev/null").c_str()) == 0;
    std::printf("  module output matches the data set: %s\n", same ? "yes" : "NO");
    fs::remove_all(root);
    return same && !compressed.failed ? 0 : 1;
}
