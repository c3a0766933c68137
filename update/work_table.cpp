// Writing the work table. Keys, paths and names reach the statements as `?`
// values, so a quote in a file name neither breaks nor widens a statement.
#include "update/work_table.h"

#include "update/msi_handle.h"

UINT CreateWorkTable(MSIHANDLE database) {
    MsiHandle view;
    return OpenExecutedView(database,
                            TEXT("CREATE TABLE `QuilletTempTable` (`Name` LONGCHAR, `FullPath` "
                                 "LONGCHAR, `NewName` LONGCHAR PRIMARY KEY `Name`) HOLD"),
                            0, view);
}

UINT WriteWorkTableRow(CabinetWorkArea& cabinet, MSIHANDLE database, LPCWSTR fileKey,
                       LPCWSTR newFilePath, LPCWSTR newFileName) {
    MsiHandle key(MsiCreateRecord(1));
    MsiRecordSetStringW(key.get(), 1, fileKey);
    MsiHandle view;
    UINT status = OpenExecutedView(
        database, TEXT("SELECT * FROM `QuilletTempTable` WHERE `Name`=?"), key.get(), view);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    MsiHandle row;
    if (MsiViewFetch(view.get(), row.Receive()) == ERROR_SUCCESS) {
        MsiRecordSetStringW(row.get(), 2, newFilePath);
        MsiRecordSetStringW(row.get(), 3, newFileName);
        status = MsiViewModify(view.get(), MSIMODIFY_UPDATE, row.get());
    } else {
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

UINT ListCarriedFile(MSIHANDLE database, LPCWSTR name, LPCWSTR fullPath) {
    MsiHandle values(MsiCreateRecord(2));
    MsiRecordSetStringW(values.get(), 1, name);
    MsiRecordSetStringW(values.get(), 2, fullPath);
    MsiHandle view;
    return OpenExecutedView(
        database, TEXT("INSERT INTO `QuilletTempTable` (`Name`,`FullPath`) VALUES (?,?)"),
        values.get(), view);
}
