// One writer per installed package: the lock's names, a second holder that
// waits and gives up, an open that keeps the lock until its close, a
// compaction that yields to it, and a commit that refuses a package that
// changed since its working copy was taken.
#include "library/update/installed_products.h"

#include "api/open_package.h"
#include "platform/package_lock.h"

#include <future>
#include <thread>

namespace update_test {
namespace {

constexpr char kOpenMessage[] = "Error opening msi database. The file may be in use.";
constexpr char kCommitMessage[] =
    "Error committing changes to msi database. The file \n\tmay be in use, or read-only.";
constexpr DWORD kNt4 = 0x05650004;
constexpr DWORD kWindows2000 = 0x08930005;
constexpr DWORD kWindows98 = 0xC0000A04;

std::string LockName(const char16_t* path, DWORD version) {
    std::array<WCHAR, kPackageLockNameChars> name{};
    return PackageLockName(path, version, name) ? Narrow(name.data()) : "<none>";
}

// Holds a package's lock on a thread of its own until told to let go, as
// another process would.
class OtherHolder {
  public:
    explicit OtherHolder(const std::u16string& path) {
        std::promise<bool> taken;
        auto result = taken.get_future();
        thread_ = std::thread([this, path, taken = std::move(taken)]() mutable {
            PackageLock lock;
            taken.set_value(lock.Acquire(path.c_str(), 1000));
            release_.get_future().wait();
        });
        held_ = result.get();
    }
    ~OtherHolder() { Let(); }
    void Let() {
        if (thread_.joinable()) {
            release_.set_value();
            thread_.join();
        }
    }
    bool held() const { return held_; }

  private:
    std::promise<void> release_;
    std::thread thread_;
    bool held_ = false;
};

// Whether another thread could take the lock within a short wait.
bool OthersCanTake(const std::u16string& path) {
    return std::async(std::launch::async, [&] {
               PackageLock lock;
               return lock.Acquire(path.c_str(), 50);
           }).get();
}

class PackageLockTest : public InstalledProductTest {
  protected:
    void SetUp() override {
        InstalledProductTest::SetUp();
        InstallAppOnce();
        savedWait_ = packageLockWaitMilliseconds;
        packageLockWaitMilliseconds = 100;
    }
    void TearDown() override {
        packageLockWaitMilliseconds = savedWait_;
        InstalledProductTest::TearDown();
    }
    // The path as the product's registration names it, which names the lock.
    std::u16string PackagePath(const std::string& product) {
        WCHAR path[MAX_PATH + 1] = {};
        DWORD count = MAX_PATH + 1;
        EXPECT_EQ(MsiGetProductInfoW(Wide(product).c_str(), INSTALLPROPERTY_LOCALPACKAGE, path,
                                     &count),
                  0u);
        return path;
    }

    DWORD savedWait_ = 0;
};

TEST(PackageLockNames, FoldLetterCaseAndDropTheNamespaceWhereThereIsNone) {
    const std::string name = LockName(u"C:\\Windows\\Installer\\1a2b.msi", kWindows2000);
    EXPECT_EQ(name.rfind("Global\\QuilletPackage-", 0), 0u) << name;
    EXPECT_EQ(name.size(), std::string("Global\\QuilletPackage-").size() + 16);
    EXPECT_EQ(LockName(u"c:\\WINDOWS\\installer\\1A2B.MSI", kWindows2000), name);
    EXPECT_NE(LockName(u"C:\\Windows\\Installer\\1a2c.msi", kWindows2000), name);
    EXPECT_EQ(LockName(u"C:\\Windows\\Installer\\1a2b.msi", kNt4), name.substr(7));
    EXPECT_EQ(LockName(u"C:\\Windows\\Installer\\1a2b.msi", kWindows98), name.substr(7));
    EXPECT_EQ(LockName(u"", kWindows2000), "<none>");
    EXPECT_EQ(LockName(nullptr, kWindows2000), "<none>");
}

TEST(PackageLocks, AnotherHolderMakesAWaiterGiveUpUntilItLetsGo) {
    const std::u16string path = u"C:\\Windows\\Installer\\locked.msi";
    OtherHolder other(path);
    ASSERT_TRUE(other.held());
    PackageLock lock;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(lock.Acquire(path.c_str(), 200));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));
    EXPECT_FALSE(lock.held());
    // Another package is not held up.
    EXPECT_TRUE(lock.Acquire(u"C:\\Windows\\Installer\\other.msi", 0));
    other.Let();
    EXPECT_TRUE(lock.Acquire(path.c_str(), 1000));
    // The holding thread may take it again, as a compaction inside a restore
    // does; one release of the outer holder lets others in.
    PackageLock inner;
    EXPECT_TRUE(inner.Acquire(path.c_str(), 0));
    inner.Release();
    EXPECT_FALSE(OthersCanTake(path));
    lock.Release();
    EXPECT_TRUE(OthersCanTake(path));
}

