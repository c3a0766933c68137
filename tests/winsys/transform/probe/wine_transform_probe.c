/* Applies a transform with the system's msi.dll (Wine's, under wine) to a
 * copy of a package and commits it:
 *
 *   wine_transform_probe BASE.msi OUT.msi TRANSFORM.mst [CONDITIONS]
 *
 * Prints "apply <result> commit <result>".
 */
#include <windows.h>
#include <msiquery.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char **argv) {
    MSIHANDLE db = 0;
    UINT r, c = 0;
    if (argc < 4) return 2;
    if (!CopyFileA(argv[1], argv[2], FALSE)) {
        printf("copy failed %lu\n", GetLastError());
        return 1;
    }
    r = MsiOpenDatabaseA(argv[2], MSIDBOPEN_TRANSACT, &db);
    if (r != ERROR_SUCCESS) {
        printf("open %u\n", r);
        return 1;
    }
    r = MsiDatabaseApplyTransformA(db, argv[3], argc > 4 ? atoi(argv[4]) : 0);
    if (r == ERROR_SUCCESS) c = MsiDatabaseCommit(db);
    MsiCloseHandle(db);
    printf("apply %u commit %u\n", r, c);
    return 0;
}
