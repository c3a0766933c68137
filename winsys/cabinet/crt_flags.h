// Flag values of the Windows C runtime's low-level file calls. The cabinet
// interfaces pass these to the caller's open callback whatever the host, as
// callers forward them to their own _open.
#pragma once

namespace winsys::cabinet {

inline constexpr int kCrtReadOnly = 0x0000;
inline constexpr int kCrtReadWrite = 0x0002;
inline constexpr int kCrtCreate = 0x0100;
inline constexpr int kCrtTruncate = 0x0200;
inline constexpr int kCrtExclusive = 0x0400;
inline constexpr int kCrtBinary = 0x8000;
inline constexpr int kCrtModeReadWrite = 0x0100 | 0x0080;  // _S_IREAD | _S_IWRITE

inline constexpr int kSeekSet = 0;
inline constexpr int kSeekCur = 1;
inline constexpr int kSeekEnd = 2;

}  // namespace winsys::cabinet
