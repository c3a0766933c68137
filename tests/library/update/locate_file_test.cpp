// Finding File rows from installed paths in a product installed by
// `qltmsi install`: the passes by name and by component folder, folders told
// apart by key paths, components that never match, and names with quotes,
// spaces and letters beyond ASCII, which travel as values, not SQL text.
#include "library/update/installed_products.h"

#include "update/locate_file.h"

namespace update_test {
namespace {

class LocateFileTest : public InstalledProductTest {
  protected:
    void SetUp() override {
        InstalledProductTest::SetUp();
        InstallAppOnce();
        ASSERT_EQ(Open(kAppProduct), 0u);
    }

    // The File key found for an installed path, or the locator's status.
    std::string Locate(const std::string& installedPath) {
        MsiHandle view;
        MsiHandle record;
        const UINT status = LocateFile(Context(), Wide(installedPath).c_str(), view, record);
        if (status != ERROR_SUCCESS) {
            EXPECT_EQ(view.get(), 0u);
            EXPECT_EQ(record.get(), 0u);
            return "status " + std::to_string(status);
        }
        WideString key;
        EXPECT_EQ(ReadRecordText(record.get(), 1, 100, key), 0u);
        EXPECT_EQ(MsiRecordGetFieldCount(record.get()), 8u);
        return Narrow(key);
    }
    static std::string InApp(const std::string& relative) { return kAppDirectory + relative; }
};

TEST_F(LocateFileTest, FindsNamesByTheirFolder) {
    EXPECT_EQ(Locate(InApp("plain.txt")), "plain");
    EXPECT_EQ(Locate(InApp("main.dll")), "main.dll");
    EXPECT_EQ(Locate(InApp("PLAIN.TXT")), "plain") << "upper case is asked for";
    // One name in two folders: the component's key path decides.
    EXPECT_EQ(Locate(InApp("one\\config.ini")), "config.one");
    EXPECT_EQ(Locate(InApp("two\\config.ini")), "config.two");
    EXPECT_EQ(Locate(InApp("two\\\\config.ini")), "config.two") << "doubled separators";
    EXPECT_EQ(Locate(InApp("config.ini")), "status 259");
    EXPECT_EQ(Locate(InApp("one\\plain.txt")), "status 259");
}

TEST_F(LocateFileTest, MixedCaseNamesAreFoundByComponentFolder) {
    // readme.TXT is neither the name as given nor its lower or upper case.
    EXPECT_EQ(Locate(InApp("ReadMe.txt")), "readme");
    EXPECT_EQ(Locate(InApp("rEADME.txt")), "readme");
}

TEST_F(LocateFileTest, FolderKeyPathsCountAsTheirFolder) {
    EXPECT_EQ(Locate(InApp("Folder Keyed\\inside.txt")), "inside");
    EXPECT_EQ(Locate(InApp("Folder Keyed\\Inside.Txt")), "inside");
}

TEST_F(LocateFileTest, RegistryKeyPathsAndAbsentComponentsNeverMatch) {
    EXPECT_EQ(Locate(InApp("reg\\registry.txt")), "status 259");
    const fs::path keyFile = Native(Wide(InApp("opt\\opt.dll")));
    ASSERT_TRUE(fs::exists(keyFile));
    EXPECT_EQ(Locate(InApp("opt\\notes.txt")), "notes");
    const fs::path aside = keyFile.string() + ".aside";
    fs::rename(keyFile, aside);
    EXPECT_EQ(Locate(InApp("opt\\notes.txt")), "status 259");
    EXPECT_EQ(Locate(InApp("opt\\Notes.txt")), "status 259");
    fs::rename(aside, keyFile);
}

TEST_F(LocateFileTest, PathsWithoutSeparatorOrTooLongAreRefused) {
    EXPECT_EQ(Locate("plain.txt"), "status 1615");
    EXPECT_EQ(Locate(InApp(std::string(260, 'a'))), "status 1615");
}

TEST_F(LocateFileTest, QuotesSpacesAndAccentsAreFound) {
    EXPECT_EQ(Locate(InApp("O'Brien.txt")), "obrien");
    EXPECT_EQ(Locate(InApp("o'brien.TXT")), "obrien");
    EXPECT_EQ(Locate(InApp("Read Me Now.txt")), "spaced");
    EXPECT_EQ(Locate(InApp("Ünïcödé.txt")), "accented");
    // Only A to Z fold: the accented letters must match exactly.
    EXPECT_EQ(Locate(InApp("üNïCöDé.TXT")), "status 259");
}

TEST_F(LocateFileTest, CraftedNamesSelectNothing) {
    EXPECT_EQ(Locate(InApp("x' OR 'a'='a")), "status 259");
    EXPECT_EQ(Locate(InApp("x' OR `FileName`<>'")), "status 259");
    EXPECT_EQ(Locate(InApp("?")), "status 259");
}

TEST_F(LocateFileTest, StripTrailingSeparatorsKeepsTheFirstCharacter) {
    for (auto [given, expected] : std::vector<std::pair<std::string, std::string>>{
             {"C:\\App\\\\", "C:\\App"}, {"\\", "\\"}, {"\\\\\\", "\\"}, {"", ""}, {"a", "a"}}) {
        WideString text = Wide(given);
        EXPECT_EQ(Narrow(StripTrailingSeparators(text.data())), expected) << given;
    }
}

}  // namespace
}  // namespace update_test
