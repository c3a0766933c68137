// Carrying the library's previous cabinet over at the first replacement: from
// the cab cache the package names, or out of the package's own streams into
// a new cab cache beside it. Cabinets come from gcab.
#include "library/update/installed_products.h"
#include "platform/package_lock.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <future>
#include <thread>
#include <set>

namespace update_test {
namespace {

using Table = std::vector<std::vector<std::string>>;

std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

int progressTicks = 0;
void QLTMSI_CALL CountTicks(int code, void* data) {
    if (code == QLTMSI_PROGRESS_TICK && data == nullptr)
        ++progressTicks;
}

std::string StreamBytes(MSIHANDLE database, const std::string& name) {
    MsiHandle parameters(MsiCreateRecord(1));
    MsiRecordSetStringW(parameters.get(), 1, Wide(name).c_str());
    MsiHandle view, row;
    if (OpenExecutedView(database, TEXT("SELECT * FROM `_Streams` WHERE `Name`=?"),
                         parameters.get(), view) != ERROR_SUCCESS ||
        MsiViewFetch(view.get(), row.Receive()) != ERROR_SUCCESS)
        return "<none>";
    std::string bytes;
    char buffer[4096];
    for (DWORD count = sizeof buffer; count == sizeof buffer;) {
        count = sizeof buffer;
        if (MsiRecordReadStream(row.get(), 2, buffer, &count) != ERROR_SUCCESS)
            break;
        bytes.append(buffer, count);
    }
    return bytes;
}

std::string StreamOfPackage(const fs::path& package, const std::string& name) {
    MsiHandle database;
    if (MsiOpenDatabaseW(Wide(WindowsPathOf(package.string())).c_str(), MSIDBOPEN_READONLY,
                         database.Receive()) != ERROR_SUCCESS)
        return "<no package>";
    return StreamBytes(database.get(), name);
}

UINT AddCabinetStream(MSIHANDLE database, const fs::path& cabinet) {
    MsiHandle view;
    UINT status = OpenExecutedView(database, TEXT("SELECT * FROM `_Streams`"), 0, view);
    MsiHandle row(MsiCreateRecord(2));
    MsiRecordSetStringW(row.get(), 1, TEXT("QuilletCab"));
    MsiRecordSetStreamW(row.get(), 2, Wide(WindowsPathOf(cabinet.string())).c_str());
    return status ? status : MsiViewModify(view.get(), MSIMODIFY_INSERT, row.get());
}

class CarryOverTest : public InstalledProductTest {
  protected:
    void SetUp() override {
        InstalledProductTest::SetUp();
        progressTicks = 0;
    }

    // A product of its own, and a cabinet holding File1 and File2 as an
    // earlier commit would have written them.
    void Prepare(const std::string& product) {
        product_ = product;
        ASSERT_TRUE(InstallSmallProduct(product));
        installed_ = LocalPackage(product);
        const fs::path folder = WorkDirectory() / ("cab-" + product.substr(1, 8));
        fs::create_directories(folder);
        winsys_test::writeFile((folder / "File1").string(), "first carried file\n");
        winsys_test::writeFile((folder / "File2").string(), std::string(70000, 'z'));
        cabinet_ = folder / "old.cab";
        ASSERT_EQ(update_test::Run("cd '" + folder.string() + "' && gcab -c -z old.cab File1 File2"), 0);
    }
    // The same, with the cabinet held in the package's own streams.
    void PrepareWithCabinetInPackage(const std::string& product) {
        Prepare(product);
        ASSERT_FALSE(HasFatalFailure());
        ASSERT_EQ(OnPackage(installed_,
                            [&](MSIHANDLE database) {
                                EXPECT_EQ(AddCabinetStream(database, cabinet_), 0u);
                            }),
                  0u);
    }
    DWORD OpenWithProgress() {
        return QLTMsiOpenDatabase(handle_, Wide(product_).c_str(), nullptr, nullptr, nullptr,
                                  CountTicks);
    }
    std::string OnlyFile() const {
        return "C:\\Program Files\\Small " + product_.substr(1, product_.size() - 2) +
               "\\only.txt";
    }
    std::string ReplaceOnlyFile() {
        const fs::path copy = WorkDirectory() / "only v2.txt";
        winsys_test::writeFile(copy.string(), "new\n");
        newCopy_ = WindowsPathOf(copy.string());
        return std::to_string(Update(OnlyFile(), newCopy_, "only.txt"));
    }
    // The work table, with extracted files' contents checked and their
    // folder replaced by "<dir>".
    Table CarriedRows() {
        Table rows = Rows(Database(), "SELECT * FROM `QuilletTempTable`");
        const std::string directory = Narrow(Context().cabinet.extractDirectory.data());
        for (auto& row : rows) {
            if (row[1].rfind(directory, 0) == 0 && !directory.empty()) {
                EXPECT_EQ(winsys_test::readFile(Native(Wide(row[1])).string()),
                          winsys_test::readFile((cabinet_.parent_path() / row[0]).string()));
                row[1] = "<dir>" + row[1].substr(directory.size());
            }
        }
        std::sort(rows.begin(), rows.end());
        return rows;
    }

