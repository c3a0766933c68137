// msi_sql PACKAGE STATEMENT...: opens a package, runs each statement and
// commits, in one process, as `msibuild PACKAGE -q STATEMENT...` does. The
// database benchmark runs it as a fresh process per batch, so that opening
// and committing the package count as they do for msibuild.
#include <msiquery.h>

#include <cstdio>
#include <string>

#include "msi/codepage.h"

namespace {

std::u16string Utf16(const char* text) { return winsys::msi::decodeCodepage(winsys::msi::kCodepageUtf8, text); }

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: msi_sql PACKAGE STATEMENT...\n", stderr);
        return 2;
    }
    MSIHANDLE database = 0;
    if (UINT r = MsiOpenDatabaseW(Utf16(argv[1]).c_str(), MSIDBOPEN_DIRECT, &database)) {
        std::fprintf(stderr, "msi_sql: cannot open %s (error %u)\n", argv[1], r);
        return 1;
    }
    for (int i = 2; i < argc; ++i) {
        MSIHANDLE view = 0;
        UINT r = MsiDatabaseOpenViewW(database, Utf16(argv[i]).c_str(), &view);
        if (r == 0) r = MsiViewExecute(view, 0);
        MsiCloseHandle(view);
        if (r) {
            std::fprintf(stderr, "msi_sql: %s: error %u\n", argv[i], r);
            MsiCloseHandle(database);
            return 1;
        }
    }
    UINT r = MsiDatabaseCommit(database);
    MsiCloseHandle(database);
    if (r) std::fprintf(stderr, "msi_sql: commit failed (error %u)\n", r);
    return r ? 1 : 0;
}
