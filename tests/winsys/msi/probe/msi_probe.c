/* One C source built twice: with mingw against the Windows SDK (run under
 * Wine, whose msi.dll answers) and natively against winsys. Both builds
 * write a package the same way and print what they read from one, so the
 * outputs can be compared line for line.
 *
 *   msi_probe write PACKAGE BLOBFILE
 *   msi_probe read PACKAGE
 */
#include <windows.h>
#include <msidefs.h>
#include <msiquery.h>
#include <stdio.h>
#include <string.h>

static int check(UINT r, const char *what) {
    if (r != ERROR_SUCCESS) {
        printf("FAILED %s: %u\n", what, r);
        return 1;
    }
    return 0;
}

static UINT run(MSIHANDLE db, const char *sql, MSIHANDLE params) {
    MSIHANDLE view = 0;
    UINT r = MsiDatabaseOpenViewA(db, sql, &view);
    if (r == ERROR_SUCCESS) r = MsiViewExecute(view, params);
    if (view) {
        MsiViewClose(view);
        MsiCloseHandle(view);
    }
    return r;
}

static void dump(MSIHANDLE db, const char *sql) {
    MSIHANDLE view = 0, rec = 0;
    UINT r;
    printf("%s\n", sql);
    r = MsiDatabaseOpenViewA(db, sql, &view);
    if (r == ERROR_SUCCESS) r = MsiViewExecute(view, 0);
    if (r != ERROR_SUCCESS) {
        printf("  error %u\n", r);
        MsiCloseHandle(view);
        return;
    }
    while (MsiViewFetch(view, &rec) == ERROR_SUCCESS) {
        UINT i, count = MsiRecordGetFieldCount(rec);
        printf(" ");
        for (i = 1; i <= count; ++i) {
            char buf[256];
            DWORD cch = sizeof buf;
            if (MsiRecordIsNull(rec, i)) {
                printf(" [null]");
            } else if (MsiRecordGetStringA(rec, i, buf, &cch) == ERROR_SUCCESS) {
                printf(" [%s]", buf);
            } else {
                /* a stream: its size and first bytes */
                char head[8] = {0};
                DWORD cb = sizeof head - 1;
                MsiRecordReadStream(rec, i, head, &cb);
                printf(" [stream %u bytes, starts %s]", MsiRecordDataSize(rec, i), head);
            }
        }
        printf("\n");
        MsiCloseHandle(rec);
    }
    MsiViewClose(view);
    MsiCloseHandle(view);
}