    // A cab cache holding cabinet_, named by the installed package.
    void PutCabCache(const fs::path& cache) {
        MsiHandle created;
        ASSERT_EQ(MsiOpenDatabaseW(Wide(WindowsPathOf(cache.string())).c_str(),
                                   MSIDBOPEN_CREATEDIRECT, created.Receive()),
                  0u);
        ASSERT_EQ(AddCabinetStream(created.get(), cabinet_), 0u);
        ASSERT_EQ(MsiDatabaseCommit(created.get()), 0u);
        created.Close();
        ASSERT_EQ(OnPackage(installed_,
                            [&](MSIHANDLE database) {
                                EXPECT_EQ(Execute(database,
                                                  "INSERT INTO `Property` (`Property`,`Value`) "
                                                  "VALUES ('QuilletCabCache',?)",
                                                  {WindowsPathOf(cache.string())}),
                                          0u);
                            }),
                  0u);
    }

    std::string product_;
    fs::path installed_;
    fs::path cabinet_;
    std::string newCopy_;
};

TEST_F(CarryOverTest, CabinetOfTheCabCacheIsCarriedOver) {
    Prepare("{6B2E1D4F-8C3A-4F72-AD95-3E4F5A6B7C21}");
    const fs::path cache = installed_.parent_path() / "c021_.msi";
    PutCabCache(cache);
    const std::string cacheBytes = winsys_test::readFile(cache.string());

    ASSERT_EQ(OpenWithProgress(), 0u);
    EXPECT_EQ(ReplaceOnlyFile(), "0");
    EXPECT_EQ(progressTicks, 2);
    EXPECT_EQ(CarriedRows(), (Table{{"File1", "<dir>File1", ""},
                                    {"File2", "<dir>File2", ""},
                                    {"only.txt", newCopy_, "only.txt"}}));
    EXPECT_EQ(winsys_test::readFile(cache.string()), cacheBytes) << "only read";
    EXPECT_EQ(Narrow(Context().cabCachePath.data()), WindowsPathOf(cache.string()));
    ASSERT_TRUE(Context().cabinet.oldCabinetFile.has_value());
    EXPECT_EQ(winsys_test::readFile(Native(*Context().cabinet.oldCabinetFile).string()),
              winsys_test::readFile(cabinet_.string()));

    EXPECT_EQ(QLTMsiClose(handle_), 0u);
    EXPECT_TRUE(TemporaryFiles().empty());
    EXPECT_TRUE(fs::exists(cache));
}

// File keys are case-sensitive, the file systems the files are extracted to
// are not: two keys that differ only in case must not share one file.
TEST_F(CarryOverTest, KeysThatDifferOnlyInCaseKeepFilesOfTheirOwn) {
    Prepare("{6B2E1D4F-8C3A-4F72-AD95-3E4F5A6B7C25}");
    const fs::path folder = cabinet_.parent_path();
    winsys_test::writeFile((folder / "data").string(), "lower case key, longer contents\n");
    winsys_test::writeFile((folder / "DATA").string(), "UPPER\n");
    winsys_test::writeFile((folder / "Data~1").string(), "a name like a variant\n");
    ASSERT_EQ(update_test::Run("cd '" + folder.string() +
                               "' && gcab -c -z old.cab data DATA Data~1 File1"),
              0);
    PutCabCache(installed_.parent_path() / "c025_.msi");
    ASSERT_EQ(OpenWithProgress(), 0u);
    EXPECT_EQ(ReplaceOnlyFile(), "0");
    // CarriedRows compares each extracted file with the one of its key.
    const Table rows = CarriedRows();
    ASSERT_EQ(rows.size(), 5u);
    std::set<std::string> paths;
    for (const auto& row : rows) {
        paths.insert(Lower(row[1]));
    }
    EXPECT_EQ(paths.size(), 5u) << "no two keys share a file, whatever the case";
    EXPECT_EQ(QLTMsiClose(handle_), 0u);
    EXPECT_TRUE(TemporaryFiles().empty());
    fs::remove(installed_.parent_path() / "c025_.msi");
}

TEST_F(CarryOverTest, CabinetInThePackageMovesToANewCabCache) {
    PrepareWithCabinetInPackage("{6B2E1D4F-8C3A-4F72-AD95-3E4F5A6B7C22}");
    ASSERT_FALSE(HasFatalFailure());
    const std::string installedBytes = winsys_test::readFile(installed_.string());
    // What a patch closed without a commit leaves: the first letter's name
    // is taken, so the new cab cache gets the next.
    char digits[32];
    std::snprintf(digits, sizeof digits, "%3d", static_cast<int>(getpid()));
    std::string leftover = "a" + std::string(digits, 3) + "_.msi";
    std::replace(leftover.begin(), leftover.end(), ' ', '_');
    const fs::path taken = installed_.parent_path() / leftover;
    winsys_test::writeFile(taken.string(), "left over");

    ASSERT_EQ(OpenWithProgress(), 0u);
    EXPECT_EQ(ReplaceOnlyFile(), "0");
    EXPECT_EQ(StreamBytes(Database(), "QuilletCab"), "<none>");
    EXPECT_EQ(CarriedRows(), (Table{{"File1", "<dir>File1", ""},
                                    {"File2", "<dir>File2", ""},
                                    {"only.txt", newCopy_, "only.txt"}}));
    const fs::path cache = Native(Context().cabCachePath.data());
    EXPECT_EQ(cache.parent_path(), installed_.parent_path());
    EXPECT_EQ(cache.filename().string(), "b" + leftover.substr(1));
    EXPECT_EQ(winsys_test::readFile(taken.string()), "left over");
    fs::remove(taken);
    EXPECT_EQ(StreamOfPackage(cache, "QuilletCab"), winsys_test::readFile(cabinet_.string()));
    {
        MsiHandle database;
        ASSERT_EQ(MsiOpenDatabaseW(Wide(WindowsPathOf(cache.string())).c_str(),
                                   MSIDBOPEN_READONLY, database.Receive()),
                  0u);
        EXPECT_EQ(Rows(database.get(), "SELECT `Name` FROM `_Streams`"), (Table{{"QuilletCab"}}));
    }
    EXPECT_EQ(winsys_test::readFile(installed_.string()), installedBytes);
    EXPECT_EQ(QLTMsiClose(handle_), 0u);
    EXPECT_TRUE(TemporaryFiles().empty());
    EXPECT_FALSE(fs::exists(cache)) << "a close without a commit keeps a copy nothing names";
}

// A patch killed after its first replacement leaves the cabinet it moved
// out beside the package, which still holds its own; nothing names the
// copy. The next open takes it once no other package of the folder is
// being patched, and keeps a moved-out cab cache of other bytes, or one an
// undo entry names.
TEST_F(CarryOverTest, AMovedOutCabCacheThatNoCommitNamedGoesAtTheNextOpen) {
    PrepareWithCabinetInPackage("{6B2E1D4F-8C3A-4F72-AD95-3E4F5A6B7C26}");
    ASSERT_FALSE(HasFatalFailure());
    const fs::path folder = installed_.parent_path();
    ASSERT_EQ(OpenWithProgress(), 0u);
    EXPECT_EQ(ReplaceOnlyFile(), "0");
    const fs::path moved = Native(Context().cabCachePath.data());
    // The lock is named after the path as the system reports it.
    WideString anotherPath = Context().packagePath.data();
    anotherPath = anotherPath.substr(0, anotherPath.rfind(u'\\') + 1) + u"another.msi";
    // What a kill leaves: the close would have taken it.
    const std::string movedBytes = winsys_test::readFile(moved.string());
    ASSERT_EQ(QLTMsiCloseDatabase(handle_), 0u);
    winsys_test::writeFile(moved.string(), movedBytes);
    // Another moved-out cab cache with a cabinet of its own, and a copy of
    // this one that an undo entry names.
    const fs::path otherBytes = folder / "x777_.msi";
    const fs::path entryNamed = folder / "y777_.msi";
    fs::copy_file(moved, entryNamed);
    const fs::path otherCabinet = WorkDirectory() / "other.cab";
    ASSERT_EQ(update_test::Run("cd '" + cabinet_.parent_path().string() + "' && gcab -c -z '" +
                               otherCabinet.string() + "' File1"),
              0);
    {
        MsiHandle created;
        ASSERT_EQ(MsiOpenDatabaseW(Wide(WindowsPathOf(otherBytes.string())).c_str(),
                                   MSIDBOPEN_CREATEDIRECT, created.Receive()),
                  0u);
        ASSERT_EQ(AddCabinetStream(created.get(), otherCabinet), 0u);
        ASSERT_EQ(MsiDatabaseCommit(created.get()), 0u);
    }
    HKEY entry = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Brambleway\\Quillet\\MsiRegUndo\\7f",
                              0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &entry, nullptr),
              0);
    const WideString entryText = Wide(WindowsPathOf(entryNamed.string()));
    RegSetValueExW(entry, u"QuilletCab", 0, REG_SZ, reinterpret_cast<const BYTE*>(entryText.c_str()),
                   static_cast<DWORD>((entryText.size() + 1) * sizeof(WCHAR)));
    RegCloseKey(entry);

