// Opening installed products made by wixl and `qltmsi install`: the working
// copy, the package-code check, the cab cache property, and inputs that must
// fail with their status and message and leave no file behind.
#include "library/update/installed_products.h"

#include "api/open_package.h"
#include "platform/package_lock.h"

#include <future>
#include <thread>

#include <sys/stat.h>

namespace update_test {
namespace {

constexpr char kOpenMessage[] = "Error opening msi database. The file may be in use.";

std::string PackageCode(const fs::path& package) {
    MsiHandle database;
    MsiHandle summary;
    EXPECT_EQ(MsiOpenDatabaseW(Wide(WindowsPathOf(package.string())).c_str(),
                               MSIDBOPEN_READONLY, database.Receive()),
              0u);
    EXPECT_EQ(MsiGetSummaryInformationW(database.get(), nullptr, 0, summary.Receive()), 0u);
    WCHAR code[50] = {};
    DWORD count = 50;
    UINT type = 0;
    MsiSummaryInfoGetPropertyW(summary.get(), 9, &type, nullptr, nullptr, code, &count);
    return Narrow(code);
}

std::string Lowered(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

class OpenPackageTest : public InstalledProductTest {
  protected:
    void SetUp() override {
        InstalledProductTest::SetUp();
        InstallAppOnce();
    }
};

TEST_F(OpenPackageTest, OpensACopyOfTheReadOnlyInstalledPackage) {
    const fs::path installed = LocalPackage(kAppProduct);
    const std::string before = winsys_test::readFile(installed.string());
    // The open reads the installed package only, so a read-only one is enough.
    fs::permissions(installed, fs::perms::owner_read | fs::perms::group_read);
    struct stat was {};
    stat(installed.c_str(), &was);

    ASSERT_EQ(Open(kAppProduct), 0u);
    EXPECT_EQ(LastMessage(), kOpenMessage);
    EXPECT_EQ(Native(Context().packagePath.data()), installed);
    const fs::path workingCopy = Native(Context().workingCopyPath.data());
    EXPECT_EQ(workingCopy.parent_path(), fs::path(Prefix().root()) / "tmp");
    EXPECT_EQ(workingCopy.filename().string().rfind("qlt", 0), 0u);
    EXPECT_EQ(winsys_test::readFile(workingCopy.string()), before);
    EXPECT_TRUE(IsEmpty(Context().cabCachePath));
    EXPECT_FALSE(Context().transformPath.has_value());

    EXPECT_EQ(QLTMsiCloseDatabase(handle_), 0u);
    struct stat now {};
    stat(installed.c_str(), &now);
    EXPECT_EQ(now.st_mtim.tv_sec, was.st_mtim.tv_sec);
    EXPECT_EQ(now.st_mtim.tv_nsec, was.st_mtim.tv_nsec);
    EXPECT_EQ(winsys_test::readFile(installed.string()), before);
    EXPECT_TRUE(TemporaryFiles().empty());
    fs::permissions(installed, fs::perms::owner_write, fs::perm_options::add);
}

TEST_F(OpenPackageTest, PackageCodeComparesWithoutLetterCase) {
    const std::string code = PackageCode(LocalPackage(kAppProduct));
    ASSERT_EQ(code.size(), 38u);
    ASSERT_NE(Lowered(code), code);
    // The transform name comes first: the package code sorts either way.
    EXPECT_EQ(Open(kAppProduct, "fix.mst", Lowered(code).c_str(), "C:\\patches"), 0u);
    ASSERT_TRUE(Context().transformPath.has_value());
    EXPECT_EQ(Narrow(*Context().transformPath), "C:\\patches\\fix.mst");
}

TEST_F(OpenPackageTest, ADifferentPackageCodeGives16AndKeepsNoTransform) {
    EXPECT_EQ(Open(kAppProduct, "{00000000-1111-2222-3333-444444444444}", "fix.mst"), 16u);
    EXPECT_EQ(LastMessage(),
              "The msi database installed does not match the \n\trequired package identifier");
    EXPECT_FALSE(Context().transformPath.has_value());
    EXPECT_EQ(TemporaryFiles().size(), 1u) << "the working copy stays until the close";
    EXPECT_EQ(QLTMsiCloseDatabase(handle_), 0u);
    EXPECT_TRUE(TemporaryFiles().empty());
}

TEST_F(OpenPackageTest, ProductsThatAreNotInstalledMakeNoFile) {
    for (const char* product : {"{0F0F0F0F-1111-2222-3333-444444444444}", "not a product code",
                                "{5A1D0C3E-7B2F-4E61-9C84-2D3E4F5A6B0}"}) {
        SCOPED_TRACE(product);
        EXPECT_EQ(Open(product), 1605u);
        EXPECT_EQ(LastMessage(), "The specified msi product could not be opened");
        EXPECT_TRUE(TemporaryFiles().empty());
        EXPECT_EQ(QLTMsiCloseDatabase(handle_), 6u);
        EXPECT_EQ(QLTMsiCloseDatabase(handle_), QLTMSI_ERROR_NO_PATCH_CONTEXT);
    }
}

TEST_F(OpenPackageTest, NoProductCodeIsAnInvalidParameter) {
    EXPECT_EQ(QLTMsiOpenDatabase(handle_, nullptr, nullptr, nullptr, nullptr, nullptr), 87u);
    EXPECT_EQ(LastMessage(), "An invalid parameter was supplied to an msi function.");
    EXPECT_TRUE(TemporaryFiles().empty());
}

TEST_F(OpenPackageTest, CabCachePropertyLeavesTheWorkingCopyOnly) {
    const std::string product = "{6B2E1D4F-8C3A-4F72-AD95-3E4F5A6B7C11}";
    ASSERT_TRUE(InstallSmallProduct(product));
    const fs::path installed = LocalPackage(product);
    const std::string cache = "C:\\windows\\Installer\\b123_.msi";
    ASSERT_EQ(OnPackage(installed,
                        [&](MSIHANDLE database) {
                            EXPECT_EQ(Execute(database,
                                              "INSERT INTO `Property` (`Property`,`Value`) "
                                              "VALUES ('QuilletCabCache',?)",
                                              {cache}),
                                      0u);
                        }),
              0u);

    ASSERT_EQ(Open(product), 0u);
    EXPECT_EQ(Narrow(Context().cabCachePath.data()), cache);
    const std::string query = "SELECT `Value` FROM `Property` WHERE `Property`='QuilletCabCache'";
    EXPECT_TRUE(Rows(Database(), query).empty());
    EXPECT_EQ(QLTMsiCloseDatabase(handle_), 0u);

    MsiHandle database;
    ASSERT_EQ(MsiOpenDatabaseW(Wide(WindowsPathOf(installed.string())).c_str(),
                               MSIDBOPEN_READONLY, database.Receive()),
              0u);
    EXPECT_EQ(Rows(database.get(), query), (std::vector<std::vector<std::string>>{{cache}}));
}

TEST_F(OpenPackageTest, DeletedCachedPackageCannotBeCopied) {
    const std::string product = "{6B2E1D4F-8C3A-4F72-AD95-3E4F5A6B7C12}";
    ASSERT_TRUE(InstallSmallProduct(product));
    fs::remove(LocalPackage(product));
    EXPECT_EQ(Open(product), QLTMSI_ERROR_WORKING_COPY);
    EXPECT_EQ(LastMessage(), "Error creating copy of specified msi database.");
    EXPECT_TRUE(TemporaryFiles().empty());
}

TEST_F(OpenPackageTest, CachedFileThatIsNoPackageFailsToOpen) {
    const std::string product = "{6B2E1D4F-8C3A-4F72-AD95-3E4F5A6B7C13}";
    ASSERT_TRUE(InstallSmallProduct(product));
    winsys_test::writeFile(LocalPackage(product).string(), "not a compound file\n");
    const DWORD status = Open(product);
    EXPECT_NE(status, 0u);
    EXPECT_EQ(LastMessage(), kOpenMessage);
    EXPECT_EQ(Context().database, 0u);
    EXPECT_EQ(QLTMsiCloseDatabase(handle_), 6u);
    EXPECT_TRUE(TemporaryFiles().empty());
}

TEST_F(OpenPackageTest, UnusableTemporaryDirectoryMakesNoFile) {
    const std::string tmp = Prefix().root() + "/tmp";
    setenv("TMPDIR", (Prefix().root() + "/no such directory").c_str(), 1);
    const DWORD status = Open(kAppProduct);
    setenv("TMPDIR", tmp.c_str(), 1);
    EXPECT_EQ(status, QLTMSI_ERROR_WORKING_COPY);
    EXPECT_EQ(LastMessage(), "Error creating copy of specified msi database.");
    EXPECT_TRUE(IsEmpty(Context().workingCopyPath));
    EXPECT_TRUE(TemporaryFiles().empty());
    EXPECT_FALSE(fs::exists(Prefix().root() + "/no such directory"));
}

TEST_F(OpenPackageTest, CloseLeavesNoTemporaryFileAfterUpdates) {
    ASSERT_EQ(Open(kAppProduct), 0u);
    const fs::path newCopy = WorkDirectory() / "plain.txt";
    ASSERT_EQ(Update(std::string(kAppDirectory) + "plain.txt", WindowsPathOf(newCopy.string()),
                     "plain.txt"),
              0u);
    EXPECT_FALSE(TemporaryFiles().empty());
    EXPECT_EQ(QLTMsiClose(handle_), 0u);
    EXPECT_TRUE(TemporaryFiles().empty());
}

// What killed commits and restores leave beside the package: cab caches of
// this package that nothing names. The next open removes them, and nothing
// else: not the cab cache the package names, not one an undo entry names, not
// files of other names, and nothing while another process works on the
// package. The package and the entry name their files through the Z: drive,
// the clean-up finds them through C:.
TEST_F(OpenPackageTest, OpenRemovesCabCachesThatNothingNames) {
    const std::string product = "{6B2E1D4F-8C3A-4F72-AD95-3E4F5A6B7C14}";
    ASSERT_TRUE(InstallSmallProduct(product));
    const fs::path installed = LocalPackage(product);
    const fs::path folder = installed.parent_path();
    const std::string base = installed.stem().string();
    const auto at = [&](const std::string& name) { return folder / name; };
    const auto windowsAt = [&](const std::string& name) { return WindowsPathOf(at(name).string()); };
    ASSERT_EQ(OnPackage(installed,
                        [&](MSIHANDLE database) {
                            EXPECT_EQ(Execute(database,
                                              "INSERT INTO `Property` (`Property`,`Value`) "
                                              "VALUES ('QuilletCabCache',?)",
                                              {windowsAt(base + ".c123.msi")}),
                                      0u);
                        }),
              0u);
    HKEY entry = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE,
                              u"Software\\Brambleway\\Quillet\\MsiRegUndo\\leftover-test", 0,
                              nullptr, 0, KEY_ALL_ACCESS, nullptr, &entry, nullptr),
              0);
    const std::u16string kept = Wide(windowsAt(base + ".d123.msi"));
    ASSERT_EQ(RegSetValueExW(entry, u"QuilletCab", 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(kept.c_str()),
                             static_cast<DWORD>((kept.size() + 1) * 2)),
              0);
    RegCloseKey(entry);

