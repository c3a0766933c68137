// Transform speed: generate and apply between two packages of N File rows
// (every 7th row changed, every 97th removed, 1.5% added) for N up to 20,000,
// with the time per row at each size to show the growth is linear; beside
// it, the time to copy the reference package (a peer-free yardstick).
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "msi/column_type.h"
#include "msi/database.h"
#include "transform/transform.h"

using namespace winsys::msi;
using Clock = std::chrono::steady_clock;

namespace {

double seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

std::u16string wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

void writePackage(const std::string& path, int rows, bool changed) {
    std::filesystem::remove(path);
    std::shared_ptr<Database> db;
    Database::open(path, OpenMode::Create, &db);
    Table file;
    file.name = u"File";
    file.columns = {{u"File", 0x2D48},     {u"Component_", 0x0D48}, {u"FileName", 0x0FFF}, {u"FileSize", 0x0104},
                    {u"Version", 0x1D48},  {u"Language", 0x1D14},   {u"Attributes", 0x1502}, {u"Sequence", 0x0502}};
    file.keyColumns = {0};
    db->createTable(file);
    Table* t = db->table(u"File");
    int total = changed ? rows + rows * 3 / 200 : rows;
    for (int i = 0; i < total; ++i) {
        if (changed && i < rows && i % 97 == 0) continue;
        bool touched = changed && i % 7 == 0;
        std::string n = std::to_string(i);
        Cells cells{db->pool.intern(wide("file" + n)), db->pool.intern(wide("comp" + std::to_string(i % 500))),
                    db->pool.intern(wide("name" + n + ".dll")), encodeLong(touched ? i * 3 + 1 : i * 3),
                    db->pool.intern(touched ? wide("2.0." + n) : u"1.0"), db->pool.intern(u"1033"), 0,
                    encodeShort(1 + i % 30000)};
        db->insertRow(*t, cells, false);
    }
    db->commit();
}

}  // namespace

int main() {
    std::string dir = "/tmp/transform_bench." + std::to_string(getpid());
    std::filesystem::create_directories(dir);
    std::printf("%8s %12s %12s %14s %14s %12s\n", "rows", "generate s", "apply s", "gen us/row", "apply us/row", "copy s");
    for (int rows : {2500, 5000, 10000, 20000}) {
        std::string ref = dir + "/ref.msi", chg = dir + "/chg.msi", mst = dir + "/t.mst", out = dir + "/out.msi";
        writePackage(ref, rows, false);
        writePackage(chg, rows, true);
        double gen = 1e9, app = 1e9, copy = 1e9;
        for (int round = 0; round < 3; ++round) {
            auto start = Clock::now();
            {
                std::shared_ptr<Database> c, r;
                Database::open(chg, OpenMode::ReadOnly, &c);
                Database::open(ref, OpenMode::ReadOnly, &r);
                if (winsys::transform::generateTransform(*c, *r, &mst)) std::printf("generate failed\n");
            }
            gen = std::min(gen, seconds(start));
            start = Clock::now();
            std::filesystem::copy_file(ref, out, std::filesystem::copy_options::overwrite_existing);
            copy = std::min(copy, seconds(start));
            start = Clock::now();
            {
                std::shared_ptr<Database> db;
                Database::open(out, OpenMode::Transact, &db);
                if (winsys::transform::applyTransform(*db, mst, 0)) std::printf("apply failed\n");
                db->commit();
            }
            app = std::min(app, seconds(start));
        }
        std::printf("%8d %12.4f %12.4f %14.2f %14.2f %12.4f\n", rows, gen, app, gen / rows * 1e6, app / rows * 1e6, copy);
    }
    std::filesystem::remove_all(dir);
    return 0;
}