    // While another package of the folder is being patched, nothing goes.
    const fs::path another = folder / "another.msi";
    fs::copy_file(installed_, another);
    std::promise<void> taken, done;
    std::thread holder([&] {
        PackageLock lock(anotherPath.c_str(), 0);
        EXPECT_TRUE(lock.held());
        taken.set_value();
        done.get_future().wait();
    });
    taken.get_future().wait();
    ASSERT_EQ(OpenWithProgress(), 0u);
    ASSERT_EQ(QLTMsiCloseDatabase(handle_), 0u);
    done.set_value();
    holder.join();
    EXPECT_TRUE(fs::exists(moved)) << "taken while another package was held";

    ASSERT_EQ(OpenWithProgress(), 0u);
    ASSERT_EQ(QLTMsiCloseDatabase(handle_), 0u);
    EXPECT_FALSE(fs::exists(moved));
    EXPECT_TRUE(fs::exists(otherBytes));
    EXPECT_TRUE(fs::exists(entryNamed));
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Software\\Brambleway\\Quillet\\MsiRegUndo\\7f");
    for (const fs::path& made : {another, otherBytes, entryNamed})
        fs::remove(made);
}

TEST_F(CarryOverTest, AMissingCabCacheFailsTheFirstReplacement) {
    Prepare("{6B2E1D4F-8C3A-4F72-AD95-3E4F5A6B7C23}");
    ASSERT_EQ(OnPackage(installed_,
                        [&](MSIHANDLE database) {
                            EXPECT_EQ(Execute(database,
                                              "INSERT INTO `Property` (`Property`,`Value`) "
                                              "VALUES ('QuilletCabCache','C:\\gone_.msi')"),
                                      0u);
                        }),
              0u);
    ASSERT_EQ(OpenWithProgress(), 0u);
    EXPECT_EQ(ReplaceOnlyFile(), "4102");
    EXPECT_EQ(LastMessage(), "Error updating file in msi database.");
    EXPECT_EQ(progressTicks, 0);
    EXPECT_EQ(TemporaryFiles().size(), 1u) << "the working copy only";
}

TEST_F(CarryOverTest, NothingToCarryLeavesOnlyTheReplacement) {
    Prepare("{6B2E1D4F-8C3A-4F72-AD95-3E4F5A6B7C24}");
    ASSERT_EQ(OpenWithProgress(), 0u);
    EXPECT_EQ(ReplaceOnlyFile(), "0");
    EXPECT_EQ(progressTicks, 0);
    EXPECT_EQ(CarriedRows(), (Table{{"only.txt", newCopy_, "only.txt"}}));
    EXPECT_FALSE(Context().cabinet.oldCabinetFile.has_value());
    EXPECT_EQ(TemporaryFiles().size(), 1u) << "the working copy only";
}

}  // namespace
}  // namespace update_test
