// Makes, on the Linux host, the reverse transform that the Windows system's
// installer cannot generate: given the package before a commit and the
// package the commit left, it writes the transform that turns the committed
// package back into the earlier one, as the undo record would have.
// Usage: make_reverse_transform BEFORE.msi COMMITTED.msi OUT.mst (native paths).
#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <cstdio>
#include <string>

namespace {

// Native absolute paths reach the engine through drive Z:, which is "/".
std::basic_string<WCHAR> WindowsPathOf(const char *nativePath) {
    std::string path = std::string("Z:") + nativePath;
    int length = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
    std::basic_string<WCHAR> wide(length > 0 ? length : 0, 0);
    if (length > 0) MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(), length);
    if (!wide.empty()) wide.pop_back();
    return wide;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 4 || argv[1][0] != '/' || argv[2][0] != '/' || argv[3][0] != '/') {
        std::fprintf(stderr, "usage: %s /BEFORE.msi /COMMITTED.msi /OUT.mst\n", argv[0]);
        return 2;
    }
    MSIHANDLE before = 0;
    MSIHANDLE committed = 0;
    UINT status = MsiOpenDatabaseW(WindowsPathOf(argv[1]).c_str(), MSIDBOPEN_READONLY, &before);
    if (status == ERROR_SUCCESS) status = MsiOpenDatabaseW(WindowsPathOf(argv[2]).c_str(), MSIDBOPEN_READONLY, &committed);
    // The earlier package is the "changed" side and the committed one the
    // reference: applied to the committed package, the transform gives back
    // the earlier one.
    if (status == ERROR_SUCCESS) status = MsiDatabaseGenerateTransformW(before, committed, WindowsPathOf(argv[3]).c_str(), 0, 0);
    if (committed) MsiCloseHandle(committed);
    if (before) MsiCloseHandle(before);
    if (status != ERROR_SUCCESS) {
        std::fprintf(stderr, "making the reverse transform failed: %u\n", status);
        return 1;
    }
    return 0;
}