TEST_F(PackageLockTest, OpenWaitsForAnotherHolderThenFailsWithTheInUseMessage) {
    const std::u16string path = PackagePath(kAppProduct);
    {
        OtherHolder other(path);
        ASSERT_TRUE(other.held());
        EXPECT_EQ(Open(kAppProduct), QLTMSI_ERROR_PACKAGE_IN_USE);
        EXPECT_EQ(LastMessage(), kOpenMessage);
        EXPECT_TRUE(TemporaryFiles().empty()) << "no working copy is taken";
        EXPECT_EQ(QLTMsiCloseDatabase(handle_), 6u);
    }
    // Held from the open to the close, and by nothing after it.
    ASSERT_EQ(Open(kAppProduct), 0u);
    EXPECT_FALSE(OthersCanTake(path));
    EXPECT_EQ(DefragMsiFile(path.c_str()), QLTMSI_DEFRAG_DONE) << "the holder's own thread";
    EXPECT_EQ(QLTMsiCloseDatabase(handle_), 0u);
    EXPECT_TRUE(OthersCanTake(path));
    // A failed open lets go as well.
    EXPECT_EQ(Open(kAppProduct, "{00000000-1111-2222-3333-444444444444}"), 16u);
    EXPECT_FALSE(OthersCanTake(path));
    EXPECT_EQ(QLTMsiClose(handle_), 0u);
    EXPECT_TRUE(OthersCanTake(path));
}

TEST_F(PackageLockTest, CompactionLeavesAPackageAnotherHolderHasAlone) {
    const std::string product = "{6B2E1D4F-8C3A-4F72-AD95-3E4F5A6B7C21}";
    ASSERT_TRUE(InstallSmallProduct(product));
    const fs::path installed = LocalPackage(product);
    const std::string before = winsys_test::readFile(installed.string());
    OtherHolder other(PackagePath(product));
    ASSERT_TRUE(other.held());
    EXPECT_EQ(DefragMsiFile(PackagePath(product).c_str()), QLTMSI_DEFRAG_NOTHING_CHANGED);
    EXPECT_EQ(winsys_test::readFile(installed.string()), before);
    EXPECT_TRUE(TemporaryFiles().empty());
}

// Another program (or a library that does not take the lock) writes the
// installed package between the open and the commit: the commit refuses,
// and nothing the commit would leave is left.
TEST_F(PackageLockTest, CommitRefusesAPackageThatChangedSinceTheOpen) {
    const std::string product = "{6B2E1D4F-8C3A-4F72-AD95-3E4F5A6B7C22}";
    ASSERT_TRUE(InstallSmallProduct(product));
    const fs::path installed = LocalPackage(product);
    const fs::path backup = WorkDirectory() / "refused-backup";
    fs::create_directories(backup);
    const auto installerFiles = [&] {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(installed.parent_path()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    };
    const auto filesBefore = installerFiles();

    ASSERT_EQ(Open(product), 0u);
    const fs::path newCopy = WorkDirectory() / "only-new.txt";
    winsys_test::writeFile(newCopy.string(), "a new copy\n");
    ASSERT_EQ(Update("C:\\Program Files\\Small " + product.substr(1, product.size() - 2) +
                         "\\only.txt",
                     WindowsPathOf(newCopy.string()), "only.txt"),
              0u)
        << LastMessage();
    // The other writer: same tables but one property more.
    ASSERT_EQ(OnPackage(installed,
                        [](MSIHANDLE database) {
                            EXPECT_EQ(Execute(database,
                                              "INSERT INTO `Property` (`Property`,`Value`) "
                                              "VALUES ('OtherWriter','1')"),
                                      0u);
                        }),
              0u);
    const std::string changed = winsys_test::readFile(installed.string());
    const DWORD status =
        QLTMsiCommitChanges(handle_, Wide(WindowsPathOf(backup.string())).c_str());
    EXPECT_EQ(status, QLTMSI_ERROR_FUNCTION_FAILED);
    EXPECT_EQ(LastMessage(), kCommitMessage);
    EXPECT_EQ(winsys_test::readFile(installed.string()), changed);
    EXPECT_TRUE(fs::is_empty(backup)) << "no undo record for a commit that did not happen";
    EXPECT_EQ(QLTMsiCloseDatabase(handle_), 0u);
    EXPECT_EQ(installerFiles(), filesBefore);
    EXPECT_TRUE(TemporaryFiles().empty());
}

}  // namespace
}  // namespace update_test
