// Helpers shared by the Installer API entry points: paths, text buffers.
#pragma once

#include <windef.h>
#include <winerror.h>

#include <optional>
#include <string>
#include <string_view>

namespace winsys::msi {

// A Windows path (or, for POSIX callers and tools, an absolute native path)
// as a native path.
std::optional<std::string> nativePathOf(std::u16string_view path);
std::optional<std::string> nativePathOfNarrow(const char* path);

std::u16string wideOf(const char* narrow);  // ANSI (UTF-8 here) to UTF-16
std::u16string wideOf(const WCHAR* wide);

// Copies `text` into a caller's buffer with the Installer's counting rules:
// *count in = capacity in characters, out = length without the terminator;
// ERROR_MORE_DATA when it does not fit (the buffer gets what fits, ended).
UINT copyOut(std::u16string_view text, WCHAR* buffer, DWORD* count);
UINT copyOut(std::u16string_view text, char* buffer, DWORD* count);

}  // namespace winsys::msi
