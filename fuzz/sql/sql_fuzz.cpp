// libFuzzer target: any text given as a query is refused with an Installer
// error code or parsed and run against a small package (every statement
// kind: selects with joins and conditions, inserts, updates, deletes, table
// changes), without a crash, a hang or a leak. The input's bytes are the
// query's characters, so that the dictionary's keywords take one step.
#include <cstdint>
#include <string>

#include "msi/database.h"
#include "msi/sql.h"
#include "msi/view.h"
#include "scratch.h"

using namespace winsys::msi;

namespace {

std::string g_package;

void run(const std::shared_ptr<Database>& db, std::u16string_view text) {
    std::unique_ptr<View> view;
    if (View::open(db, text, &view) != 0)
        return;
    // Parameters of each kind, so that markers meet integers, text and null.
    unsigned markers = 0;
    sql::parse(text, &markers);
    Record parameters(markers < 16 ? markers : 16);
    for (unsigned i = 1; i <= parameters.count(); ++i) {
        Field& field = parameters.fields[i];
        if (i % 3 == 1) {
            field.kind = Field::Kind::Integer;
            field.integer = int32_t(i) - 2;
        } else if (i % 3 == 2) {
            field.kind = Field::Kind::String;
            field.text = u"A";
        }
    }
    if (view->execute(&parameters) != 0)
        return;
    std::unique_ptr<Record> row;
    for (int budget = 256; budget > 0 && view->fetch(&row) == 0; --budget) {
    }
}

// Property and a table of every column kind, with rows that joins and
// conditions can match.
std::string makePackage() {
    std::string path = fuzz::scratchPath("sql.msi");
    std::shared_ptr<Database> db;
    if (Database::open(path, OpenMode::Create, &db))
        std::abort();
    for (const char16_t* query : {
             u"CREATE TABLE `Property` (`Property` CHAR(72) NOT NULL, `Value` LONGCHAR "
             u"NOT NULL LOCALIZABLE PRIMARY KEY `Property`)",
             u"CREATE TABLE `File` (`File` CHAR(72) NOT NULL, `Component_` CHAR(72) NOT NULL, "
             u"`FileSize` LONG NOT NULL, `Attributes` SHORT, `Sequence` LONG NOT NULL, "
             u"`Data` OBJECT PRIMARY KEY `File`)",
             u"INSERT INTO `Property` (`Property`, `Value`) VALUES ('ProductCode', '{X}')",
             u"INSERT INTO `Property` (`Property`, `Value`) VALUES ('A', '1')",
             u"INSERT INTO `File` (`File`, `Component_`, `FileSize`, `Attributes`, `Sequence`) "
             u"VALUES ('A', 'ProductCode', 10, 512, 1)",
             u"INSERT INTO `File` (`File`, `Component_`, `FileSize`, `Sequence`) "
             u"VALUES ('b', 'A', -3, 2)",
         }) {
        std::unique_ptr<View> view;
        if (View::open(db, query, &view) || view->execute(nullptr))
            std::abort();
    }
    if (db->commit())
        std::abort();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_package = makePackage();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096)
        return 0;  // longer queries add nothing but time
    std::u16string text(data, data + size);
    std::shared_ptr<Database> db;
    if (Database::open(g_package, OpenMode::Transact, &db))
        return 0;
    run(db, text);
    return 0;  // never committed: the package stays as it was
}
