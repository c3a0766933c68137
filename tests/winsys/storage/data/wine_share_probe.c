/* Share modes between Installer database opens and CreateFileW, as Wine
 * answers them: for each open mode of a package and each kind of handle,
 * whether the two may be open together, trying the package first and the
 * handle first. Prints one line per try:
 *   <first> <mode> <access hex> <share hex> <ok|error code>
 * where <first> is "package" or "handle" and <mode> the MSIDBOPEN value.
 * Usage: wine_share_probe.exe <package path>; the package is created. */
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <stdio.h>

static const DWORD kinds[][2] = {
    {GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE},
    {GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE},
    {GENERIC_READ, FILE_SHARE_READ},
    {GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE},
    {GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE},
    {DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE},
    {0, 0},
};
static const UINT_PTR modes[] = {(UINT_PTR)MSIDBOPEN_READONLY, (UINT_PTR)MSIDBOPEN_TRANSACT,
                                 (UINT_PTR)MSIDBOPEN_DIRECT};

static void report(const char* first, UINT_PTR mode, unsigned k, int ok, unsigned long code) {
    if (ok)
        printf("%s %u %lx %lx ok\n", first, (unsigned)mode, kinds[k][0], kinds[k][1]);
    else
        printf("%s %u %lx %lx %lu\n", first, (unsigned)mode, kinds[k][0], kinds[k][1], code);
}

int main(int argc, char** argv) {
    WCHAR path[MAX_PATH];
    MSIHANDLE db = 0;
    unsigned m, k;
    if (argc < 2) return 2;
    MultiByteToWideChar(CP_ACP, 0, argv[1], -1, path, MAX_PATH);
    if (MsiOpenDatabaseW(path, (LPCWSTR)MSIDBOPEN_CREATE, &db) || MsiDatabaseCommit(db)) return 1;
    MsiCloseHandle(db);
    for (m = 0; m < 3; ++m) {
        if (MsiOpenDatabaseW(path, (LPCWSTR)modes[m], &db)) return 1;
        for (k = 0; k < sizeof kinds / sizeof kinds[0]; ++k) {
            HANDLE h = CreateFileW(path, kinds[k][0], kinds[k][1], NULL, OPEN_EXISTING, 0, NULL);
            report("package", modes[m], k, h != INVALID_HANDLE_VALUE, GetLastError());
            if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        }
        MsiCloseHandle(db);
    }
    for (k = 0; k < sizeof kinds / sizeof kinds[0]; ++k) {
        HANDLE h = CreateFileW(path, kinds[k][0], kinds[k][1], NULL, OPEN_EXISTING, 0, NULL);
        if (h == INVALID_HANDLE_VALUE) return 1;
        for (m = 0; m < 3; ++m) {
            UINT r = MsiOpenDatabaseW(path, (LPCWSTR)modes[m], &db);
            report("handle", modes[m], k, r == ERROR_SUCCESS, r);
            if (r == ERROR_SUCCESS) MsiCloseHandle(db);
        }
        CloseHandle(h);
    }
    return 0;
}
