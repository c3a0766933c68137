// Writes the transform target's seeds: transforms of the sample package, one
// per kind of change a transform carries (rows added, changed and deleted,
// a table added and dropped, streams written), into the folder named.
#include <cstdio>
#include <filesystem>
#include <string>

#include "msi/database.h"
#include "msi/view.h"
#include "sample_package.h"
#include "transform/transform.h"

using namespace winsys::msi;

namespace {

bool run(const std::shared_ptr<Database>& db, const char16_t* query) {
    std::unique_ptr<View> view;
    return View::open(db, query, &view) == 0 && view->execute(nullptr) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: transform_fuzz_seeds DIR\n", stderr);
        return 2;
    }
    std::string out = argv[1];
    std::string reference = out + "/.reference.msi", changed = out + "/.changed.msi";
    if (!fuzz::makeSamplePackage(reference))
        return 1;
    struct Seed {
        const char* name;
        std::initializer_list<const char16_t*> queries;
    };
    const Seed seeds[] = {
        {"insert", {u"INSERT INTO `Property` (`Property`, `Value`) VALUES ('B', 'two')"}},
        {"update", {u"UPDATE `Property` SET `Value` = '2' WHERE `Property` = 'A'"}},
        {"delete", {u"DELETE FROM `Property` WHERE `Property` = 'A'"}},
        {"table",
         {u"CREATE TABLE `T` (`K` SHORT NOT NULL, `V` CHAR(8) PRIMARY KEY `K`)",
          u"INSERT INTO `T` (`K`, `V`) VALUES (1, 'x')"}},
        {"drop", {u"DROP TABLE `Binary`"}},
        {"binary", {u"UPDATE `Binary` SET `Size` = 8 WHERE `Name` = 'blob'"}},
        {"stream", {}},
    };
    int failures = 0;
    for (const auto& seed : seeds) {
        std::error_code error;
        std::filesystem::copy_file(reference, changed,
                                   std::filesystem::copy_options::overwrite_existing, error);
        std::shared_ptr<Database> from, to;
        bool ok = !error && Database::open(reference, OpenMode::ReadOnly, &from) == 0 &&
                  Database::open(changed, OpenMode::Transact, &to) == 0;
        for (const char16_t* query : seed.queries)
            ok = ok && run(to, query);
        if (ok && seed.queries.size() == 0)
            ok = to->writeStream(u"cab", winsys::cfb::bytesSource({7, 7})) == 0;
        std::string path = out + "/" + seed.name + ".mst";
        if (!ok || winsys::transform::generateTransform(*to, *from, &path) != 0) {
            std::fprintf(stderr, "transform_fuzz_seeds: cannot write %s\n", path.c_str());
            ++failures;
        }
    }
    std::filesystem::remove(reference);
    std::filesystem::remove(changed);
    return failures ? 1 : 0;
}
