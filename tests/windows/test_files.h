// Files beside the test program and fresh installs of the test products,
// shared by the tests that drive the DLL against installed products.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace qltmsi_windows_test {

// A path in the test program's own directory (where the DLL and the wixl-made
// packages are).
std::wstring BesideProgram(const wchar_t *name);

// A file's bytes; empty when it cannot be read.
std::vector<char> ReadAll(const std::wstring &path);

// Installs the named package from beside the program without UI, removing
// the product first when an earlier run in the same prefix left it, so every
// run starts from the package as built. ERROR_FILE_NOT_FOUND when the package
// was not built (no wixl), otherwise MsiInstallProductW's answer.
UINT InstallFresh(const wchar_t *packageName, const wchar_t *productCode);

}  // namespace qltmsi_windows_test
