// Reads the tables qltmsi install needs through the installer's SQL.
#include "install/package_contents.h"

#include <objbase.h>  // VT_ property types
#include <msidefs.h>

#include <functional>
#include <vector>

#include "cli_text.h"

namespace qltmsi::install {

namespace {

WideString field(MSIHANDLE record, UINT index) {
    DWORD count = 0;
    WCHAR probe[1] = TEXT("");
    UINT r = MsiRecordGetStringW(record, index, probe, &count);
    if (r == ERROR_SUCCESS)
        return {};
    WideString text(count + 1, TEXT('\0'));
    count += 1;
    MsiRecordGetStringW(record, index, text.data(), &count);
    text.resize(count);
    return text;
}

std::optional<WideString> optionalField(MSIHANDLE record, UINT index) {
    if (MsiRecordIsNull(record, index))
        return std::nullopt;
    return field(record, index);
}

int integer(MSIHANDLE record, UINT index) {
    int value = MsiRecordGetInteger(record, index);
    return value == int(MSI_NULL_INTEGER) ? 0 : value;
}

// Runs a query and hands each row to the visitor. A table the package does
// not have is no error for the optional tables.
void eachRow(MSIHANDLE database, const WCHAR* sql, bool optional,
             const std::function<void(MSIHANDLE)>& visit) {
    MsiHandle view;
    UINT r = MsiDatabaseOpenViewW(database, sql, view.Receive());
    if (r != ERROR_SUCCESS) {
        if (optional)
            return;
        throw InstallError("cannot read the package (" + toUtf8(sql) + ": error " +
                           std::to_string(r) + ")");
    }
    if ((r = MsiViewExecute(view.get(), 0)) != ERROR_SUCCESS)
        throw InstallError("cannot read the package (" + toUtf8(sql) + ": error " +
                           std::to_string(r) + ")");
    for (;;) {
        MsiHandle record;
        r = MsiViewFetch(view.get(), record.Receive());
        if (r == ERROR_NO_MORE_ITEMS)
            break;
        if (r != ERROR_SUCCESS)
            throw InstallError("cannot read the package (" + toUtf8(sql) + ": error " +
                               std::to_string(r) + ")");
        visit(record.get());
    }
}

void readSummary(MSIHANDLE database, PackageContents& package) {
    MsiHandle summary;
    if (MsiGetSummaryInformationW(database, nullptr, 0, summary.Receive()) != ERROR_SUCCESS)
        throw InstallError("cannot read the package's summary information");
    UINT type = 0;
    INT value = 0;
    FILETIME time{};
    WCHAR text[64];
    DWORD count = 64;
    if (MsiSummaryInfoGetPropertyW(summary.get(), PID_REVNUMBER, &type, &value, &time, text,
                                   &count) == ERROR_SUCCESS)
        package.packageCode.assign(text, count);
    count = 64;
    if (MsiSummaryInfoGetPropertyW(summary.get(), PID_WORDCOUNT, &type, &value, &time, text,
                                   &count) == ERROR_SUCCESS &&
        type == VT_I4)
        package.sourceType = value;
}

}  // namespace

WideString longName(WideView name) {
    size_t bar = name.find(TEXT('|'));
    return WideString(bar == WideView::npos ? name : name.substr(bar + 1));
}

WideString shortName(WideView name) {
    size_t bar = name.find(TEXT('|'));
    return WideString(bar == WideView::npos ? name : name.substr(0, bar));
}

PackageContents readPackage(MSIHANDLE database) {
    PackageContents package;
    readSummary(database, package);
    eachRow(database, TEXT("SELECT `Property`, `Value` FROM `Property`"), false,
            [&](MSIHANDLE r) { package.properties[field(r, 1)] = field(r, 2); });
    eachRow(database, TEXT("SELECT `Directory`, `Directory_Parent`, `DefaultDir` FROM `Directory`"),
            false, [&](MSIHANDLE r) {
                package.directories.push_back({field(r, 1), field(r, 2), field(r, 3)});
            });
    eachRow(database,
            TEXT("SELECT `Component`, `ComponentId`, `Directory_`, `Attributes`, `KeyPath`, ")
                TEXT("`Condition` FROM `Component`"),
            false, [&](MSIHANDLE r) {
                package.components.push_back({field(r, 1), field(r, 2), field(r, 3), integer(r, 4),
                                              optionalField(r, 5), field(r, 6)});
            });
    eachRow(database, TEXT("SELECT `Feature`, `Feature_Parent`, `Level` FROM `Feature`"), true,
            [&](MSIHANDLE r) {
                package.features.push_back({field(r, 1), field(r, 2), integer(r, 3)});
            });
    eachRow(database, TEXT("SELECT `Feature_`, `Component_` FROM `FeatureComponents`"), true,
            [&](MSIHANDLE r) { package.featureComponents.push_back({field(r, 1), field(r, 2)}); });
    eachRow(database, TEXT("SELECT `Feature_`, `Level`, `Condition` FROM `Condition`"), true,
            [&](MSIHANDLE r) {
                package.featureConditions.push_back({field(r, 1), integer(r, 2), field(r, 3)});
            });
    eachRow(
        database,
        TEXT("SELECT `File`, `Component_`, `FileName`, `FileSize`, `Attributes`, `Sequence` FROM ")
            TEXT("`File`"),
        true, [&](MSIHANDLE r) {
            package.files.push_back({field(r, 1), field(r, 2), field(r, 3), integer(r, 4),
                                     integer(r, 5), integer(r, 6)});
        });
    eachRow(database, TEXT("SELECT `DiskId`, `LastSequence`, `Cabinet` FROM `Media`"), true,
            [&](MSIHANDLE r) {
                package.media.push_back({integer(r, 1), integer(r, 2), field(r, 3)});
            });
    eachRow(database, TEXT("SELECT `Registry`, `Root`, `Key`, `Name` FROM `Registry`"), true,
            [&](MSIHANDLE r) {
                package.registry[field(r, 1)] = {integer(r, 2), field(r, 3), optionalField(r, 4)};
            });
    return package;
}

void saveStream(MSIHANDLE database, const WideString& name, const WideString& path) {
    MsiHandle view, query, record;
    if (MsiDatabaseOpenViewW(database, TEXT("SELECT `Data` FROM `_Streams` WHERE `Name` = ?"),
                             view.Receive()) != ERROR_SUCCESS)
        throw InstallError("cannot read the package's streams");
    query = MsiHandle(MsiCreateRecord(1));
    MsiRecordSetStringW(query.get(), 1, name.c_str());
    if (MsiViewExecute(view.get(), query.get()) != ERROR_SUCCESS ||
        MsiViewFetch(view.get(), record.Receive()) != ERROR_SUCCESS)
        throw InstallError("the package has no stream '" + toUtf8(name) + "'");

    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        throw InstallError("cannot write " + toUtf8(path));
    std::vector<char> chunk(1 << 16);
    bool ok = true;
    for (;;) {
        DWORD count = DWORD(chunk.size());
        if (MsiRecordReadStream(record.get(), 1, chunk.data(), &count) != ERROR_SUCCESS) {
            ok = false;
            break;
        }
        if (count == 0)
            break;
        DWORD written = 0;
        if (!WriteFile(file, chunk.data(), count, &written, nullptr) || written != count) {
            ok = false;
            break;
        }
    }
    CloseHandle(file);
    if (!ok)
        throw InstallError("cannot copy the package's stream '" + toUtf8(name) + "'");
}

}  // namespace qltmsi::install
