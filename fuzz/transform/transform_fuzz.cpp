// libFuzzer target: any bytes applied as a transform to a package give an
// Installer error code (the package unchanged) or success, without a crash, a
// hang or a read outside the file. The package is built once in memory terms:
// a table with string, integer and binary columns, and a stream.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "msi/column_type.h"
#include "msi/database.h"
#include "transform/transform.h"

using namespace winsys::msi;

namespace {

std::string scratch(const char* suffix) {
    const char* dir = getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/transform_fuzz." + std::to_string(getpid()) + suffix;
}

// A package with Property, a binary table and a stream.
std::string makePackage() {
    std::string path = scratch(".msi");
    std::shared_ptr<Database> db;
    if (Database::open(path, OpenMode::Create, &db)) return path;
    Table property;
    property.name = u"Property";
    property.columns = {{u"Property", 0x2D48}, {u"Value", 0x0F00}};
    property.keyColumns = {0};
    db->createTable(property);
    Table binary;
    binary.name = u"Binary";
    binary.columns = {{u"Name", 0x2D48}, {u"Data", 0x0900}, {u"Size", 0x1104}};
    binary.keyColumns = {0};
    db->createTable(binary);
    Table* p = db->table(u"Property");
    db->insertRow(*p, {db->pool.intern(u"ProductCode"), db->pool.intern(u"{X}")}, false);
    db->insertRow(*p, {db->pool.intern(u"A"), db->pool.intern(u"1")}, false);
    Table* b = db->table(u"Binary");
    Cells row{db->pool.intern(u"blob"), 1, encodeLong(4)};
    db->insertRow(*b, row, false);
    db->writeStream(db->objectStreamName(*b, row), winsys::cfb::bytesSource({1, 2, 3, 4}));
    db->writeStream(u"cab", winsys::cfb::bytesSource({9, 9, 9}));
    db->commit();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string package = makePackage();
    static const std::string transform = scratch(".mst");
    FILE* f = std::fopen(transform.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    std::shared_ptr<Database> db;
    if (Database::open(package, OpenMode::Transact, &db)) return 0;
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
