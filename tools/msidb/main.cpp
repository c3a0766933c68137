// qltmsi-db: shows what is inside a Windows Installer package, through the
// winsys database engine, in the forms msitools prints (idt text for tables).
//
//   qltmsi-db dump PACKAGE [TABLE...]   tables as idt text (all when none named)
//   qltmsi-db tables PACKAGE            table names
//   qltmsi-db streams PACKAGE           stream names
//   qltmsi-db extract PACKAGE STREAM    a stream's bytes on standard output
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "msi/codepage.h"
#include "msi/database.h"
#include "msi/idt.h"
#include "package_dump.h"

using namespace winsys::msi;

namespace {

int usage(FILE* to) {
    std::fputs("usage: qltmsi-db dump PACKAGE [TABLE...]\n"
               "       qltmsi-db tables PACKAGE\n"
               "       qltmsi-db streams PACKAGE\n"
               "       qltmsi-db extract PACKAGE STREAM\n",
               to);
    return to == stdout ? 0 : 2;
}

std::string utf8(std::u16string_view s) { return encodeCodepage(kCodepageUtf8, s).value_or(std::string()); }
std::u16string utf16(std::string_view s) { return decodeCodepage(kCodepageUtf8, s); }

void write(const std::string& s) { std::fwrite(s.data(), 1, s.size(), stdout); }

std::vector<std::u16string> allTables(const Database& db) {
    std::vector<std::u16string> names{u"_SummaryInformation", u"_ForceCodepage"};
    for (auto& n : db.tableNames()) names.push_back(n);
    return names;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h"))) return usage(stdout);
    if (argc < 3) return usage(stderr);
    std::string command = argv[1];
    std::shared_ptr<Database> db;
    if (UINT r = Database::open(argv[2], OpenMode::ReadOnly, &db)) {
        std::fprintf(stderr, "qltmsi-db: cannot open %s (error %u)\n", argv[2], r);
        return 1;
    }
    if (command == "dump") {
        std::vector<std::string> tables(argv + 3, argv + argc);
        return qltmsi::dump::dumpPackage("qltmsi-db", argv[2], tables, stdout, stderr);
    }
    if (command == "tables" && argc == 3) {
        for (const auto& t : allTables(*db)) write(utf8(t) + "\n");
        return 0;
    }
    if (command == "streams" && argc == 3) {
        for (const auto& s : db->streamNames()) write(utf8(s) + "\n");
        return 0;
    }
    if (command == "extract" && argc == 4) {
        std::u16string name = utf16(argv[3]);
        auto source = db->readStream(name);
        if (!source && name == u"SummaryInformation") source = db->readStream(kSummaryStream);
        if (!source) {
            std::fprintf(stderr, "qltmsi-db: no stream %s\n", argv[3]);
            return 1;
        }
        std::vector<char> buffer(1 << 16);
        uint64_t offset = 0;
        while (true) {
            size_t done = 0;
            if (FAILED(source->readAt(offset, buffer.data(), buffer.size(), &done))) return 1;
            if (done == 0) break;
            std::fwrite(buffer.data(), 1, done, stdout);
            offset += done;
        }
        return 0;
    }
    return usage(stderr);
}
