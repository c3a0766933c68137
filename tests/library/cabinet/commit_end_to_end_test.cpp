// The commit through the exports on a product built by wixl and installed by
// qltmsi: three files replaced and committed, the package and the cab cache
// checked with the peers, then a second session that carries the first
// session's files over into its cabinet.
#include "library/update/installed_products.h"

#include <algorithm>
#include <set>

namespace update_test {
namespace {

using Table = std::vector<std::vector<std::string>>;

class CommitEndToEndTest : public InstalledProductTest {
  protected:
    // A new copy under the work directory, as a Windows path.
    static std::string NewCopy(const std::string& name, const std::string& content) {
        const fs::path path = WorkDirectory() / "new" / name;
        fs::create_directories(path.parent_path());
        winsys_test::writeFile(path.string(), content);
        return WindowsPathOf(path.string());
    }
    // The cab cache's streams, with the cabinet written to a file beside it
    // for the peers.
    static std::vector<std::string> StreamNames(const fs::path& cabCache, const fs::path& cabinet) {
        MsiHandle database;
        EXPECT_EQ(MsiOpenDatabaseW(Wide(WindowsPathOf(cabCache.string())).c_str(),
                                   MSIDBOPEN_READONLY, database.Receive()),
                  0u);
        std::vector<std::string> names;
        for (const auto& row : Rows(database.get(), "SELECT `Name` FROM `_Streams`")) {
            names.push_back(row[0]);
        }
        MsiHandle view;
        MsiDatabaseOpenViewW(database.get(),
                             TEXT("SELECT * FROM `_Streams` WHERE `Name`='QuilletCab'"),
                             view.Receive());
        MsiViewExecute(view.get(), 0);
        MsiHandle row;
        std::string bytes;
        if (MsiViewFetch(view.get(), row.Receive()) == ERROR_SUCCESS) {
            char buffer[8192];
            for (DWORD count = sizeof buffer; count == sizeof buffer;) {
                count = sizeof buffer;
                if (MsiRecordReadStream(row.get(), 2, buffer, &count) != ERROR_SUCCESS) {
                    break;
                }
                bytes.append(buffer, count);
            }
        }
        winsys_test::writeFile(cabinet.string(), bytes);
        return names;
    }
    // Checks the cabinet with cabextract and returns its files.
    static std::map<std::string, std::string> CabinetFiles(const fs::path& cabinet) {
        EXPECT_EQ(update_test::Run("cabextract -q -t '" + cabinet.string() + "' >/dev/null 2>&1"),
                  0);
        const fs::path out = cabinet.parent_path() / (cabinet.stem().string() + "-files");
        fs::create_directories(out);
        EXPECT_EQ(
            update_test::Run("cabextract -q -d '" + out.string() + "' '" + cabinet.string() + "'"),
            0);
        std::map<std::string, std::string> files;
        for (const auto& entry : fs::directory_iterator(out)) {
            files[entry.path().filename().string()] = winsys_test::readFile(entry.path().string());
        }
        return files;
    }
    static int LargestOtherLastSequence(MSIHANDLE database) {
        int largest = 0;
        for (const auto& row : Rows(database, "SELECT `LastSequence`, `DiskPrompt` FROM `Media`")) {
            if (row[1] != "Quillet") {
                largest = std::max(largest, std::stoi(row[0]));
            }
        }
        return largest;
    }
};

TEST_F(CommitEndToEndTest, ReplaceThreeFilesCommitThenCarryThemOver) {
    InstallAppOnce();
    const fs::path package = LocalPackage(kAppProduct);
    ASSERT_FALSE(package.empty());
    int base = 0;
    {
        MsiHandle database;
        ASSERT_EQ(MsiOpenDatabaseW(Wide(WindowsPathOf(package.string())).c_str(),
                                   MSIDBOPEN_READONLY, database.Receive()),
                  0u);
        base = LargestOtherLastSequence(database.get()) + 100;
    }

    const std::map<std::string, std::string> first = {{"readme", "readme, second edition\n"},
                                                      {"plain", std::string(200000, 'p')},
                                                      {"config.one", "[one]\nvalue=2\n"}};
    ASSERT_EQ(Open(kAppProduct), 0u);
    ASSERT_EQ(Update(std::string(kAppDirectory) + "readme.TXT",
                     NewCopy("readme.txt", first.at("readme")), "readme.TXT"),
              0u);
    // Read-only: the cabinet records it, and the next session's extraction
    // makes the file read-only again.
    const std::string plain = NewCopy("plain.txt", first.at("plain"));
    fs::permissions(Native(Wide(plain)), fs::perms::owner_write | fs::perms::group_write |
                                             fs::perms::others_write,
                    fs::perm_options::remove);
    ASSERT_EQ(Update(std::string(kAppDirectory) + "plain.txt", plain, "plain.txt"), 0u);
    ASSERT_EQ(Update(std::string(kAppDirectory) + "one\\config.ini",
                     NewCopy("config.ini", first.at("config.one")), "config.ini"),
              0u);
    ASSERT_EQ(QLTMsiCommitChanges(handle_, nullptr), 0u) << LastMessage();
    ASSERT_EQ(QLTMsiCloseDatabase(handle_), 0u);
    EXPECT_TRUE(TemporaryFiles().empty());

    fs::path firstCabCache;
    {
        MsiHandle database;
        ASSERT_EQ(MsiOpenDatabaseW(Wide(WindowsPathOf(package.string())).c_str(),
                                   MSIDBOPEN_READONLY, database.Receive()),
                  0u);
        std::set<int> sequences;
        for (const auto& row : Rows(database.get(),
                                    "SELECT `File`, `Sequence`, `Attributes` "
                                    "FROM `File`")) {
            if (first.count(row[0])) {
                sequences.insert(std::stoi(row[1]));
                EXPECT_TRUE(std::stoi(row[2]) & 0x4000) << row[0];
            }
        }
        EXPECT_EQ(sequences, (std::set<int>{base, base + 1, base + 2}));
        EXPECT_EQ(Rows(database.get(),
                       "SELECT `LastSequence`, `Cabinet`, `Source` FROM `Media` WHERE "
                       "`DiskPrompt`='Quillet'"),
                  (Table{{std::to_string(base + 3), "#QuilletCab", "QuilletCabCache"}}));
        const Table property = Rows(database.get(),
                                    "SELECT `Value` FROM `Property` WHERE "
                                    "`Property`='QuilletCabCache'");
        ASSERT_EQ(property.size(), 1u);
        firstCabCache = Native(Wide(property[0][0]));
        EXPECT_EQ(firstCabCache.parent_path(), package.parent_path());
        EXPECT_TRUE(Rows(database.get(),
                         "SELECT * FROM `_Tables` WHERE "
                         "`Name`='QuilletTempTable'")
                        .empty());
    }
    ASSERT_TRUE(fs::exists(firstCabCache));
    EXPECT_EQ(StreamNames(firstCabCache, WorkDirectory() / "first.cab"),
              std::vector<std::string>{"QuilletCab"});
    EXPECT_EQ(
        update_test::Run("msiinfo streams '" + firstCabCache.string() + "' | grep -qx QuilletCab"),
        0)
        << "msiinfo reads the cab cache";
    EXPECT_EQ(CabinetFiles(WorkDirectory() / "first.cab"), first);

    // A second session: one more file, the first three carried over.
    ASSERT_EQ(Open(kAppProduct), 0u);
    ASSERT_EQ(Update(std::string(kAppDirectory) + "opt\\notes.txt",
                     NewCopy("notes.txt", "new notes\n"), "notes.txt"),
              0u);
    ASSERT_EQ(QLTMsiCommitChanges(handle_, nullptr), 0u) << LastMessage();
    ASSERT_EQ(QLTMsiCloseDatabase(handle_), 0u);
    EXPECT_TRUE(TemporaryFiles().empty()) << "the read-only extracted file went too";
    EXPECT_FALSE(fs::exists(firstCabCache)) << "the previous cab cache is gone";

    fs::path secondCabCache;
    {
        MsiHandle database;
        ASSERT_EQ(MsiOpenDatabaseW(Wide(WindowsPathOf(package.string())).c_str(),
                                   MSIDBOPEN_READONLY, database.Receive()),
                  0u);
        const Table property = Rows(database.get(),
                                    "SELECT `Value` FROM `Property` WHERE "
                                    "`Property`='QuilletCabCache'");
        ASSERT_EQ(property.size(), 1u);
        secondCabCache = Native(Wide(property[0][0]));
        EXPECT_EQ(
            Rows(database.get(), "SELECT `LastSequence` FROM `Media` WHERE `DiskPrompt`='Quillet'"),
            (Table{{std::to_string(base + 4)}}));
    }
    ASSERT_TRUE(fs::exists(secondCabCache));
    EXPECT_EQ(StreamNames(secondCabCache, WorkDirectory() / "second.cab"),
              std::vector<std::string>{"QuilletCab"});
    std::map<std::string, std::string> both = first;
    both["notes"] = "new notes\n";
    EXPECT_EQ(CabinetFiles(WorkDirectory() / "second.cab"), both);
    EXPECT_TRUE(TemporaryFiles().empty());
    fs::permissions(Native(Wide(plain)), fs::perms::owner_write, fs::perm_options::add);
}

}  // namespace
}  // namespace update_test
