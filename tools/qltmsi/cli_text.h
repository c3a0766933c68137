// Text and path conversions at the command line's edge: arguments and output
// are UTF-8, the Windows calls take UTF-16, and native paths are accepted
// wherever a Windows path is.
#pragma once

#include <string>
#include <string_view>

namespace qltmsi {

std::u16string toWide(std::string_view utf8);
std::string toUtf8(std::u16string_view wide);

// A path as the user typed it, in Windows form: "C:\..." and other
// drive paths pass as they are; native paths (absolute or relative to the
// current directory) are made absolute and named through drive Z:, which
// maps the whole native file system.
std::u16string windowsPathOf(std::string_view typed);

// The last component of a Windows path, and everything before it (with its
// trailing '\').
std::u16string fileNameOf(std::u16string_view path);
std::u16string folderOf(std::u16string_view path);

}  // namespace qltmsi
