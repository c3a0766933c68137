// Shared set-up of the backup tests: one prefix for the whole test program
// (the registry keeps its connection, and child processes must see the same
// prefix), packages built through the Installer calls, a simulated commit
// that leaves an undo record, and a canonical dump to compare packages.
#pragma once

#include <gtest/gtest.h>

#include <msidefs.h>

#include "backup/undo_record.h"
#include "installer/registration.h"
#include "library/library_test_support.h"
#include "platform/quillet_registry.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace backup_test {

using library_test::Narrow;
using library_test::Wide;

inline winsys_test::TestPrefix*& SharedPrefix() {
    static winsys_test::TestPrefix* prefix = nullptr;
    return prefix;
}

class PrefixEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { SharedPrefix() = new winsys_test::TestPrefix; }
    void TearDown() override {
        delete SharedPrefix();
        SharedPrefix() = nullptr;
    }
};

inline std::string DriveC(const std::string& relative = "") {
    return SharedPrefix()->driveC() + (relative.empty() ? "" : "/" + relative);
}
inline std::string TempDir() {
    return SharedPrefix()->root() + "/tmp";
}

// "C:\a\b" for "a/b".
inline WideString CPath(std::string relative) {
    std::replace(relative.begin(), relative.end(), '/', '\\');
    return Wide("C:\\" + relative);
}

inline constexpr char16_t kProduct[] = u"{7E1D2C3B-AAAA-4BBB-8CCC-0123456789AB}";
inline constexpr char16_t kPackageCode[] = u"{5A4B3C2D-1111-4222-8333-444455556666}";

inline void Exec(MSIHANDLE db, const std::u16string& sql, MSIHANDLE params = 0) {
    MSIHANDLE view = 0;
    ASSERT_EQ(MsiDatabaseOpenViewW(db, sql.c_str(), &view), 0u) << Narrow(sql);
    ASSERT_EQ(MsiViewExecute(view, params), 0u) << Narrow(sql);
    MsiViewClose(view);
    MsiCloseHandle(view);
}

// A package with Property, Media and File tables, two files on disk one, and
// the given package code; with a cab cache path, the Property names it.
inline void CreatePackage(const WideString& path, const std::u16string& packageCode,
                          const std::u16string& cabCache = u"") {
    MSIHANDLE db = 0;
    ASSERT_EQ(MsiOpenDatabaseW(path.c_str(), MSIDBOPEN_CREATE, &db), 0u);
    Exec(db, u"CREATE TABLE `Property` (`Property` CHAR(72) NOT NULL, `Value` LONGCHAR NOT NULL "
             u"LOCALIZABLE PRIMARY KEY `Property`)");
    Exec(db, u"CREATE TABLE `Media` (`DiskId` SHORT NOT NULL, `LastSequence` SHORT NOT NULL, "
             u"`DiskPrompt` CHAR(64) LOCALIZABLE, `Cabinet` CHAR(255), `VolumeLabel` CHAR(32), "
             u"`Source` CHAR(72) PRIMARY KEY `DiskId`)");
    Exec(db, u"CREATE TABLE `File` (`File` CHAR(72) NOT NULL, `Component_` CHAR(72) NOT NULL, "
             u"`FileName` CHAR(255) NOT NULL LOCALIZABLE, `FileSize` LONG NOT NULL, `Version` "
             u"CHAR(72), `Language` CHAR(20), `Attributes` SHORT, `Sequence` SHORT NOT NULL "
             u"PRIMARY KEY `File`)");
    Exec(db, u"INSERT INTO `Property` (`Property`, `Value`) VALUES ('ProductCode', '" +
                 std::u16string(kProduct) + u"')");
    Exec(db, u"INSERT INTO `Property` (`Property`, `Value`) VALUES ('ProductName', 'Sample')");
    if (!cabCache.empty()) {
        Exec(db, u"INSERT INTO `Property` (`Property`, `Value`) VALUES ('QuilletCabCache', '" +
                     cabCache + u"')");
        Exec(db, u"INSERT INTO `Media` (`DiskId`, `LastSequence`, `DiskPrompt`, `Cabinet`, "
                 u"`Source`) VALUES (2, 101, 'Quillet', '#QuilletCab', 'QuilletCabCache')");
    }
    Exec(db, u"INSERT INTO `Media` (`DiskId`, `LastSequence`, `Cabinet`) VALUES (1, 2, "
             u"'#product.cab')");
    Exec(db, u"INSERT INTO `File` (`File`, `Component_`, `FileName`, `FileSize`, `Version`, "
             u"`Attributes`, `Sequence`) VALUES ('one.dll', 'Main', 'one.dll', 100, '1.0.0.0', "
             u"0, 1)");
    Exec(db, u"INSERT INTO `File` (`File`, `Component_`, `FileName`, `FileSize`, `Attributes`, "
             u"`Sequence`) VALUES ('two.txt', 'Main', 'two.txt', 20, 0, 2)");
    MSIHANDLE summary = 0;
    ASSERT_EQ(MsiGetSummaryInformationW(db, nullptr, 4, &summary), 0u);
    ASSERT_EQ(MsiSummaryInfoSetPropertyW(summary, PID_REVNUMBER, VT_LPSTR, 0, nullptr,
                                         packageCode.c_str()),
              0u);
    ASSERT_EQ(MsiSummaryInfoPersist(summary), 0u);
    MsiCloseHandle(summary);
    ASSERT_EQ(MsiDatabaseCommit(db), 0u);
    MsiCloseHandle(db);
}

