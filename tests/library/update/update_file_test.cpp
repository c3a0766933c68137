// Replacing and removing files of a product installed by `qltmsi install`:
// the rewritten File row, the work table, the Media row of the library's
// cabinet, the caller's transform, and refusals that change nothing.
#include "library/update/installed_products.h"

#include "update/update_file.h"

#include <winsys_faults.h>

namespace update_test {
namespace {

using Table = std::vector<std::vector<std::string>>;

constexpr char kFileRow[] = "SELECT * FROM `File` WHERE `File`=?";
constexpr char kWorkTable[] = "SELECT * FROM `QuilletTempTable`";

// "major.minor.build.revision" and the first language of a PE file's version
// resource, read by pefile.
std::pair<std::string, std::string> PeVersion(const std::string& path) {
    const std::string out = Prefix().root() + "/pe-version.txt";
    const std::string script =
        "import pefile,sys\n"
        "p=pefile.PE(sys.argv[1])\n"
        "f=p.VS_FIXEDFILEINFO[0]\n"
        "print('%d.%d.%d.%d'%(f.FileVersionMS>>16,f.FileVersionMS&65535,"
        "f.FileVersionLS>>16,f.FileVersionLS&65535))\n"
        "t=[v.entry for i in p.FileInfo[0] if i.Key==b'VarFileInfo' for v in i.Var][0]\n"
        "print(int(list(t.values())[0].split()[0],16))\n";
    winsys_test::writeFile(Prefix().root() + "/pe-version.py", script);
    EXPECT_EQ(update_test::Run("/usr/bin/python3 '" + Prefix().root() + "/pe-version.py' '" + path + "' > '" +
                  out + "'"),
              0);
    std::istringstream lines(winsys_test::readFile(out));
    std::string version, language;
    std::getline(lines, version);
    std::getline(lines, language);
    return {version, language};
}

class UpdateFileTest : public InstalledProductTest {
  protected:
    void SetUp() override {
        InstalledProductTest::SetUp();
        InstallAppOnce();
        ASSERT_EQ(Open(kAppProduct), 0u);
    }
    static std::string InApp(const std::string& relative) { return kAppDirectory + relative; }
    // A new copy under the work directory, as a Windows path.
    static std::string NewCopy(const std::string& name, const std::string& content) {
        const fs::path path = WorkDirectory() / "new" / name;
        fs::create_directories(path.parent_path());
        winsys_test::writeFile(path.string(), content);
        return WindowsPathOf(path.string());
    }
    std::vector<std::string> FileRow(const std::string& key) {
        const Table rows = Rows(Database(), kFileRow, {key});
        return rows.empty() ? std::vector<std::string>{} : rows.front();
    }
};

TEST_F(UpdateFileTest, ReplacementDescribesTheNewCopy) {
    const std::string dll = WorkDirectory().string() + "/main.dll";
    const auto [version, language] = PeVersion(dll);
    ASSERT_FALSE(version.empty());
    EXPECT_EQ(language, "1033");

    ASSERT_EQ(Update(InApp("plain.txt"), WindowsPathOf(dll), "plain.txt"), 0u);
    EXPECT_EQ(FileRow("plain"),
              (std::vector<std::string>{"plain", "Main", "plain.txt",
                                        std::to_string(fs::file_size(dll)), version, language,
                                        std::to_string(512 | 0x4000), "0"}));
    EXPECT_EQ(Rows(Database(), kWorkTable), (Table{{"plain", WindowsPathOf(dll), "plain.txt"}}));
    EXPECT_EQ(Rows(Database(), "SELECT * FROM `Media` WHERE `DiskId`=2"),
              (Table{{"2", "112", "Quillet", "#QuilletCab", "", "QuilletCabCache"}}));
    EXPECT_EQ(Context().changesPending, 1u);
    EXPECT_EQ(Context().updateSequence, 112);
    EXPECT_EQ(Context().updateDiskId, 2);
    EXPECT_EQ(Context().cabinet.queuedFileCount, 1u);
    EXPECT_EQ(LastMessage(), "Error opening msi database. The file may be in use.");
}

TEST_F(UpdateFileTest, FilesWithoutVersionAndTheNewName) {
    const std::string copy = NewCopy("readme v2.txt", "twelve bytes");
    // A name that differs only in case leaves FileName as it was.
    ASSERT_EQ(Update(InApp("readme.txt"), copy, "README.txt"), 0u);
    EXPECT_EQ(FileRow("readme"), (std::vector<std::string>{"readme", "Main", "readme.TXT", "12",
                                                           "", "", "16896", "0"}));
    ASSERT_EQ(Update(InApp("O'Brien.txt"), copy, "O'Neil's.txt"), 0u);
    EXPECT_EQ(FileRow("obrien")[2], "O'Neil's.txt");
    EXPECT_EQ(Rows(Database(), "SELECT `NewName` FROM `QuilletTempTable` WHERE `Name`='obrien'"),
              (Table{{"O'Neil's.txt"}}));
}

// Given either of a "short|long" value's names, or the whole value, the row
// keeps both; another name replaces the value as given.
TEST_F(UpdateFileTest, ANameTheFileAlreadyCarriesKeepsFileNameAsItIs) {
    ASSERT_EQ(Execute(Database(), "UPDATE `File` SET `FileName`='README~1.TXT|Read Me Now.txt' "
                                  "WHERE `File`='spaced'"),
              0u);
    const std::string copy = NewCopy("spaced v2.txt", "new");
    for (const char* same : {"Read Me Now.txt", "read me now.TXT", "README~1.TXT", "readme~1.txt",
                             "README~1.TXT|Read Me Now.txt"}) {
        ASSERT_EQ(Update(InApp("Read Me Now.txt"), copy, same), 0u) << same;
        EXPECT_EQ(FileRow("spaced")[2], "README~1.TXT|Read Me Now.txt") << same;
    }
    for (const char* other : {"Read Me Later.txt", "README~1.TXT|Read Me Later.txt", "Now.txt"}) {
        ASSERT_EQ(Execute(Database(), "UPDATE `File` SET `FileName`='README~1.TXT|Read Me Now.txt' "
                                      "WHERE `File`='spaced'"),
                  0u);
        ASSERT_EQ(Update(InApp("Read Me Now.txt"), copy, other), 0u) << other;
        EXPECT_EQ(FileRow("spaced")[2], other);
    }
}

// The row's FileSize is a signed 32-bit number: a copy whose size it can't
// hold, or that can't be opened to take it, would be recorded with a wrong
// size while the cabinet holds the real bytes.
TEST_F(UpdateFileTest, NewCopiesTheRowCannotDescribeAreRefused) {
    const auto before = FileRow("plain");
    EXPECT_EQ(Update(InApp("plain.txt"), "C:\\nowhere\\gone.bin", "plain.txt"), 3u);
    EXPECT_EQ(LastMessage(), "Error archiving modified file.");
    // A copy that is there but can't be opened just now.
    const std::string held = NewCopy("held.txt", "held");
    WinsysFaultsReset();
    ASSERT_TRUE(WinsysFaultsArm(WINSYS_FAULT_OPEN, 1, ERROR_SHARING_VIOLATION, FALSE));
    EXPECT_EQ(Update(InApp("plain.txt"), held, "plain.txt"), 32u);
    EXPECT_EQ(WinsysFaultsFired(), 1u);
    WinsysFaultsReset();
    const auto sparse = [](const std::string& name, uintmax_t size) {
        const std::string copy = NewCopy(name, "");
        fs::resize_file(Native(Wide(copy)), size);
        return copy;
    };
    EXPECT_EQ(Update(InApp("plain.txt"), sparse("two-gib.bin", 1ull << 31), "plain.txt"), 223u);
    EXPECT_EQ(Update(InApp("plain.txt"), sparse("four-gib.bin", (1ull << 32) + 10), "plain.txt"),
              223u);
    EXPECT_EQ(FileRow("plain"), before);
    EXPECT_EQ(Context().cabinet.queuedFileCount, 0u);
    fs::remove_all(WorkDirectory() / "new");

    const std::string largest = sparse("largest.bin", (1ull << 31) - 1);
    ASSERT_EQ(Update(InApp("plain.txt"), largest, "plain.txt"), 0u);
    EXPECT_EQ(FileRow("plain")[3], "2147483647");
    fs::remove_all(WorkDirectory() / "new");
}

// A File row that can't be written back keeps its old values, so its new
// copy must not stay queued: the commit would archive it under the old row.
TEST_F(UpdateFileTest, AReplacementThatCannotBeWrittenBackQueuesNothing) {
    EXPECT_EQ(Update(InApp("plain.txt"), NewCopy("p.txt", "p"), ""), 87u);
    EXPECT_EQ(LastMessage(), "An invalid parameter was supplied to an msi function.");
    EXPECT_EQ(Context().changesPending, 0u);

    // A File table whose FileSize is a short integer takes no size above
    // 32767.
    const Table rows = Rows(Database(), "SELECT * FROM `File`");
    ASSERT_EQ(Execute(Database(), "DROP TABLE `File`"), 0u);
    ASSERT_EQ(Execute(Database(),
                      "CREATE TABLE `File` (`File` CHAR(72) NOT NULL, `Component_` CHAR(72) NOT "
                      "NULL, `FileName` CHAR(255) NOT NULL LOCALIZABLE, `FileSize` SHORT NOT NULL, "
                      "`Version` CHAR(72), `Language` CHAR(20), `Attributes` SHORT, `Sequence` "
                      "LONG NOT NULL PRIMARY KEY `File`)"),
              0u);
    for (const auto& row : rows) {
        ASSERT_EQ(Execute(Database(), "INSERT INTO `File` (`File`,`Component_`,`FileName`,`FileSize`,`Version`,"
                          "`Language`,`Attributes`,`Sequence`) VALUES (?,?,?,0,?,?,0,1)",
                          {row[0], row[1], row[2], row[4], row[5]}),
                  0u);
    }
    const std::string small = NewCopy("small.txt", "small");
    ASSERT_EQ(Update(InApp("plain.txt"), small, "plain.txt"), 0u);
    const std::string large = NewCopy("large.txt", std::string(40000, 'x'));
    EXPECT_NE(Update(InApp("plain.txt"), large, "plain.txt"), 0u);
    EXPECT_NE(Update(InApp("readme.txt"), large, "readme.txt"), 0u);
    EXPECT_EQ(LastMessage(), "Error updating file in msi database.");
    EXPECT_EQ(Rows(Database(), kWorkTable), (Table{{"plain", small, "plain.txt"}}))
        << "the first replacement stays queued as it was, the failed ones are gone";
    EXPECT_EQ(Context().cabinet.queuedFileCount, 1u);
    EXPECT_EQ(FileRow("plain")[3], "5");
}

TEST_F(UpdateFileTest, TheLibraryMediaRowFollowsTheOthers) {
    ASSERT_EQ(Execute(Database(), "DELETE FROM `Media`"), 0u);
    const std::string insert =
        "INSERT INTO `Media` (`DiskId`,`LastSequence`,`DiskPrompt`,`Cabinet`) VALUES ";
    ASSERT_EQ(Execute(Database(), insert + "(1,10,'','#app.cab')"), 0u);
    ASSERT_EQ(Execute(Database(), insert + "(2,40,'','disk2.cab')"), 0u);
    // The row an earlier commit left is replaced, and does not count.
    ASSERT_EQ(Execute(Database(), insert + "(7,900,'Quillet','#QuilletCab')"), 0u);

    ASSERT_EQ(Update(InApp("plain.txt"), NewCopy("p.txt", "p"), "plain.txt"), 0u);
    EXPECT_EQ(Rows(Database(), "SELECT `DiskId`,`LastSequence`,`Cabinet` FROM `Media`"),
              (Table{{"1", "10", "#app.cab"}, {"2", "40", "disk2.cab"}, {"3", "140", "#QuilletCab"}}));
    // Later replacements reuse the row.
    ASSERT_EQ(Update(InApp("main.dll"), NewCopy("m.dll", "m"), "main.dll"), 0u);
    EXPECT_EQ(Rows(Database(), "SELECT `DiskId` FROM `Media`").size(), 3u);
}

TEST_F(UpdateFileTest, AttributesBecomeCompressed) {
    ASSERT_EQ(Execute(Database(), "UPDATE `File` SET `Attributes`=8193 WHERE `File`='plain'"), 0u);
    ASSERT_EQ(Execute(Database(), "UPDATE `File` SET `Attributes`=NULL WHERE `File`='spaced'"), 0u);
    ASSERT_EQ(FileRow("spaced")[6], "");
    ASSERT_EQ(Update(InApp("plain.txt"), NewCopy("p.txt", "p"), "plain.txt"), 0u);
    ASSERT_EQ(Update(InApp("Read Me Now.txt"), NewCopy("s.txt", "s"), "Read Me Now.txt"), 0u);
    EXPECT_EQ(FileRow("plain")[6], std::to_string(0x4001));
    EXPECT_EQ(FileRow("spaced")[6], std::to_string(0x4000));
}

TEST_F(UpdateFileTest, TwoReplacementsOfOneFileLeaveOneRow) {
    ASSERT_EQ(Update(InApp("plain.txt"), NewCopy("first.txt", "1"), "plain.txt"), 0u);
    const std::string second = NewCopy("second.txt", "22");
    ASSERT_EQ(Update(InApp("PLAIN.TXT"), second, "Plain Two.txt"), 0u);
    EXPECT_EQ(Rows(Database(), kWorkTable), (Table{{"plain", second, "Plain Two.txt"}}));
    EXPECT_EQ(Context().cabinet.queuedFileCount, 2u);
    EXPECT_EQ(FileRow("plain")[2], "Plain Two.txt");
    EXPECT_EQ(FileRow("plain")[3], "2");
}

TEST_F(UpdateFileTest, ShortNewPathsRemoveTheRowOnly) {
    const Table media = Rows(Database(), "SELECT * FROM `Media`");
    ASSERT_EQ(Update(InApp("notes.txt"), "ab", std::nullopt), 259u) << "not in the app folder";
    ASSERT_EQ(Update(InApp("opt\\notes.txt"), "ab", std::nullopt), 0u);
    ASSERT_EQ(Update(InApp("Read Me Now.txt"), std::nullopt, std::nullopt), 0u);
    EXPECT_TRUE(FileRow("notes").empty());
    EXPECT_TRUE(FileRow("spaced").empty());
    EXPECT_EQ(Rows(Database(), "SELECT * FROM `Media`"), media);
    EXPECT_EQ(Context().updateSequence, 0);
    EXPECT_EQ(Context().changesPending, 1u);
    MsiHandle view;
    EXPECT_NE(MsiDatabaseOpenViewW(Database(), Wide(kWorkTable).c_str(), view.Receive()), 0u);
}

TEST_F(UpdateFileTest, RefusalsChangeNothing) {
    const auto before = FileRow("plain");
    // A replacement without the name it is to carry.
    EXPECT_EQ(Update(InApp("plain.txt"), NewCopy("p.txt", "p"), std::nullopt), 87u);
    EXPECT_EQ(LastMessage(), "An invalid parameter was supplied to an msi function.");
    EXPECT_EQ(Update(InApp("absent.txt"), NewCopy("p.txt", "p"), "absent.txt"), 259u);
    EXPECT_EQ(LastMessage(), "File not found in the specified msi database");
    EXPECT_EQ(Update(InApp("x' OR 'a'='a"), NewCopy("p.txt", "p"), "x.txt"), 259u);
    EXPECT_EQ(Update("", NewCopy("p.txt", "p"), "x.txt"), 0u);
    EXPECT_EQ(FileRow("plain"), before);
    EXPECT_EQ(Context().changesPending, 0u);
    EXPECT_EQ(Context().updateSequence, 0);
}

TEST_F(UpdateFileTest, NoDatabaseOpen) {
    EXPECT_EQ(Open("{0F0F0F0F-1111-2222-3333-444444444444}"), 1605u);
    EXPECT_EQ(Update("", "C:\\x.txt", "x.txt"), 0u);
    EXPECT_EQ(Update(InApp("plain.txt"), "C:\\x.txt", "x.txt"), 6u);
    EXPECT_EQ(LastMessage(), "Invalid msi handle provided to function.");
}

class TransformTest : public UpdateFileTest {
  protected:
    // A transform that adds a property to the installed package.
    static fs::path MakeTransform(const std::string& name) {
        const fs::path work = WorkDirectory();
        const fs::path changed = work / "changed.msi";
        fs::copy_file(LocalPackage(kAppProduct), changed, fs::copy_options::overwrite_existing);
        EXPECT_EQ(OnPackage(changed,
                            [](MSIHANDLE database) {
                                EXPECT_EQ(Execute(database,
                                                  "INSERT INTO `Property` (`Property`,`Value`) "
                                                  "VALUES ('PatchedBy','update tests')"),
                                          0u);
                            }),
                  0u);
        MsiHandle after, before;
        EXPECT_EQ(MsiOpenDatabaseW(Wide(WindowsPathOf(changed.string())).c_str(),
                                   MSIDBOPEN_READONLY, after.Receive()),
                  0u);
        EXPECT_EQ(MsiOpenDatabaseW(Wide(WindowsPathOf(LocalPackage(kAppProduct).string())).c_str(),
                                   MSIDBOPEN_READONLY, before.Receive()),
                  0u);
        const fs::path transform = work / name;
        EXPECT_EQ(MsiDatabaseGenerateTransformW(after.get(), before.get(),
                                                Wide(WindowsPathOf(transform.string())).c_str(),
                                                0, 0),
                  0u);
        return transform;
    }
    void SetUp() override {
        InstalledProductTest::SetUp();
        InstallAppOnce();
    }
};

TEST_F(TransformTest, ATransformGivenAtOpenIsAppliedOnce) {
    const fs::path transform = MakeTransform("property.mst");
    ASSERT_EQ(Open(kAppProduct, "property.mst", nullptr,
                   WindowsPathOf(transform.parent_path().string()).c_str()),
              0u);
    const std::string query = "SELECT `Value` FROM `Property` WHERE `Property`='PatchedBy'";
    EXPECT_TRUE(Rows(Database(), query).empty()) << "not before the first update";
    ASSERT_EQ(Update(InApp("plain.txt"), NewCopy("p.txt", "p"), "plain.txt"), 0u);
    EXPECT_EQ(Rows(Database(), query), (Table{{"update tests"}}));
    EXPECT_FALSE(Context().transformPath.has_value());
    fs::remove(transform);
    EXPECT_EQ(Update(InApp("main.dll"), NewCopy("m.dll", "m"), "main.dll"), 0u);
}

TEST_F(TransformTest, ATransformThatFailsIsNotTriedAgain) {
    ASSERT_EQ(Open(kAppProduct, "C:\\missing.mst"), 0u);
    EXPECT_EQ(Update(InApp("plain.txt"), NewCopy("p.txt", "p"), "plain.txt"), 14u);
    EXPECT_EQ(LastMessage(), "User supplied transform failed to apply properly.");
    EXPECT_EQ(Context().changesPending, 1u);
    EXPECT_EQ(Update(InApp("plain.txt"), NewCopy("p.txt", "p"), "plain.txt"), 0u);
}

}  // namespace
}  // namespace update_test
