// libFuzzer target: any bytes imported as an idt file (the text form of a
// table, of the summary information or of a forced code page) are refused
// with an Installer error code or give tables that export again, without a
// crash, a hang or a leak. The bytes are decoded as the import decodes a
// file of a package without a code page (UTF-8). The package starts with a
// table that the text may add rows to, and an object file the text may name.
#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "msi/codepage.h"
#include "msi/database.h"
#include "msi/idt.h"
#include "msi/view.h"
#include "scratch.h"

using namespace winsys::msi;

namespace {

std::string g_package;

std::string makePackage() {
    // <folder>/Binary/blob is what an OBJECT cell "blob" of table Binary reads.
    std::string binaries = fuzz::scratchFolder() + "/Binary";
    if (mkdir(binaries.c_str(), 0700) != 0 ||
        !fuzz::writeScratch(binaries + "/blob", reinterpret_cast<const uint8_t*>("MZ\0\1"), 4))
        std::abort();
    std::string path = fuzz::scratchPath("idt.msi");
    std::shared_ptr<Database> db;
    if (Database::open(path, OpenMode::Create, &db))
        std::abort();
    std::unique_ptr<View> view;
    if (View::open(db,
                   u"CREATE TABLE `Property` (`Property` CHAR(72) NOT NULL, `Value` LONGCHAR "
                   u"NOT NULL LOCALIZABLE PRIMARY KEY `Property`)",
                   &view) ||
        view->execute(nullptr) || db->commit())
        std::abort();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_package = makePackage();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 16384)
        return 0;  // longer files add nothing but time
    std::shared_ptr<Database> db;
    if (Database::open(g_package, OpenMode::Transact, &db))
        return 0;
    std::u16string text = decodeCodepage(
        kCodepageUtf8, std::string_view(reinterpret_cast<const char*>(data), size));
    if (importTable(*db, text, fuzz::scratchFolder()) == 0) {
        std::u16string out;
        for (const auto& name : db->tableNames())
            exportTable(*db, name, &out);
        for (auto special : {u"_SummaryInformation", u"_ForceCodepage"})
            exportTable(*db, special, &out);
    }
    return 0;  // never committed: the package stays as it was
}
