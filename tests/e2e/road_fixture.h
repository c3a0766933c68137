// The state a patch road starts from and the invariants that must hold
// after anything happens to it: the trio product patched once (so that a
// previous cab cache exists), put back byte for byte before every run, and a
// check from outside (msiinfo, cabextract, the registry) that the package is
// whole, its cab cache holds every file it names, the undo entries are
// complete and nothing is left in the Installer or temporary folder.
#pragma once

#include "library/update/installed_products.h"

#include <winreg.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace update_test {

std::string ReadAll(const fs::path& path);
std::set<std::string> NamesIn(const fs::path& folder);
// The undo entries' names and CurKey, read without the library.
std::vector<std::u16string> UndoEntries(DWORD* curKey);

class RoadTest : public InstalledProductTest {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Installs the product under `code` and commits the first patch.
    void MakeBaseline(const std::string& code);
    // Open, update the files (key to new file; an empty path removes it),
    // commit through the exports; false with the failing step's status and
    // message in `problem`.
    bool Patch(const std::map<std::string, std::string>& files, LPCWSTR backup,
               std::string& problem, std::string* backupString = nullptr);
    // Puts the baseline back: package and cab cache bytes, nothing else in
    // the Installer, temporary and backup folders, no undo entries.
    void ResetToBaseline();

    // Lost or broken: the package, its cab cache and the undo entries that
    // CurKey counts.
    std::vector<std::string> CheckNothingLost();
    // What the library left in the Installer and temporary folders, and
    // undo entries beyond CurKey.
    std::vector<std::string> LeftBehind();
    std::vector<std::string> CheckInvariants();

    std::string Installed(const std::string& key) const;
    fs::path CabCacheOf(const std::string& packageBytes);

    std::string product_, bare_;
    fs::path package_, installerFolder_, temporaryFolder_, backupFolder_;
    std::map<std::string, std::string> firstBytes_, secondBytes_, firstFiles_, secondFiles_;
    std::string baselinePackage_;
    std::map<std::string, std::string> baselineCabCaches_;
    std::set<std::string> others_;  // other products' files in the Installer folder
    std::vector<std::string> unexplained_;  // failures that came without a message
    QLTMSI_PROGRESS_CALLBACK progress_ = nullptr;  // given to the patch's open

  private:
    std::vector<std::string> CheckPackage();
    std::string NewFile(const std::string& folder, const std::string& key,
                        const std::string& bytes);
    std::map<std::string, std::vector<std::string>> checkedStates_;
    std::map<std::string, fs::path> cabCacheOfPackage_;
};

}  // namespace update_test
