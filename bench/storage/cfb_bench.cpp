// Compound-file speed against plain file copies measured in the same run:
// reading every stream of a 20,000-stream file (and of one twice that size,
// to show the cost grows linearly), committing a change to a large file, and
// compacting a large file through StgOpenStorage / StgCreateDocfile / CopyTo.
// Usage: cfb_bench [scratch directory] [megabytes of the large file]
#include "storage/compound_file.h"

#include <ole2.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

using namespace winsys::cfb;

namespace {

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

std::vector<uint8_t> filler(size_t size, uint32_t seed) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = uint8_t((i * 131 + seed * 7) >> 3);
    return bytes;
}

void check(HRESULT hr, const char* what) {
    if (FAILED(hr)) {
        std::fprintf(stderr, "%s failed: 0x%08x\n", what, unsigned(hr));
        std::exit(1);
    }
}

// A plain copy as CopyFileW makes it: read, write beside, flush, rename.
double copySeconds(const std::string& from, const std::string& to) {
    auto start = std::chrono::steady_clock::now();
    int in = open(from.c_str(), O_RDONLY);
    std::string temp = to + ".part";
    int out = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char> buffer(1 << 20);
    ssize_t n;
    while ((n = read(in, buffer.data(), buffer.size())) > 0)
        if (write(out, buffer.data(), size_t(n)) != n) std::exit(1);
    fsync(out);
    close(out);
    close(in);
    rename(temp.c_str(), to.c_str());
    return seconds(start);
}

std::string makeManyStreams(const std::string& path, int count) {
    std::unique_ptr<CompoundFile> file;
    check(CompoundFile::create(path, Version::V3, false, 0, &file), "create");
    for (int i = 0; i < count; ++i) {
        char16_t name[16];
        for (int k = 0; k < 6; ++k) name[k] = char16_t(0x3800 + ((i >> (3 * k)) & 7) + 64 * k);
        name[6] = 0;
        // Most streams small (mini stream), every tenth a few kilobytes.
        size_t size = i % 10 == 0 ? 5000 + size_t(i % 3000) : 400 + size_t(i % 1200);
        check(file->writeStream(kRootEntry, name, filler(size, uint32_t(i))), "write");
    }
    check(file->commit(), "commit");
    return path;
}

double readAllSeconds(const std::string& path, uint64_t* bytes) {
    auto start = std::chrono::steady_clock::now();
    std::unique_ptr<CompoundFile> file;
    check(CompoundFile::open(path, {}, &file), "open");
    std::vector<EntryInfo> kids;
    check(file->children(kRootEntry, &kids), "children");
    std::vector<uint8_t> data;
    *bytes = 0;
    for (const auto& kid : kids) {
        check(file->readStream(kid.id, &data), "read");
        *bytes += data.size();
    }
    return seconds(start);
}

std::u16string windowsPath(const std::string& native) {
    std::u16string out = u"Z:";
    for (char c : native) out.push_back(c == '/' ? u'\\' : char16_t(c));
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    std::string dir = std::filesystem::absolute(argc > 1 ? argv[1] : "/tmp").string();
    int megabytes = argc > 2 ? std::atoi(argv[2]) : 100;
    dir += "/cfb_bench." + std::to_string(getpid());
    std::filesystem::create_directories(dir);
    if (!getenv("QLTMSI_PREFIX")) setenv("QLTMSI_PREFIX", (dir + "/prefix").c_str(), 1);

    // Reading: 20,000 and 40,000 streams.
    for (int count : {20000, 40000}) {
        std::string path = makeManyStreams(dir + "/many" + std::to_string(count) + ".cfb", count);
        uint64_t bytes = 0;
        readAllSeconds(path, &bytes);  // warm the page cache for both runs alike
        double read = readAllSeconds(path, &bytes);
        double copy = copySeconds(path, dir + "/copy.bin");
        std::printf("read %d streams (%.1f MB): %.3f s; file copy %.3f s; ratio %.2f\n", count, bytes / 1e6, read,
                    copy, read / copy);
    }

    // A large file: a few big streams and many small ones.
    std::string big = dir + "/big.cfb";
    {
        std::unique_ptr<CompoundFile> file;
        check(CompoundFile::create(big, Version::V3, false, 0, &file), "create");
        for (int i = 0; i < megabytes / 10; ++i)
            check(file->writeStream(kRootEntry, u"big" + std::u16string(1, char16_t(u'A' + i)), filler(10 << 20, i)),
                  "write");
        for (int i = 0; i < 2000; ++i)
            check(file->writeStream(kRootEntry, u"s" + std::u16string(1, char16_t(0x3800 + i)), filler(900, i)), "write");
        check(file->commit(), "commit");
    }
    double copy = copySeconds(big, dir + "/copy.bin");
    {
        std::unique_ptr<CompoundFile> file;
        auto start = std::chrono::steady_clock::now();
        check(CompoundFile::open(big, {Access::ReadWrite, 0}, &file), "open");
        check(file->writeStream(kRootEntry, u"changed", filler(3000, 1)), "write");
        check(file->commit(), "commit");
        double commit = seconds(start);
        std::printf("commit of a change to a %.0f MB file: %.3f s; file copy %.3f s; ratio %.2f\n",
                    std::filesystem::file_size(big) / 1e6, commit, copy, commit / copy);
    }
    {
        auto start = std::chrono::steady_clock::now();
        IStorage* from = nullptr;
        IStorage* to = nullptr;
        check(StgOpenStorage(windowsPath(big).c_str(), nullptr, 0x20, nullptr, 0, &from), "StgOpenStorage");
        check(StgCreateDocfile(windowsPath(dir + "/compact.cfb").c_str(), 0x1011, 0, &to), "StgCreateDocfile");
        check(from->CopyTo(0, nullptr, nullptr, to), "CopyTo");
        to->Release();
        from->Release();
        double compact = seconds(start);
        std::printf("compaction (open, create, CopyTo, release) of that file: %.3f s; file copy %.3f s; ratio %.2f\n",
                    compact, copy, compact / copy);
    }
    std::filesystem::remove_all(dir);
    return 0;
}
