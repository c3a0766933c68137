// Text and path conversions at the command line's edge: arguments and output
// are UTF-8, the Windows calls take UTF-16, and the host's own paths are
// accepted wherever a Windows path is.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace qltmsi {

// Wide text as the Windows calls take it (wchar_t on Windows, char16_t over
// winsys; UTF-16 on both).
using WideString = std::basic_string<WCHAR>;
using WideView = std::basic_string_view<WCHAR>;

WideString toWide(std::string_view utf8);
std::string toUtf8(WideView wide);

// A path as the user typed it, in Windows form: "C:\..." and other drive
// paths pass as they are; any other path is made absolute the host's way (on
// POSIX hosts a native path is named through the prefix's drives, Z: mapping
// the whole native file system).
WideString windowsPathOf(std::string_view typed);

// The last component of a Windows path, and everything before it (with its
// trailing '\').
WideString fileNameOf(WideView path);
WideString folderOf(WideView path);

}  // namespace qltmsi
