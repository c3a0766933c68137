// Share modes between a package held open by the Installer API and the file
// calls (CreateFileW, DeleteFileW, CopyFileW), both ways, in one process and
// between processes, with the answers of share_modes_cases.h (which the
// Wine test checks against Wine).
#include "cfb_test_util.h"
#include "share_modes_cases.h"

#include <msi.h>
#include <msiquery.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

using namespace cfbtest;
using namespace sharetest;

namespace {

std::u16string windowsPath(const std::string& native) {
    std::u16string out = u"Z:";
    for (char c : native)
        out.push_back(c == '/' ? u'\\' : char16_t(static_cast<unsigned char>(c)));
    return out;
}

// Runs `hold` in a forked process, which keeps whatever it opened until
// finish(); ready() is what `hold` returned.
class Holder {
  public:
    explicit Holder(const std::function<bool()>& hold) {
        int toParent[2], toChild[2];
        EXPECT_EQ(pipe(toParent), 0);
        EXPECT_EQ(pipe(toChild), 0);
        pid_ = fork();
        if (pid_ == 0) {
            close(toParent[0]);
            close(toChild[1]);
            char opened = hold() ? 1 : 0;
            (void)!write(toParent[1], &opened, 1);
            (void)!read(toChild[0], &opened, 1);
            _exit(0);
        }
        close(toParent[1]);
        close(toChild[0]);
        go_ = toChild[1];
        char opened = 0;
        EXPECT_EQ(read(toParent[0], &opened, 1), 1);
        close(toParent[0]);
        opened_ = opened == 1;
    }
    ~Holder() { finish(); }
    bool opened() const { return opened_; }
    void finish() {
        if (go_ < 0)
            return;
        close(go_);  // the child reads end of file and exits
        go_ = -1;
        int status = 0;
        waitpid(pid_, &status, 0);
    }

  private:
    pid_t pid_ = -1;
    int go_ = -1;
    bool opened_ = false;
};

class ShareModes : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("QLTMSI_PREFIX", (dir.path() / "prefix").c_str(), 1);
        MSIHANDLE db = 0;
        ASSERT_EQ(MsiOpenDatabaseW(package.c_str(), MSIDBOPEN_CREATE, &db), 0u);
        ASSERT_EQ(MsiDatabaseCommit(db), 0u);
        MsiCloseHandle(db);
    }
    void TearDown() override { MsiCloseAllHandles(); }

    // Opens the package; 0 when refused.
    MSIHANDLE openPackage(LPCWSTR persist) const {
        MSIHANDLE db = 0;
        return MsiOpenDatabaseW(package.c_str(), persist, &db) == ERROR_SUCCESS ? db : 0;
    }
    HANDLE openHandle(const HandleKind& kind) const {
        return CreateFileW(package.c_str(), kind.access, kind.share, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    }
    // Whether the handle can be opened now, and the error when it cannot.
    bool handleOpens(const HandleKind& kind, DWORD* error = nullptr) const {
        HANDLE h = openHandle(kind);
        if (error)
            *error = h == INVALID_HANDLE_VALUE ? GetLastError() : 0;
        if (h == INVALID_HANDLE_VALUE)
            return false;
        CloseHandle(h);
        return true;
    }
    bool packageOpens(const PackageMode& mode) const {
        MSIHANDLE db = openPackage(mode.persist);
        if (db)
            MsiCloseHandle(db);
        return db != 0;
    }

    ScratchDir dir;
    std::u16string package = windowsPath(dir.file("p.msi"));
};

TEST_F(ShareModes, APackageOpenGuardsItsFileAgainstHandlesOfThisProcess) {
    for (const PackageMode& mode : kModes) {
        MSIHANDLE db = openPackage(mode.persist);
        ASSERT_NE(db, 0u) << mode.name;
        for (const HandleKind& kind : kHandles) {
            DWORD error = 0;
            bool opens = handleOpens(kind, &error);
            EXPECT_EQ(opens, together(mode, kind)) << mode.name << " then " << kind.name;
            if (!opens) {
                EXPECT_EQ(error, DWORD(ERROR_SHARING_VIOLATION))
                    << mode.name << " then " << kind.name;
            }
        }
        MsiCloseHandle(db);
    }
}

TEST_F(ShareModes, HandlesOfThisProcessGuardTheFileAgainstPackageOpens) {
    for (const HandleKind& kind : kHandles) {
        HANDLE h = openHandle(kind);
        ASSERT_NE(h, INVALID_HANDLE_VALUE) << kind.name;
        for (const PackageMode& mode : kModes)
            EXPECT_EQ(packageOpens(mode), together(mode, kind))
                << kind.name << " then " << mode.name;
        CloseHandle(h);
    }
}

