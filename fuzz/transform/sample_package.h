// The package the transform target applies its inputs to, shared with the
// program that writes the target's seeds, so that the seeds are transforms
// of this very package: Property, a table with a binary column, and a
// stream.
#pragma once

#include <string>

#include "msi/column_type.h"
#include "msi/database.h"

namespace fuzz {

inline bool makeSamplePackage(const std::string& path) {
    using namespace winsys::msi;
    std::shared_ptr<Database> db;
    if (Database::open(path, OpenMode::Create, &db))
        return false;
    Table property;
    property.name = u"Property";
    property.columns = {{u"Property", 0x2D48}, {u"Value", 0x0F00}};
    property.keyColumns = {0};
    Table binary;
    binary.name = u"Binary";
    binary.columns = {{u"Name", 0x2D48}, {u"Data", 0x0900}, {u"Size", 0x1104}};
    binary.keyColumns = {0};
    if (db->createTable(property) || db->createTable(binary))
        return false;
    Table* p = db->table(u"Property");
    Table* b = db->table(u"Binary");
    Cells row{db->pool.intern(u"blob"), 1, encodeLong(4)};
    return !db->insertRow(*p, {db->pool.intern(u"ProductCode"), db->pool.intern(u"{X}")}, false) &&
           !db->insertRow(*p, {db->pool.intern(u"A"), db->pool.intern(u"1")}, false) &&
           !db->insertRow(*b, row, false) &&
           !db->writeStream(db->objectStreamName(*b, row),
                            winsys::cfb::bytesSource({1, 2, 3, 4})) &&
           !db->writeStream(u"cab", winsys::cfb::bytesSource({9, 9, 9})) && !db->commit();
}

}  // namespace fuzz
