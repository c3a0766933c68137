// Files beside the test program and fresh installs of the test products.
#include "test_files.h"

#include <msi.h>

#include "loaded_library.h"

namespace qltmsi_windows_test {

std::wstring BesideProgram(const wchar_t *name) {
    std::wstring path = LibraryPath();
    return path.substr(0, path.rfind(L'\\') + 1) + name;
}

std::vector<char> ReadAll(const std::wstring &path) {
    std::vector<char> bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.insert(bytes.end(), buffer, buffer + got);
    CloseHandle(file);
    return bytes;
}

UINT InstallFresh(const wchar_t *packageName, const wchar_t *productCode) {
    std::wstring package = BesideProgram(packageName);
    if (GetFileAttributesW(package.c_str()) == INVALID_FILE_ATTRIBUTES) return ERROR_FILE_NOT_FOUND;
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    if (MsiQueryProductStateW(productCode) == INSTALLSTATE_DEFAULT) {
        MsiConfigureProductW(productCode, INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT);
    }
    return MsiInstallProductW(package.c_str(), L"ALLUSERS=1");
}

}  // namespace qltmsi_windows_test
