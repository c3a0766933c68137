// Windows paths on the POSIX file system, for every winsys area. The prefix
// directory holds the drives: C: is <prefix>/drive_c, Z: is /, other letters
// come from <prefix>/dosdevices/<x>: links (Wine's model).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace winsys::paths {

// The prefix directory (native, no trailing slash): $QLTMSI_PREFIX, or
// ~/.qltmsi. Created on first use, with drive_c/windows/{system32,Installer,Temp}
// and dosdevices/c: and z: links.
const std::string& prefixDirectory();

// A Windows path (drive-absolute "C:\x\y", or "\\?\"-free relative forms the
// kernel accepts) as a native path. Fails (nullopt) for a null/empty path, an
// unknown drive, or a path longer than MAX_PATH; *error then holds the Windows
// error code to report (ERROR_PATH_NOT_FOUND, ERROR_INVALID_NAME,
// ERROR_FILENAME_EXCED_RANGE, ...).
std::optional<std::string> toNative(std::u16string_view windowsPath, unsigned* error = nullptr);

// A native absolute path in its Windows form: under the prefix's drive_c it is
// "C:\...", anything else "Z:\...".
std::u16string toWindows(std::string_view nativePath);

}  // namespace winsys::paths
