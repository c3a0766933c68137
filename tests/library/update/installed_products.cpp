// Building and installing the test products, and the table helpers.
#include "library/update/installed_products.h"

#include "api/library_state.h"
#include "api/patch_context.h"

#include <fstream>
#include <sstream>

namespace update_test {

namespace {

// Removes the prefix when the test program ends.
class PrefixEnvironment : public ::testing::Environment {
  public:
    void TearDown() override { delete prefix_; }
    winsys_test::TestPrefix& prefix() {
        if (!prefix_)
            prefix_ = new winsys_test::TestPrefix;
        return *prefix_;
    }

  private:
    winsys_test::TestPrefix* prefix_ = nullptr;
};

PrefixEnvironment* environment() {
    static PrefixEnvironment* instance = static_cast<PrefixEnvironment*>(
        ::testing::AddGlobalTestEnvironment(new PrefixEnvironment));
    return instance;
}

[[maybe_unused]] const bool registered = (environment(), true);

std::string Quoted(const fs::path& path) {
    return "'" + path.string() + "'";
}

// The source files every package of tests/data/update names.
void WriteSources(const fs::path& directory) {
    fs::create_directories(directory);
    fs::copy_file(kWineDll, directory / "main.dll", fs::copy_options::overwrite_existing);
    fs::copy_file(kWineDll, directory / "opt.dll", fs::copy_options::overwrite_existing);
    for (const char* name :
         {"readme", "obrien", "spaced", "accented", "plain", "inside", "notes", "registry"})
        winsys_test::writeFile((directory / (std::string(name) + ".txt")).string(),
                               std::string(name) + " as installed\n");
    winsys_test::writeFile((directory / "one.ini").string(), "[one]\n");
    winsys_test::writeFile((directory / "two.ini").string(), "[two]\n");
}

std::string FieldText(MSIHANDLE record, UINT field) {
    if (MsiRecordIsNull(record, field))
        return "";
    WideString text;
    if (ReadRecordText(record, field, 4096, text) == ERROR_SUCCESS)
        return Narrow(text);
    return std::to_string(MsiRecordGetInteger(record, field));
}

MsiHandle ValuesRecord(const std::vector<std::string>& values) {
    if (values.empty())
        return MsiHandle();
    MsiHandle record(MsiCreateRecord(static_cast<UINT>(values.size())));
    for (size_t i = 0; i < values.size(); ++i)
        MsiRecordSetStringW(record.get(), static_cast<UINT>(i + 1), Wide(values[i]).c_str());
    return record;
}

}  // namespace

winsys_test::TestPrefix& Prefix() {
    return environment()->prefix();
}

fs::path WorkDirectory() {
    fs::path work = fs::path(Prefix().root()) / "work";
    if (!fs::exists(work / "main.dll"))
        WriteSources(work);
    return work;
}

int Run(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

fs::path BuildPackage(const std::string& name, const std::string& output,
                      const std::map<std::string, std::string>& replacements) {
    const fs::path work = WorkDirectory();
    std::string source = winsys_test::readFile(QLTMSI_UPDATE_TEST_DATA "/" + name + ".wxs");
    for (const auto& [from, to] : replacements)
        for (size_t at = source.find(from); at != std::string::npos; at = source.find(from, at))
            source.replace(at, from.size(), to), at += to.size();
    const fs::path wxs = work / (output + ".wxs");
    winsys_test::writeFile(wxs.string(), source);
    const fs::path package = work / (output + ".msi");
    EXPECT_EQ(Run("cd " + Quoted(work) + " && wixl -o " + Quoted(package) + " " + Quoted(wxs) +
                  " 2>/dev/null"),
              0);
    return package;
}

int Install(const fs::path& package) {
    return Run(std::string(QLTMSI_PROGRAM) + " install " + Quoted(package) + " >/dev/null");
}

bool InstallSmallProduct(const std::string& productCode) {
    const std::string bare = productCode.substr(1, productCode.size() - 2);
    const fs::path package = BuildPackage(
        "small", "small-" + bare,
        {{"6B2E1D4F-8C3A-4F72-AD95-3E4F5A6B7C01", bare},
         {"6B2E1D4F-0000-4000-8000-000000000001", "A" + bare.substr(1)},
         {"Small Sample\" Manufacturer", "Small " + bare + "\" Manufacturer"},
         {"Name=\"Small Sample\">", "Name=\"Small " + bare + "\">"}});
    return Install(package) == 0;
}

void InstallAppOnce() {
    static const bool installed = [] {
        const fs::path package = BuildPackage("app", "app");
        EXPECT_EQ(OnPackage(package,
                            [](MSIHANDLE database) {
                                EXPECT_EQ(Execute(database,
                                                  "UPDATE `Component` SET `KeyPath`=NULL "
                                                  "WHERE `Component`='FolderKeyed'"),
                                          0u);
                            }),
                  0u);
        return Install(package) == 0;
    }();
    ASSERT_TRUE(installed);
}

fs::path Native(const WideString& windowsPath) {
    std::string path = Narrow(windowsPath);
    if (path.size() >= 3 && (path[0] == 'C' || path[0] == 'c') && path[1] == ':') {
        path = Prefix().driveC() + path.substr(2);
    } else if (path.size() >= 2 && (path[0] == 'Z' || path[0] == 'z') && path[1] == ':') {
        path = path.substr(2);
    }
    for (char& c : path)
        if (c == '\\')
            c = '/';
    return path;
}

fs::path LocalPackage(const std::string& productCode) {
    WCHAR buffer[MAX_PATH + 1] = {};
    DWORD count = MAX_PATH + 1;
    if (MsiGetProductInfoW(Wide(productCode).c_str(), INSTALLPROPERTY_LOCALPACKAGE, buffer,
                           &count) != ERROR_SUCCESS)
        return {};
    return Native(buffer);
}

std::vector<std::string> TemporaryFiles() {
    std::vector<std::string> names, ledgers;
    for (const auto& entry : fs::directory_iterator(fs::path(Prefix().root()) / "tmp")) {
        const std::string name = entry.path().filename().string();
        (name.rfind("qll", 0) == 0 ? ledgers : names).push_back(name);
    }
    // The ledger that lists live files is no file of its own; one that
    // outlives them is.
    return names.empty() ? ledgers : names;
}

std::vector<std::vector<std::string>> Rows(MSIHANDLE database, const std::string& query,
                                           const std::vector<std::string>& values) {
    std::vector<std::vector<std::string>> rows;
    MsiHandle parameters = ValuesRecord(values);
    MsiHandle view;
    if (OpenExecutedView(database, Wide(query).c_str(), parameters.get(), view) != ERROR_SUCCESS) {
        ADD_FAILURE() << "query failed: " << query;
        return rows;
    }
    MsiHandle row;
    while (MsiViewFetch(view.get(), row.Receive()) == ERROR_SUCCESS) {
        std::vector<std::string> fields;
        const UINT count = MsiRecordGetFieldCount(row.get());
        for (UINT field = 1; field <= count; ++field)
            fields.push_back(FieldText(row.get(), field));
        rows.push_back(std::move(fields));
    }
    return rows;
}

UINT Execute(MSIHANDLE database, const std::string& statement,
             const std::vector<std::string>& values) {
    MsiHandle parameters = ValuesRecord(values);
    MsiHandle view;
    return OpenExecutedView(database, Wide(statement).c_str(), parameters.get(), view);
}

void InstalledProductTest::SetUp() {
    Prefix();
    library_test::AttachLibraryOnce();
    SelectPlatformCalls(0);
    handle_ = QLTMsiOpen();
    ASSERT_NE(handle_, -1);
}

void InstalledProductTest::TearDown() {
    QLTMsiClose(handle_);
    libraryState.currentHandle = 0;
}

DWORD InstalledProductTest::Open(const std::string& productCode, const char* first,
                                 const char* second, const char* transformDirectory) {
    auto wide = [](const char* text) {
        return text ? std::optional<WideString>(Wide(text)) : std::nullopt;
    };
    const auto product = Wide(productCode);
    const auto a = wide(first), b = wide(second), directory = wide(transformDirectory);
    return QLTMsiOpenDatabase(handle_, product.c_str(), a ? a->c_str() : nullptr,
                              b ? b->c_str() : nullptr, directory ? directory->c_str() : nullptr,
                              nullptr);
}

DWORD InstalledProductTest::Update(const std::string& installedPath,
                                   const std::optional<std::string>& newPath,
                                   const std::optional<std::string>& newName) {
    const auto path = Wide(installedPath);
    const auto source = newPath ? std::optional<WideString>(Wide(*newPath)) : std::nullopt;
    const auto name = newName ? std::optional<WideString>(Wide(*newName)) : std::nullopt;
    return QLTMsiUpdateFile(handle_, path.c_str(), source ? source->c_str() : nullptr,
                            name ? name->c_str() : nullptr);
}

std::string InstalledProductTest::LastMessage() {
    const char* text = QLTMsiGetLastErrorStrA(handle_);
    return text ? text : "";
}

}  // namespace update_test