    const std::vector<std::string> leftovers = {base + ".a123.msi", base + ".b_45.MSI"};
    // Temporary copies go only through their maker's ledger: another
    // product's patch may be replacing its package through one right now.
    const std::vector<std::string> others = {base + ".c123.msi", base + ".d123.msi",
                                             base + ".z123.msi", base + ".a12x.msi",
                                             base + ".a1234.msi", "other.a123.msi",
                                             "a123_.msi", "qlt1A2B.tmp", "QLTf.tmp",
                                             "qlt12345.tmp", "qltx.tmp", "qlt.tmp"};
    const auto makeAll = [&] {
        for (const auto& name : leftovers) {
            fs::remove(at(name));
            winsys_test::writeFile(at(name).string(), "left over");
        }
        // A cab cache copied from a read-only one is read-only.
        fs::permissions(at(base + ".a123.msi"), fs::perms::owner_write | fs::perms::group_write,
                        fs::perm_options::remove);
        for (const auto& name : others)
            winsys_test::writeFile(at(name).string(), "kept");
    };
    makeAll();

    // While another process holds the package, its files may be about to be
    // named: nothing goes.
    ASSERT_EQ(Open(product), 0u);
    const std::u16string packagePath = Context().packagePath.data();
    ASSERT_EQ(QLTMsiCloseDatabase(handle_), 0u);
    makeAll();
    std::promise<void> taken, done;
    std::thread holder([&] {
        PackageLock lock(packagePath.c_str(), 0);
        EXPECT_TRUE(lock.held());
        taken.set_value();
        done.get_future().wait();
    });
    taken.get_future().wait();
    // The open itself waits for the holder, then gives up.
    const DWORD wait = packageLockWaitMilliseconds;
    packageLockWaitMilliseconds = 50;
    EXPECT_EQ(Open(product), QLTMSI_ERROR_PACKAGE_IN_USE);
    packageLockWaitMilliseconds = wait;
    QLTMsiCloseDatabase(handle_);
    done.set_value();
    holder.join();
    for (const auto& name : leftovers)
        EXPECT_TRUE(fs::exists(at(name))) << name;

    ASSERT_EQ(Open(product), 0u);
    ASSERT_EQ(QLTMsiCloseDatabase(handle_), 0u);
    for (const auto& name : leftovers)
        EXPECT_FALSE(fs::exists(at(name))) << name;
    for (const auto& name : others) {
        EXPECT_TRUE(fs::exists(at(name))) << name;
        fs::remove(at(name));
    }
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Software\\Brambleway\\Quillet\\MsiRegUndo\\leftover-test");
}

}  // namespace
}  // namespace update_test