// A cab cache package: a package whose only stream is "QuilletCab".
inline void CreateCabCache(const WideString& path, const std::string& cabinetBytes) {
    const std::string source = TempDir() + "/cabinet-bytes";
    winsys_test::writeFile(source, cabinetBytes);
    MSIHANDLE db = 0;
    ASSERT_EQ(MsiOpenDatabaseW(path.c_str(), MSIDBOPEN_CREATEDIRECT, &db), 0u);
    MSIHANDLE view = 0;
    ASSERT_EQ(MsiDatabaseOpenViewW(db, u"SELECT * FROM `_Streams`", &view), 0u);
    ASSERT_EQ(MsiViewExecute(view, 0), 0u);
    MSIHANDLE record = MsiCreateRecord(2);
    MsiRecordSetStringW(record, 1, u"QuilletCab");
    ASSERT_EQ(MsiRecordSetStreamW(record, 2, Wide("Z:" + source).c_str()), 0u);
    ASSERT_EQ(MsiViewModify(view, MSIMODIFY_INSERT, record), 0u);
    MsiCloseHandle(record);
    MsiViewClose(view);
    MsiCloseHandle(view);
    ASSERT_EQ(MsiDatabaseCommit(db), 0u);
    MsiCloseHandle(db);
    std::filesystem::remove(source);
}

// The bytes of one stream of a package, or nullopt.
inline std::optional<std::string> StreamOf(const WideString& path, const std::u16string& name) {
    MSIHANDLE db = 0;
    if (MsiOpenDatabaseW(path.c_str(), MSIDBOPEN_READONLY, &db) != 0)
        return std::nullopt;
    std::optional<std::string> bytes;
    MSIHANDLE view = 0, record = 0;
    std::u16string sql = u"SELECT `Data` FROM `_Streams` WHERE `Name`='" + name + u"'";
    if (MsiDatabaseOpenViewW(db, sql.c_str(), &view) == 0 && MsiViewExecute(view, 0) == 0 &&
        MsiViewFetch(view, &record) == 0) {
        std::string data;
        char chunk[4096];
        for (;;) {
            DWORD size = sizeof chunk;
            if (MsiRecordReadStream(record, 1, chunk, &size) != 0 || size == 0)
                break;
            data.append(chunk, size);
        }
        bytes = data;
        MsiCloseHandle(record);
    }
    if (view) {
        MsiViewClose(view);
        MsiCloseHandle(view);
    }
    MsiCloseHandle(db);
    return bytes;
}

