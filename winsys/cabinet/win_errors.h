// The few Windows error codes that the cabinet interfaces store in ERF.erfType
// when no callback supplied one.
#pragma once

namespace winsys::cabinet {

inline constexpr int kErrorNotEnoughMemory = 8;
inline constexpr int kErrorInvalidData = 13;
inline constexpr int kErrorInvalidParameter = 87;
inline constexpr int kErrorBadArguments = 160;

}  // namespace winsys::cabinet
