// One writer per installed package: the lock's names, a second holder that
// waits and gives up, a lock that goes with its holder object rather than a
// thread, a process killed holding it, an open that keeps the lock until its
// close, a compaction that yields to it, and a commit that refuses a package
// that changed since its working copy was taken.
#include "library/backup/process_runner.h"
#include "library/update/installed_products.h"

#include "api/open_package.h"
#include "platform/package_lock.h"

#include <signal.h>

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
    // Not even the thread that took it takes it twice: code that runs under
    // a held lock relies on it instead.
    PackageLock inner;
    EXPECT_FALSE(inner.Acquire(path.c_str(), 0));
    EXPECT_FALSE(OthersCanTake(path));
    lock.Release();
    EXPECT_TRUE(OthersCanTake(path));
}

// Whether another process could take the lock without waiting.
bool AnotherProcessCanTake(const std::u16string& path) {
    const auto scratch = fs::temp_directory_path();
    const backup_test::Finished taker =
        backup_test::RunProgram({PACKAGE_LOCK_HOLDER, "try", Narrow(path.c_str())},
                                scratch.string());
    EXPECT_TRUE(taker.status == 0 || taker.status == 1) << taker.err;
    return taker.status == 0;
}

// Taken on one thread, let go on another while others wait: the waiters get
// it at once, in this process and in another, while the taking thread is
// still alive.
TEST(PackageLocks, GoWithTheHolderObjectNotTheThreadThatTookThem) {
    const std::u16string path = u"C:\\Windows\\Installer\\crossthread.msi";
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        auto lock = std::make_unique<PackageLock>();
        std::promise<bool> taken;
        std::promise<void> finish;
        std::thread taker([&] {
            taken.set_value(lock->Acquire(path.c_str(), 1000));
            finish.get_future().wait();
        });
        ASSERT_TRUE(taken.get_future().get());
        EXPECT_FALSE(AnotherProcessCanTake(path));
        auto waiter = std::async(std::launch::async, [&] {
            PackageLock next;
            const auto start = std::chrono::steady_clock::now();
            const bool had = next.Acquire(path.c_str(), 5000);
            const auto waited = std::chrono::steady_clock::now() - start;
            return had ? std::chrono::duration_cast<std::chrono::milliseconds>(waited).count()
                       : -1;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        if (round == 0) {
            lock->Release();
        } else {
            lock.reset();  // the destructor lets go as well
        }
        const auto waitedMilliseconds = waiter.get();
        EXPECT_GE(waitedMilliseconds, 0) << "the waiter got it";
        EXPECT_LT(waitedMilliseconds, 2000) << "as soon as it was let go";
        EXPECT_TRUE(AnotherProcessCanTake(path));
        finish.set_value();
        taker.join();
    }
}

// A holder that is killed hands the lock over as the process ends: the next
// one gets it at once instead of waiting out its time.
TEST(PackageLocks, AProcessKilledHoldingTheLockHandsItOverAtOnce) {
    const std::u16string path = u"C:\\Windows\\Installer\\killed.msi";
    const auto scratch = fs::temp_directory_path();
    const backup_test::Started holder = backup_test::StartProgram(
        {PACKAGE_LOCK_HOLDER, "hold", Narrow(path.c_str())}, scratch.string());
    ASSERT_GT(holder.pid, 0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (winsys_test::readFile(holder.outFile) != "held\n" &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_FALSE(OthersCanTake(path));
    kill(holder.pid, SIGKILL);
    const backup_test::Finished killed = backup_test::Wait(holder);
    EXPECT_EQ(killed.out, "held\n") << killed.err;
    PackageLock lock;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(lock.Acquire(path.c_str(), 10000));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
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
    EXPECT_EQ(DefragMsiFile(path.c_str()), QLTMSI_DEFRAG_NOTHING_CHANGED)
        << "a compaction by the opener's own thread waits like any other";
    EXPECT_EQ(QLTMsiCloseDatabase(handle_), 0u);
    EXPECT_TRUE(OthersCanTake(path));
    // A failed open lets go as well.
    EXPECT_EQ(Open(kAppProduct, "{00000000-1111-2222-3333-444444444444}"), 16u);
    EXPECT_FALSE(OthersCanTake(path));
    EXPECT_EQ(QLTMsiClose(handle_), 0u);
    EXPECT_TRUE(OthersCanTake(path));
}

// A caller that opens on one thread and closes on another: the close lets
// go, so the next open, from any thread or process, goes ahead at once.
TEST_F(PackageLockTest, OpenOnOneThreadAndCloseOnAnotherLetsTheNextOpenerIn) {
    const std::u16string path = PackagePath(kAppProduct);
    std::promise<UINT> opened;
    std::promise<void> finish;
    std::thread opener([&] {
        opened.set_value(Open(kAppProduct));
        finish.get_future().wait();
    });
    ASSERT_EQ(opened.get_future().get(), 0u) << LastMessage();
    EXPECT_FALSE(AnotherProcessCanTake(path));
    auto waiter = std::async(std::launch::async, [&] {
        PackageLock next;
        return next.Acquire(path.c_str(), 5000);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(QLTMsiCloseDatabase(handle_), 0u);
    EXPECT_TRUE(waiter.get());
    EXPECT_TRUE(AnotherProcessCanTake(path));
    EXPECT_EQ(Open(kAppProduct), 0u) << LastMessage();
    EXPECT_EQ(QLTMsiCloseDatabase(handle_), 0u);
    finish.set_value();
    opener.join();
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
