// libFuzzer target: any bytes opened as a package must give an Installer
// error code or a database whose tables, schema, summary information and
// streams can all be read, without a crash, a hang or a read outside the file.
#include <cstdint>
#include <string>

#include "msi/database.h"
#include "msi/idt.h"
#include "msi/view.h"
#include "scratch.h"

using namespace winsys::msi;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = fuzz::scratchPath("input.msi");
    if (!fuzz::writeScratch(path, data, size)) return 0;
    std::shared_ptr<Database> db;
    if (Database::open(path, OpenMode::ReadOnly, &db) == 0) {
        std::u16string text;
        for (const auto& name : db->tableNames()) exportTable(*db, name, &text);
        for (auto special : {u"_SummaryInformation", u"_ForceCodepage", u"_Tables", u"_Columns"})
            exportTable(*db, special, &text);
        std::unique_ptr<View> view;
        if (View::open(db, u"SELECT * FROM `_Streams`", &view) == 0 && view->execute(nullptr) == 0) {
            std::unique_ptr<Record> rec;
            int budget = 64;
            while (budget-- > 0 && view->fetch(&rec) == 0) {
                const Field& data = rec->fields[2];
                if (data.kind != Field::Kind::Stream) continue;
                uint8_t buffer[4096];
                size_t done = 0;
                data.stream->readAt(0, buffer, sizeof buffer, &done);
            }
        }
    }
    return 0;
}
