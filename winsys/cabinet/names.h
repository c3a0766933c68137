// Text rules for file names stored in a cabinet. On POSIX hosts the narrow
// ("ANSI") code page is UTF-8, so a name with bytes above 0x7F is stored as
// UTF-8 and flagged as such; a stored name without that flag is taken as
// Latin-1 and handed out as UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>

namespace winsys::cabinet {

bool IsAscii(const char* text, size_t size);
bool IsValidUtf8(const char* text, size_t size);

// Writes `text` (Latin-1) as UTF-8 into `out` with a terminator; false when
// it does not fit in `outSize` bytes.
bool Latin1ToUtf8(const char* text, size_t size, char* out, size_t outSize);

}  // namespace winsys::cabinet
