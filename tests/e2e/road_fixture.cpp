// The road's baseline and its invariants, shared by the fault-injection and
// the crash tests.
#include "road_fixture.h"

#include <qltmsi.h>

namespace update_test {
namespace {

constexpr char16_t kUndoKey[] = u"Software\\Brambleway\\Quillet\\MsiRegUndo";

std::string Quoted(const fs::path& path) {
    return "'" + path.string() + "'";
}

void EmptyFolder(const fs::path& folder) {
    for (const auto& entry : fs::directory_iterator(folder))
        fs::remove_all(entry.path());
}

std::optional<std::string> RegText(HKEY key, const char16_t* name) {
    WCHAR value[400] = {};
    DWORD size = sizeof value - 2, type = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(value), &size) != 0 ||
        type != REG_SZ)
        return std::nullopt;
    return Narrow(value);
}

void ClearUndoEntries() {
    DWORD curKey = 0;
    for (const std::u16string& entry : UndoEntries(&curKey))
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, (std::u16string(kUndoKey) + u"\\" + entry).c_str());
    HKEY undo = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUndoKey, 0, KEY_ALL_ACCESS, &undo) == 0) {
        RegDeleteValueW(undo, u"CurKey");
        RegCloseKey(undo);
    }
}

}  // namespace

std::string ReadAll(const fs::path& path) {
    return winsys_test::readFile(path.string());
}

std::set<std::string> NamesIn(const fs::path& folder) {
    std::set<std::string> names;
    if (fs::exists(folder))
        for (const auto& entry : fs::directory_iterator(folder))
            names.insert(entry.path().filename().string());
    return names;
}

std::vector<std::u16string> UndoEntries(DWORD* curKey) {
    std::vector<std::u16string> entries;
    *curKey = 0;
    HKEY undo = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUndoKey, 0, KEY_READ, &undo) != 0)
        return entries;
    DWORD size = sizeof *curKey;
    RegQueryValueExW(undo, u"CurKey", nullptr, nullptr, reinterpret_cast<LPBYTE>(curKey), &size);
    WCHAR name[64];
    for (DWORD i = 0;; ++i) {
        DWORD length = 64;
        if (RegEnumKeyExW(undo, i, name, &length, nullptr, nullptr, nullptr, nullptr) != 0)
            break;
        entries.push_back(name);
    }
    RegCloseKey(undo);
    return entries;
}

void RoadTest::SetUp() {
    InstalledProductTest::SetUp();
    // Each run opens and closes its own handle.
    QLTMsiClose(handle_);
    handle_ = -1;
}

void RoadTest::TearDown() {
    handle_ = QLTMsiOpen();
    InstalledProductTest::TearDown();
}

void RoadTest::MakeBaseline(const std::string& code) {
    product_ = code;
    bare_ = code.substr(1, code.size() - 2);
    const fs::path built = BuildPackage(
        "trio", "trio-" + bare_, {{"TRIOCODE", bare_}, {"TRIOCOMPONENT", "C" + bare_.substr(1)}});
    ASSERT_EQ(Install(built), 0);
    package_ = LocalPackage(code);
    ASSERT_TRUE(fs::exists(package_));
    installerFolder_ = package_.parent_path();
    // Other products of the test program share the folder.
    others_ = NamesIn(installerFolder_);
    others_.erase(package_.filename().string());
    temporaryFolder_ = fs::path(Prefix().root()) / "tmp";
    backupFolder_ = fs::path(Prefix().driveC()) / ("backups-" + bare_);
    fs::create_directories(backupFolder_);
    firstBytes_ = {{"readme", "readme, first patch\n"}, {"notes", std::string(60000, 'f')}};
    secondBytes_ = {{"readme", "readme, second patch\n"}, {"notes", std::string(70000, 's')}};
    for (const auto& [key, bytes] : firstBytes_)
        firstFiles_[key] = NewFile("first", key, bytes);
    for (const auto& [key, bytes] : secondBytes_)
        secondFiles_[key] = NewFile("second", key, bytes);
    std::string problem;
    ASSERT_TRUE(Patch(firstFiles_, nullptr, problem)) << problem;
    baselinePackage_ = ReadAll(package_);
    for (const std::string& name : NamesIn(installerFolder_))
        if (name != package_.filename().string() && !others_.count(name))
            baselineCabCaches_[name] = ReadAll(installerFolder_ / name);
    ASSERT_EQ(baselineCabCaches_.size(), 1u);
}