TEST_F(ShareModes, APackageOpenInAnotherProcessGuardsItsFile) {
    const std::u16string copy = windowsPath(dir.file("copy.msi"));
    ASSERT_TRUE(CopyFileW(package.c_str(), copy.c_str(), TRUE));
    for (const PackageMode& mode : kModes) {
        Holder holder([&] { return openPackage(mode.persist) != 0; });
        ASSERT_TRUE(holder.opened()) << mode.name;
        for (const HandleKind& kind : kHandles) {
            DWORD error = 0;
            bool opens = handleOpens(kind, &error);
            EXPECT_EQ(opens, together(mode, kind)) << mode.name << " elsewhere, then " << kind.name;
            if (!opens) {
                EXPECT_EQ(error, DWORD(ERROR_SHARING_VIOLATION))
                    << mode.name << " elsewhere, then " << kind.name;
            }
        }
        SetLastError(0);
        EXPECT_FALSE(DeleteFileW(package.c_str())) << mode.name;
        EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
        // Replacing it by a copy would delete it too.
        EXPECT_FALSE(CopyFileW(copy.c_str(), package.c_str(), FALSE)) << mode.name;
        EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
        // Renaming over it is refused as Wine and Windows refuse it.
        EXPECT_FALSE(MoveFileExW(copy.c_str(), package.c_str(), MOVEFILE_REPLACE_EXISTING))
            << mode.name;
        EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    }
    // The locks went with the process.
    EXPECT_TRUE(handleOpens(kHandles[4]));
}

TEST_F(ShareModes, HandlesInAnotherProcessGuardTheFileAgainstPackageOpens) {
    for (const HandleKind& kind : kHandles) {
        Holder holder([&] { return openHandle(kind) != INVALID_HANDLE_VALUE; });
        ASSERT_TRUE(holder.opened()) << kind.name;
        for (const PackageMode& mode : kModes)
            EXPECT_EQ(packageOpens(mode), together(mode, kind))
                << kind.name << " elsewhere, then " << mode.name;
    }
}

TEST_F(ShareModes, ANewPackageIsGuardedFromItsCreationAndAfterItsCommits) {
    const std::u16string fresh = windowsPath(dir.file("new.msi"));
    auto writerElsewhere = [&](const std::u16string& path) {
        Holder writer([&] {
            return CreateFileW(path.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, 0,
                               nullptr) != INVALID_HANDLE_VALUE;
        });
        return writer.opened();
    };
    MSIHANDLE db = 0;
    ASSERT_EQ(MsiOpenDatabaseW(fresh.c_str(), MSIDBOPEN_CREATE, &db), 0u);
    EXPECT_FALSE(writerElsewhere(fresh));
    ASSERT_EQ(MsiDatabaseCommit(db), 0u);
    EXPECT_FALSE(writerElsewhere(fresh));
    MsiCloseHandle(db);

    // A transacted open writes its commit to a new file that replaces the
    // old one: the new file is guarded as the old one was.
    db = openPackage(MSIDBOPEN_TRANSACT);
    ASSERT_NE(db, 0u);
    MSIHANDLE view = 0;
    ASSERT_EQ(
        MsiDatabaseOpenViewW(db, u"CREATE TABLE `T` (`K` SHORT NOT NULL PRIMARY KEY `K`)", &view),
        0u);
    ASSERT_EQ(MsiViewExecute(view, 0), 0u);
    MsiCloseHandle(view);
    ASSERT_EQ(MsiDatabaseCommit(db), 0u);
    EXPECT_FALSE(writerElsewhere(package));
    EXPECT_FALSE(DeleteFileW(package.c_str()));
    MsiCloseHandle(db);
    EXPECT_TRUE(writerElsewhere(package));
}

// Opens that race for the same file from several processes: the check and
// the taking are one step, so exactly one exclusive open wins each round
// (never none, never two).
TEST_F(ShareModes, RacingExclusiveOpensLetExactlyOneIn) {
    constexpr int kRounds = 20, kRacers = 6;
    for (int round = 0; round < kRounds; ++round) {
        int start[2], results[2], release[2];
        ASSERT_EQ(pipe(start), 0);
        ASSERT_EQ(pipe(results), 0);
        ASSERT_EQ(pipe(release), 0);
        pid_t racers[kRacers];
        for (pid_t& pid : racers) {
            pid = fork();
            if (pid == 0) {
                close(start[1]);
                close(results[0]);
                close(release[1]);
                char byte;
                (void)!read(start[0], &byte, 1);  // end of file: go
                HANDLE h = CreateFileW(package.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                       OPEN_EXISTING, 0, nullptr);
                byte = h != INVALID_HANDLE_VALUE                   ? 'y'
                       : GetLastError() == ERROR_SHARING_VIOLATION ? 'n'
                                                                   : '?';
                (void)!write(results[1], &byte, 1);
                (void)!read(release[0], &byte, 1);
                _exit(0);
            }
        }
        close(start[0]);
        close(results[1]);
        close(release[0]);
        close(start[1]);
        std::string seen;
        char byte;
        while (seen.size() < kRacers && read(results[0], &byte, 1) == 1)
            seen.push_back(byte);
        close(results[0]);
        close(release[1]);
        for (pid_t pid : racers)
            waitpid(pid, nullptr, 0);
        ASSERT_EQ(seen.size(), size_t(kRacers));
        EXPECT_EQ(std::count(seen.begin(), seen.end(), 'y'), 1)
            << "round " << round << ": " << seen;
        EXPECT_EQ(std::count(seen.begin(), seen.end(), '?'), 0)
            << "round " << round << ": " << seen;
    }
}

}  // namespace
