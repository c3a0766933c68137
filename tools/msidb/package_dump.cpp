// Tables of a package as idt text, through the winsys database engine.
#include "package_dump.h"

#include "msi/codepage.h"
#include "msi/database.h"
#include "msi/idt.h"

namespace qltmsi::dump {

using namespace winsys::msi;

int dumpPackage(const char* programName, const std::string& packagePath,
                const std::vector<std::string>& tables, FILE* out, FILE* err) {
    std::shared_ptr<Database> db;
    if (UINT r = Database::open(packagePath.c_str(), OpenMode::ReadOnly, &db)) {
        std::fprintf(err, "%s: cannot open %s (error %u)\n", programName, packagePath.c_str(), r);
        return 1;
    }
    std::vector<std::u16string> names;
    for (const auto& t : tables) names.push_back(decodeCodepage(kCodepageUtf8, t));
    if (names.empty()) {
        names = {u"_SummaryInformation", u"_ForceCodepage"};
        for (auto& n : db->tableNames()) names.push_back(n);
    }
    for (const auto& t : names) {
        std::u16string text;
        std::string name = encodeCodepage(kCodepageUtf8, t).value_or(std::string());
        if (UINT r = exportTable(*db, t, &text)) {
            std::fprintf(err, "%s: cannot export %s (error %u)\n", programName, name.c_str(), r);
            return 1;
        }
        std::string utf8 = encodeCodepage(kCodepageUtf8, text).value_or(std::string());
        std::fwrite(utf8.data(), 1, utf8.size(), out);
    }
    return 0;
}

}  // namespace qltmsi::dump