std::string RoadTest::NewFile(const std::string& folder, const std::string& key,
                              const std::string& bytes) {
    const fs::path path = WorkDirectory() / (bare_ + "-" + folder) / (key + ".txt");
    fs::create_directories(path.parent_path());
    winsys_test::writeFile(path.string(), bytes);
    return WindowsPathOf(path.string());
}

std::string RoadTest::Installed(const std::string& key) const {
    return "C:\\Program Files\\Trio " + bare_ + "\\" + key + ".txt";
}

bool RoadTest::Patch(const std::map<std::string, std::string>& files, LPCWSTR backup,
                     std::string& problem, std::string* backupString) {
    const int handle = QLTMsiOpen();
    if (handle == -1) {
        problem = "QLTMsiOpen answered -1";
        return false;
    }
    auto step = [&](const char* what, DWORD status) {
        if (status == 0)
            return true;
        const char* message = QLTMsiGetLastErrorStrA(handle);
        problem = std::string(what) + " " + std::to_string(status) + ": " +
                  (message ? message : "<no message>");
        if (message == nullptr)
            unexplained_.push_back(problem);
        return false;
    };
    const WideString product = Wide(product_);
    bool done = step("open", QLTMsiOpenDatabase(handle, product.c_str(), nullptr, nullptr,
                                                nullptr, progress_));
    for (const auto& [key, file] : files) {
        if (!done)
            break;
        const WideString installed = Wide(Installed(key)), source = Wide(file),
                         name = Wide(key + ".txt");
        // An empty new file removes the file.
        done = step("update", QLTMsiUpdateFile(handle, installed.c_str(),
                                               file.empty() ? nullptr : source.c_str(),
                                               name.c_str()));
    }
    if (done)
        done = step("commit", QLTMsiCommitChanges(handle, backup));
    if (done && backupString != nullptr) {
        char text[400] = {};
        QLTMSI_DWORD size = sizeof text;
        if (QLTMsiGetBackupStringA(handle, text, &size) == QLTMSI_SUCCESS)
            *backupString = text;
    }
    QLTMsiClose(handle);
    return done;
}

void RoadTest::ResetToBaseline() {
    EmptyFolder(temporaryFolder_);
    EmptyFolder(backupFolder_);
    for (const std::string& name : NamesIn(installerFolder_))
        if (!others_.count(name))
            fs::remove(installerFolder_ / name);
    winsys_test::writeFile(package_.string(), baselinePackage_);
    for (const auto& [name, bytes] : baselineCabCaches_)
        winsys_test::writeFile((installerFolder_ / name).string(), bytes);
    ClearUndoEntries();
}

fs::path RoadTest::CabCacheOf(const std::string& packageBytes) {
    auto known = cabCacheOfPackage_.find(packageBytes);
    if (known != cabCacheOfPackage_.end())
        return known->second;
    MsiHandle database;
    fs::path named;
    if (MsiOpenDatabaseW(Wide(WindowsPathOf(package_.string())).c_str(), MSIDBOPEN_READONLY,
                         database.Receive()) == ERROR_SUCCESS) {
        auto rows = Rows(database.get(), "SELECT `Value` FROM `Property` WHERE `Property`=?",
                         {"QuilletCabCache"});
        if (!rows.empty())
            named = Native(Wide(rows[0][0]));
    }
    return cabCacheOfPackage_[packageBytes] = named;
}

