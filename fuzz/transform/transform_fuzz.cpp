// libFuzzer target: any bytes applied as a transform to a package give an
// Installer error code (the package unchanged) or success, without a crash, a
// hang or a read outside the file. The package is built once, before the
// first input, so that neither its cost nor its coverage counts per input.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "msi/database.h"
#include "sample_package.h"
#include "scratch.h"
#include "transform/transform.h"

using namespace winsys::msi;

namespace {

std::string g_package;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_package = fuzz::scratchPath("package.msi");
    if (!fuzz::makeSamplePackage(g_package))
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string transform = fuzz::scratchPath("input.mst");
    if (!fuzz::writeScratch(transform, data, size)) return 0;
    std::shared_ptr<Database> db;
    if (Database::open(g_package, OpenMode::Transact, &db)) return 0;
    for (int conditions : {0, 0x3F}) {
        if (winsys::transform::applyTransform(*db, transform, conditions) == 0) {
            // Whatever was applied must read back.
            for (const auto& name : db->tableNames()) db->table(name);
            for (const auto& name : db->streamNames())
                if (auto s = db->readStream(name)) (void)s->size();
        }
    }
    return 0;  // never committed: the package stays as it was
}
