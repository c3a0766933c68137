// libFuzzer target: any bytes opened as a compound file must give an error
// code or a tree whose streams can be read and written out again, without
// a crash, a hang or a read outside the file.
#include "storage/compound_file.h"

#include <cstdint>
#include <string>
#include <vector>

#include "scratch.h"

using namespace winsys::cfb;

namespace {

void walk(const CompoundFile& file, EntryId storage, int depth, size_t* budget) {
    std::vector<EntryInfo> kids;
    if (depth > 64 || FAILED(file.children(storage, &kids))) return;
    for (const auto& kid : kids) {
        if (*budget == 0) return;
        --*budget;
        if (kid.type == EntryType::Stream) {
            std::shared_ptr<const ByteSource> reader;
            if (FAILED(file.openStream(kid.id, &reader))) continue;
            uint8_t buffer[8192];
            size_t done = 0;
            for (uint64_t at = 0; at < reader->size() && at < (1u << 20); at += done) {
                if (FAILED(reader->readAt(at, buffer, sizeof buffer, &done)) || done == 0) break;
            }
        } else {
            walk(file, kid.id, depth + 1, budget);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string input = fuzz::scratchPath("input.cfb");
    static const std::string output = fuzz::scratchPath("output.cfb");
    if (!fuzz::writeScratch(input, data, size)) return 0;
    std::unique_ptr<CompoundFile> file;
    if (SUCCEEDED(CompoundFile::open(input, {}, &file))) {
        size_t budget = 2000;
        walk(*file, kRootEntry, 0, &budget);
        // Writing it out reads every stream again through the writer; it
        // flushes to disk, so only a sample of the inputs takes that path.
        if (size > 0 && data[size / 2] % 16 == 0 && SUCCEEDED(file->saveAs(output))) {
            std::unique_ptr<CompoundFile> copy;
            CompoundFile::open(output, {}, &copy);
        }
    }
    return 0;
}
