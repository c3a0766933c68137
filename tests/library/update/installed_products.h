// Products for the open and update tests: wixl builds packages from
// tests/data/update, `qltmsi install` puts them into one prefix for the test
// program (the registry keeps its connection for the process), and each test
// works on them through the library's exports. Helpers read tables of a
// database and list the temporary files the library leaves.
#pragma once

#include "library/library_test_support.h"
#include "platform/installer_handle.h"

#include <qltmsi.h>

#include <cstdlib>
#include <sstream>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace update_test {

namespace fs = std::filesystem;
using library_test::Narrow;
using library_test::Wide;
using library_test::WindowsPathOf;

inline constexpr char kAppProduct[] = "{5A1D0C3E-7B2F-4E61-9C84-2D3E4F5A6B01}";
inline constexpr char kSmallProduct[] = "{6B2E1D4F-8C3A-4F72-AD95-3E4F5A6B7C01}";
inline constexpr char kAppDirectory[] = "C:\\Program Files\\Update Sample\\";
inline constexpr char kWineDll[] = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/version.dll";

// The prefix of the test program, made once and removed at its end.
winsys_test::TestPrefix& Prefix();
fs::path WorkDirectory();

// Runs a shell command in the test program's prefix; its exit status.
int Run(const std::string& command);

// Builds tests/data/update/<name>.wxs with wixl in the work directory, after
// replacing each key of `replacements` by its value; the native path.
fs::path BuildPackage(const std::string& name, const std::string& output,
                      const std::map<std::string, std::string>& replacements = {});

// qltmsi install of a native package path; its exit status.
int Install(const fs::path& package);

// A copy of the small product under a new product code, installed; false
// when the build or install failed.
bool InstallSmallProduct(const std::string& productCode);

// The app product, built and installed once per test program. Its folder
// component gets the folder itself as key path (wixl always names a file).
void InstallAppOnce();

// The installed package of a product, as a native path; empty when none.
fs::path LocalPackage(const std::string& productCode);
fs::path Native(const WideString& windowsPath);

// Files the library's temporary names could leave in TMPDIR.
// The temporary folder's files; while any is there, this process's ledger
// of them is left out.
std::vector<std::string> TemporaryFiles();

// One statement on a database: every row's fields as text ("" for null,
// integers in decimal). `values` fill the statement's `?` in order.
std::vector<std::vector<std::string>> Rows(MSIHANDLE database, const std::string& query,
                                           const std::vector<std::string>& values = {});
UINT Execute(MSIHANDLE database, const std::string& statement,
             const std::vector<std::string>& values = {});

// Runs `body` on the package file opened in direct mode, then commits.
template <typename Body>
UINT OnPackage(const fs::path& package, Body body) {
    MsiHandle database;
    UINT status = MsiOpenDatabaseW(Wide(WindowsPathOf(package.string())).c_str(),
                                   MSIDBOPEN_DIRECT, database.Receive());
    if (status != ERROR_SUCCESS)
        return status;
    body(database.get());
    return MsiDatabaseCommit(database.get());
}

// The library attached to the process, a handle open, and the context torn
// down after each test.
class InstalledProductTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    DWORD Open(const std::string& productCode, const char* first = nullptr,
               const char* second = nullptr, const char* transformDirectory = nullptr);
    DWORD Update(const std::string& installedPath, const std::optional<std::string>& newPath,
                 const std::optional<std::string>& newName);
    std::string LastMessage();
    PatchContext& Context() { return *libraryState.currentContext; }
    MSIHANDLE Database() { return Context().database; }

    int handle_ = -1;
};

}  // namespace update_test
