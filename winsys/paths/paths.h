// Windows paths on the POSIX file system, for every winsys area. The prefix
// directory holds the drives: C: is <prefix>/drive_c, Z: is /, other letters
// come from <prefix>/dosdevices/<x>: links (Wine's model).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace winsys::paths {

// The prefix directory (native, absolute, no trailing slash): $QLTMSI_PREFIX,
// or ~/.qltmsi. Created on first use, with drive_c/windows/{system32,Installer,Temp}
// and dosdevices/c: and z: links. The variable is read on every call, so a
// process (a test) may switch prefixes; each one is created once.
const std::string& prefixDirectory();

// A Windows path as a native path. Accepted forms: drive-absolute "C:\x\y",
// drive-relative "C:x" (taken from the drive's root), rooted "\x" (on the
// drive of the current directory), relative "x\y" (from the current
// directory), and any of these behind "\\?\". '/' counts as '\'. "." and ".."
// are folded, trailing dots and spaces of names dropped, and each name that
// does not exist as written is matched case-insensitively against its
// directory, so C:\Windows and C:\windows are one directory. Names past the
// first missing one are kept as written.
// Fails (nullopt) for an empty path, an unknown drive, a UNC or device path
// (ERROR_PATH_NOT_FOUND), characters Windows forbids in names
// (ERROR_INVALID_NAME), or a path of MAX_PATH characters or more without
// "\\?\" (ERROR_FILENAME_EXCED_RANGE); *error then holds the code.
__attribute__((visibility("default"))) std::optional<std::string> toNative(
    std::u16string_view windowsPath, unsigned* error = nullptr);

// The full Windows form of a path, computed from the text alone as
// GetFullPathNameW does: drive-absolute, "." and ".." folded, '\' separators,
// a trailing '\' kept. Fails as toNative does for bad or over-long paths.
std::optional<std::u16string> fullPath(std::u16string_view windowsPath, unsigned* error = nullptr);

// A native path (absolute, or relative to the current directory) in its
// Windows form: under the prefix's drive_c it is "C:\...", under the target
// of a <prefix>/dosdevices/<x>: link "X:\...", anything else "Z:\...".
// "." and ".." are folded; no trailing '\' except for a drive root.
__attribute__((visibility("default"))) std::u16string toWindows(std::string_view nativePath);

// The Windows form of the process's current directory.
std::u16string currentDirectory();

}  // namespace winsys::paths