std::vector<std::string> RoadTest::CheckPackage() {
    const std::string bytes = ReadAll(package_);
    const fs::path cabCache = CabCacheOf(bytes);
    const std::string state = bytes + '\0' + cabCache.string() + '\0' +
                              (fs::exists(cabCache) ? ReadAll(cabCache) : "<none>");
    auto known = checkedStates_.find(state);
    if (known != checkedStates_.end())
        return known->second;
    std::vector<std::string>& problems = checkedStates_[state];
    MsiHandle database;
    if (MsiOpenDatabaseW(Wide(WindowsPathOf(package_.string())).c_str(), MSIDBOPEN_READONLY,
                         database.Receive()) != ERROR_SUCCESS) {
        problems.push_back("the package does not open");
        return problems;
    }
    if (cabCache.empty() || !fs::exists(cabCache)) {
        problems.push_back("the cab cache the package names is missing: " + cabCache.string());
        return problems;
    }
    const fs::path check = fs::path(Prefix().root()) / "check";
    fs::remove_all(check);
    fs::create_directories(check / "files");
    const fs::path cabinet = check / "QuilletCab.cab";
    if (update_test::Run("msiinfo extract " + Quoted(cabCache) + " QuilletCab >" + Quoted(cabinet) +
            " 2>/dev/null") != 0 ||
        update_test::Run("cabextract -q -t " + Quoted(cabinet) + " >/dev/null 2>&1") != 0 ||
        update_test::Run("cabextract -q -d " + Quoted(check / "files") + " " + Quoted(cabinet) +
            " >/dev/null 2>&1") != 0) {
        problems.push_back("the cab cache's cabinet does not read back");
        fs::remove_all(check);
        return problems;
    }
    // Every file numbered after the other Media rows lies in the library's
    // cabinet, with the size its row records and the bytes of a patch.
    int others = 0;
    for (const auto& row : Rows(database.get(),
                                "SELECT `LastSequence` FROM `Media` WHERE `Cabinet`<>?",
                                {"#QuilletCab"}))
        others = std::max(others, std::stoi(row[0]));
    for (const auto& row :
         Rows(database.get(), "SELECT `File`, `FileSize`, `Sequence` FROM `File`")) {
        if (std::stoi(row[2]) <= others)
            continue;
        const fs::path file = check / "files" / row[0];
        const std::string held = fs::exists(file) ? ReadAll(file) : "<missing>";
        if (std::to_string(held.size()) != row[1] ||
            (held != firstBytes_[row[0]] && held != secondBytes_[row[0]]))
            problems.push_back("file " + row[0] + " is not in the cabinet as its row says");
    }
    fs::remove_all(check);
    return problems;
}

std::vector<std::string> RoadTest::CheckNothingLost() {
    std::vector<std::string> problems = CheckPackage();
    DWORD curKey = 0;
    for (const std::u16string& entry : UndoEntries(&curKey)) {
        // One beyond CurKey is a record that did not get through, named by
        // no backup string and started afresh by the next record: left
        // behind, not lost.
        const std::string name = Narrow(entry);
        if (std::stoul(name, nullptr, 16) > curKey)
            continue;
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (std::u16string(kUndoKey) + u"\\" + entry).c_str(),
                          0, KEY_READ, &key) != 0)
            continue;
        const auto transform = RegText(key, u"RevTransform");
        const auto cabBackup = RegText(key, u"QuilletCab");
        if (!RegText(key, u"ProductGuid") || !RegText(key, u"PackageGuid") || !transform ||
            !fs::exists(Native(Wide(*transform))) ||
            (cabBackup && !fs::exists(Native(Wide(*cabBackup)))))
            problems.push_back("undo entry " + name + " is incomplete");
        RegCloseKey(key);
    }
    return problems;
}

std::vector<std::string> RoadTest::LeftBehind() {
    std::vector<std::string> left;
    const fs::path cabCache = CabCacheOf(ReadAll(package_));
    const std::set<std::string> expected = {package_.filename().string(),
                                            cabCache.filename().string()};
    for (const std::string& name : NamesIn(installerFolder_))
        if (!expected.count(name) && !others_.count(name))
            left.push_back("left in the Installer folder: " + name);
    for (const std::string& name : NamesIn(temporaryFolder_))
        left.push_back("left in the temporary folder: " + name);
    DWORD curKey = 0;
    for (const std::u16string& entry : UndoEntries(&curKey))
        if (std::stoul(Narrow(entry), nullptr, 16) > curKey)
            left.push_back("left in the registry: undo entry " + Narrow(entry));
    return left;
}

std::vector<std::string> RoadTest::CheckInvariants() {
    std::vector<std::string> problems = CheckNothingLost();
    for (std::string& left : LeftBehind())
        problems.push_back(std::move(left));
    return problems;
}

}  // namespace update_test
