// Writing the work table. Keys, paths and names reach the statements as `?`
// values, so a quote in a file name neither breaks nor widens a statement.
#include "update/work_table.h"

#include "platform/fixed_names.h"
#include "platform/installer_handle.h"

UINT CreateWorkTable(MSIHANDLE database) {
    MsiHandle view;
    return OpenExecutedView(database,
                            TEXT("CREATE TABLE `") QUILLET_WORK_TABLE TEXT(
                                "` (`Name` LONGCHAR, `FullPath` LONGCHAR, "
                                "`NewName` LONGCHAR PRIMARY KEY `Name`) HOLD"),
                            0, view);
}

namespace {

constexpr DWORD kValueChars = MAX_PATH + 1;

UINT OpenKeyRow(MSIHANDLE database, LPCWSTR fileKey, MsiHandle& view) {
    MsiHandle key(MsiCreateRecord(1));
    MsiRecordSetStringW(key.get(), 1, fileKey);
    return OpenExecutedView(database,
                            TEXT("SELECT * FROM `") QUILLET_WORK_TABLE TEXT("` WHERE `Name`=?"),
                            key.get(), view);
}

}  // namespace

UINT WriteWorkTableRow(CabinetWorkArea& cabinet, MSIHANDLE database, LPCWSTR fileKey,
                       LPCWSTR newFilePath, LPCWSTR newFileName, WorkTableRowBefore* before) {
    MsiHandle view;
    UINT status = OpenKeyRow(database, fileKey, view);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    MsiHandle row;
    if (MsiViewFetch(view.get(), row.Receive()) == ERROR_SUCCESS) {
        if (before != nullptr) {
            before->existed = true;
            status = ReadRecordText(row.get(), 2, kValueChars, before->fullPath);
            if (status == ERROR_SUCCESS) {
                status = ReadRecordText(row.get(), 3, kValueChars, before->newName);
            }
            if (status != ERROR_SUCCESS) {
                return status;
            }
        }
        MsiRecordSetStringW(row.get(), 2, newFilePath);
        MsiRecordSetStringW(row.get(), 3, newFileName);
        status = MsiViewModify(view.get(), MSIMODIFY_UPDATE, row.get());
    } else {
        if (before != nullptr) {
            *before = WorkTableRowBefore{};
        }
        row = MsiHandle(MsiCreateRecord(3));
        MsiRecordSetStringW(row.get(), 1, fileKey);
        MsiRecordSetStringW(row.get(), 2, newFilePath);
        MsiRecordSetStringW(row.get(), 3, newFileName);
        status = MsiViewModify(view.get(), MSIMODIFY_INSERT, row.get());
    }
    if (status == ERROR_SUCCESS) {
        ++cabinet.queuedFileCount;
    }
    row.Close();
    MsiViewClose(view.get());
    return status;
}

UINT RevertWorkTableRow(CabinetWorkArea& cabinet, MSIHANDLE database, LPCWSTR fileKey,
                        const WorkTableRowBefore& before) {
    MsiHandle view;
    UINT status = OpenKeyRow(database, fileKey, view);
    MsiHandle row;
    if (status == ERROR_SUCCESS) {
        status = MsiViewFetch(view.get(), row.Receive());
    }
    if (status == ERROR_SUCCESS && before.existed) {
        MsiRecordSetStringW(row.get(), 2, before.fullPath.c_str());
        MsiRecordSetStringW(row.get(), 3, before.newName.c_str());
        status = MsiViewModify(view.get(), MSIMODIFY_UPDATE, row.get());
    } else if (status == ERROR_SUCCESS) {
        status = MsiViewModify(view.get(), MSIMODIFY_DELETE, row.get());
    }
    if (status == ERROR_SUCCESS && cabinet.queuedFileCount > 0) {
        --cabinet.queuedFileCount;
    }
    row.Close();
    MsiViewClose(view.get());
    return status;
}

UINT ListCarriedFile(MSIHANDLE database, LPCWSTR name, LPCWSTR fullPath) {
    MsiHandle values(MsiCreateRecord(2));
    MsiRecordSetStringW(values.get(), 1, name);
    MsiRecordSetStringW(values.get(), 2, fullPath);
    MsiHandle view;
    return OpenExecutedView(database,
                            TEXT("INSERT INTO `")
                                QUILLET_WORK_TABLE TEXT("` (`Name`,`FullPath`) VALUES (?,?)"),
                            values.get(), view);
}
