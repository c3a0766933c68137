// Conversions between the library's wide text and the narrow text of the
// system's "A" calls, for the narrow fallbacks of the platform call table.
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>
#include <vector>

// Longest wide argument a narrow fallback passes on. Far above every path
// and value the library makes (paths hold 260 characters, the restore command
// 360); a longer one is refused instead of being cut.
inline constexpr size_t kMaxNarrowArgumentChars = 1024;

// Largest narrow result buffer a fallback allocates; callers ask for 261.
inline constexpr DWORD kMaxNarrowResultBytes = 32768;

// A wide argument converted to the ANSI code page, held on the stack. Sized
// for the worst case of a multibyte code page: three bytes for every UTF-16
// unit (UTF-8), plus the terminator.
class NarrowArgument {
  public:
    explicit NarrowArgument(LPCWSTR wide);
    // Converts exactly `count` units (which may include a terminator).
    NarrowArgument(LPCWSTR wide, size_t count);

    // The converted text, or null when the argument was null.
    LPSTR get() { return isNull_ ? nullptr : text_.data(); }
    // False when the argument was too long to pass on.
    bool fits() const { return fits_; }
    // Bytes produced, terminator included when one was converted.
    int byteCount() const { return byteCount_; }

  private:
    void convert(LPCWSTR wide, size_t count);

    std::array<char, 3 * kMaxNarrowArgumentChars + 1> text_{};
    bool isNull_ = false;
    bool fits_ = true;
    int byteCount_ = 0;
};

// A short-lived heap buffer for narrow text that an "A" call returns.
std::vector<char> NarrowResultBuffer(size_t bytes);

// Converts NUL-terminated narrow text into a wide buffer of `capacity`
// characters; the result is always terminated when capacity > 0.
void WidenInto(const char* narrow, LPWSTR wide, size_t capacity, DWORD flags);

// Converts `wide` into `narrow`, `capacity` bytes in the ANSI code page;
// false when it is null or does not fit with its terminator.
bool ToAnsi(LPCWSTR wide, char* narrow, int capacity);