// Every table exported (rows sorted), every stream and the package code: two
// packages with the same dump hold the same data.
inline std::map<std::string, std::string> Dump(const WideString& path) {
    std::map<std::string, std::string> dump;
    MSIHANDLE db = 0;
    EXPECT_EQ(MsiOpenDatabaseW(path.c_str(), MSIDBOPEN_READONLY, &db), 0u) << Narrow(path);
    if (!db)
        return dump;
    const std::string folder = TempDir() + "/dump";
    std::filesystem::create_directories(folder);
    std::vector<std::u16string> tables;
    MSIHANDLE view = 0, record = 0;
    MsiDatabaseOpenViewW(db, u"SELECT `Name` FROM `_Tables`", &view);
    MsiViewExecute(view, 0);
    while (MsiViewFetch(view, &record) == 0) {
        WCHAR name[80];
        DWORD size = 80;
        MsiRecordGetStringW(record, 1, name, &size);
        tables.emplace_back(name);
        MsiCloseHandle(record);
    }
    MsiViewClose(view);
    MsiCloseHandle(view);
    for (const auto& table : tables) {
        const std::u16string file = table + u".idt";
        EXPECT_EQ(MsiDatabaseExportW(db, table.c_str(), Wide("Z:" + folder).c_str(), file.c_str()),
                  0u);
        std::istringstream text(winsys_test::readFile(folder + "/" + Narrow(file)));
        std::vector<std::string> lines;
        for (std::string line; std::getline(text, line);)
            lines.push_back(line);
        if (lines.size() > 3)
            std::sort(lines.begin() + 3, lines.end());
        std::string joined;
        for (const auto& line : lines)
            joined += line + "\n";
        dump["table " + Narrow(table)] = joined;
    }
    MsiDatabaseOpenViewW(db, u"SELECT `Name` FROM `_Streams`", &view);
    MsiViewExecute(view, 0);
    std::vector<std::u16string> streams;
    while (MsiViewFetch(view, &record) == 0) {
        WCHAR name[80];
        DWORD size = 80;
        MsiRecordGetStringW(record, 1, name, &size);
        streams.emplace_back(name);
        MsiCloseHandle(record);
    }
    MsiViewClose(view);
    MsiCloseHandle(view);
    MSIHANDLE summary = 0;
    if (MsiGetSummaryInformationW(db, nullptr, 0, &summary) == 0) {
        WCHAR code[50] = {};
        DWORD size = 50;
        UINT type = 0;
        INT number = 0;
        FILETIME time{};
        MsiSummaryInfoGetPropertyW(summary, PID_REVNUMBER, &type, &number, &time, code, &size);
        dump["package code"] = Narrow(code);
        MsiCloseHandle(summary);
    }
    MsiCloseHandle(db);
    for (const auto& stream : streams)
        dump["stream " + Narrow(stream)] = StreamOf(path, stream).value_or("?");
    std::filesystem::remove_all(folder);
    return dump;
}

inline std::optional<std::u16string> RegString(const std::u16string& key, const char16_t* name) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle) != 0)
        return std::nullopt;
    WCHAR value[400] = {};
    DWORD size = sizeof value - 2, type = 0;
    LONG result = RegQueryValueExW(handle, name, nullptr, &type, reinterpret_cast<LPBYTE>(value),
                                   &size);
    RegCloseKey(handle);
    if (result != 0)
        return std::nullopt;
    return std::u16string(value);
}

inline std::optional<DWORD> RegNumber(const std::u16string& key, const char16_t* name) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle) != 0)
        return std::nullopt;
    DWORD value = 0, size = 4, type = 0;
    LONG result = RegQueryValueExW(handle, name, nullptr, &type, reinterpret_cast<LPBYTE>(&value),
                                   &size);
    RegCloseKey(handle);
    if (result != 0)
        return std::nullopt;
    return value;
}

inline void SetRegNumber(const std::u16string& key, const char16_t* name, DWORD value) {
    HKEY handle = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &handle, nullptr),
              0);
    RegSetValueExW(handle, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
    RegCloseKey(handle);
}

inline void SetRegString(const std::u16string& key, const char16_t* name,
                         const std::u16string& value) {
    HKEY handle = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &handle, nullptr),
              0);
    RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * 2));
    RegCloseKey(handle);
}

inline std::u16string EntryKey(const std::u16string& entry) {
    return u"Software\\Brambleway\\Quillet\\MsiRegUndo\\" + entry;
}

inline bool EntryExists(const std::u16string& entry) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, EntryKey(entry).c_str(), 0, KEY_READ, &handle) != 0)
        return false;
    RegCloseKey(handle);
    return true;
}

// The library's keys and the files of earlier tests go; each test starts
// from a machine that never committed.
inline void ForgetEverything() {
    for (int n = 1; n <= 0x40; ++n) {
        WCHAR name[16];
        wsprintfW(name, u"%x", n);
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, EntryKey(name).c_str());
    }
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Software\\Brambleway\\Quillet\\MsiRegUndo");
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Software\\Brambleway\\Quillet");
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Software\\Brambleway");
    winsys::installer::unregisterProduct(kProduct);
    std::error_code ignored;
    for (const char* folder : {"windows/Installer", "backup", "work"})
        std::filesystem::remove_all(DriveC(folder), ignored);
    std::filesystem::create_directories(DriveC("windows/Installer"));
    std::filesystem::create_directories(DriveC("backup"));
    std::filesystem::create_directories(DriveC("work"));
    for (const auto& entry : std::filesystem::directory_iterator(DriveC("windows")))
        if (entry.is_regular_file())
            std::filesystem::remove(entry.path(), ignored);
    for (const auto& entry : std::filesystem::directory_iterator(TempDir()))
        std::filesystem::remove_all(entry.path(), ignored);
}

inline std::vector<std::string> FilesIn(const std::string& native) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(native))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class BackupTest : public ::testing::Test {
  protected:
    void SetUp() override {
        library_test::AttachLibraryOnce();
        SelectPlatformCalls(0);
        ForgetEverything();
    }
    void TearDown() override { SelectPlatformCalls(0); }
};

}  // namespace backup_test