static int write_package(const char *path, const char *blob) {
    MSIHANDLE db = 0, rec, si;
    char sql[256];
    int i;
    if (check(MsiOpenDatabaseA(path, (LPCSTR)MSIDBOPEN_CREATE, &db), "create")) return 1;
    if (check(run(db, "CREATE TABLE `Property` (`Property` CHAR(72) NOT NULL, `Value` CHAR(0) NOT NULL "
                      "LOCALIZABLE PRIMARY KEY `Property`)", 0), "create Property")) return 1;
    if (check(run(db, "CREATE TABLE `Nums` (`Id` SHORT NOT NULL, `Big` LONG, `Txt` CHAR(20) PRIMARY KEY `Id`)", 0),
              "create Nums")) return 1;
    if (check(run(db, "CREATE TABLE `Binary` (`Name` CHAR(72) NOT NULL, `Data` OBJECT NOT NULL PRIMARY KEY `Name`)", 0),
              "create Binary")) return 1;
    run(db, "INSERT INTO `Property` (`Property`, `Value`) VALUES ('ProductCode', '{AAAAAAAA-2222-3333-4444-555555555555}')", 0);
    run(db, "INSERT INTO `Property` (`Property`, `Value`) VALUES ('Zeta', 'last')", 0);
    run(db, "INSERT INTO `Property` (`Property`, `Value`) VALUES ('Alpha', 'first')", 0);
    for (i = 0; i < 12; ++i) {
        sprintf(sql, "INSERT INTO `Nums` (`Id`, `Big`, `Txt`) VALUES (%d, %d, 'n%d')", i * 37 - 200, i * 100000 - 7, i % 5);
        if (check(run(db, sql, 0), sql)) return 1;
    }
    rec = MsiCreateRecord(2);
    MsiRecordSetStringA(rec, 1, "blob1");
    if (check(MsiRecordSetStreamA(rec, 2, blob), "stream from file")) return 1;
    if (check(run(db, "INSERT INTO `Binary` (`Name`, `Data`) VALUES (?, ?)", rec), "insert binary")) return 1;
    MsiCloseHandle(rec);
    rec = MsiCreateRecord(2);
    MsiRecordSetStringA(rec, 1, "extra.cab");
    if (check(MsiRecordSetStreamA(rec, 2, blob), "second stream from file")) return 1;
    if (check(run(db, "INSERT INTO `_Streams` (`Name`, `Data`) VALUES (?, ?)", rec), "insert stream")) return 1;
    MsiCloseHandle(rec);
    if (check(MsiGetSummaryInformationA(db, NULL, 8, &si), "summary")) return 1;
    MsiSummaryInfoSetPropertyA(si, PID_CODEPAGE, VT_I2, 1252, NULL, NULL);
    MsiSummaryInfoSetPropertyA(si, PID_TITLE, VT_LPSTR, 0, NULL, "Installation Database");
    MsiSummaryInfoSetPropertyA(si, PID_TEMPLATE, VT_LPSTR, 0, NULL, "Intel;1033");
    MsiSummaryInfoSetPropertyA(si, PID_REVNUMBER, VT_LPSTR, 0, NULL, "{BBBBBBBB-2222-3333-4444-555555555555}");
    MsiSummaryInfoSetPropertyA(si, PID_PAGECOUNT, VT_I4, 200, NULL, NULL);
    MsiSummaryInfoSetPropertyA(si, PID_WORDCOUNT, VT_I4, 2, NULL, NULL);
    if (check(MsiSummaryInfoPersist(si), "persist")) return 1;
    MsiCloseHandle(si);
    if (check(MsiDatabaseCommit(db), "commit")) return 1;
    MsiCloseHandle(db);
    printf("written\n");
    return 0;
}

static int read_package(const char *path) {
    MSIHANDLE db = 0, si = 0, keys = 0;
    UINT type;
    INT value;
    char buf[64];
    DWORD cch = sizeof buf;
    if (check(MsiOpenDatabaseA(path, (LPCSTR)MSIDBOPEN_READONLY, &db), "open")) return 1;
    dump(db, "SELECT * FROM `Property`");
    dump(db, "SELECT * FROM `Nums`");
    dump(db, "SELECT `Txt`, `Id` FROM `Nums` WHERE `Big` > 300000 AND `Txt` <> 'n1' ORDER BY `Id`");
    dump(db, "SELECT DISTINCT `Txt` FROM `Nums`");
    dump(db, "SELECT * FROM `Binary`");
    dump(db, "SELECT `Name` FROM `_Streams` WHERE `Name` = 'extra.cab'");
    if (MsiDatabaseGetPrimaryKeysA(db, "Nums", &keys) == ERROR_SUCCESS) {
        cch = sizeof buf;
        MsiRecordGetStringA(keys, 1, buf, &cch);
        printf("key of Nums: %s\n", buf);
        MsiCloseHandle(keys);
    }
    if (check(MsiGetSummaryInformationA(db, NULL, 0, &si), "summary")) return 1;
    cch = sizeof buf;
    MsiSummaryInfoGetPropertyA(si, PID_REVNUMBER, &type, NULL, NULL, buf, &cch);
    printf("revision: %s (type %u)\n", buf, type);
    MsiSummaryInfoGetPropertyA(si, PID_PAGECOUNT, &type, &value, NULL, NULL, NULL);
    printf("page count: %d (type %u)\n", value, type);
    MsiCloseHandle(si);
    MsiCloseHandle(db);
    return 0;
}

int main(int argc, char **argv) {
    if (argc == 4 && !strcmp(argv[1], "write")) return write_package(argv[2], argv[3]);
    if (argc == 3 && !strcmp(argv[1], "read")) return read_package(argv[2]);
    printf("usage: msi_probe write PACKAGE BLOBFILE | read PACKAGE\n");
    return 2;
}
