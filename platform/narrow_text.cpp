// Conversions between the library's wide text and the narrow "A" calls.
#include "platform/narrow_text.h"

#include <algorithm>

NarrowArgument::NarrowArgument(LPCWSTR wide) {
    if (wide == nullptr) {
        isNull_ = true;
        return;
    }
    size_t length = 0;
    while (length <= kMaxNarrowArgumentChars && wide[length] != 0) {
        ++length;
    }
    convert(wide, length + 1);
}

NarrowArgument::NarrowArgument(LPCWSTR wide, size_t count) {
    if (wide == nullptr) {
        isNull_ = true;
        return;
    }
    convert(wide, count);
}

void NarrowArgument::convert(LPCWSTR wide, size_t count) {
    if (count > kMaxNarrowArgumentChars + 1) {
        fits_ = false;
        return;
    }
    if (count == 0) {
        return;
    }
    byteCount_ = WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(count), text_.data(),
                                     static_cast<int>(text_.size() - 1), nullptr, nullptr);
    if (byteCount_ == 0) {
        fits_ = false;
    }
}

std::vector<char> NarrowResultBuffer(size_t bytes) {
    return std::vector<char>(std::max<size_t>(bytes, 1), '\0');
}

void WidenInto(const char* narrow, LPWSTR wide, size_t capacity, DWORD flags) {
    if (wide == nullptr || capacity == 0) {
        return;
    }
    const int written =
        MultiByteToWideChar(CP_ACP, flags, narrow, -1, wide, static_cast<int>(capacity));
    if (written == 0) {
        wide[capacity - 1] = 0;
    }
}

bool ToAnsi(LPCWSTR wide, char* narrow, int capacity) {
    if (wide == nullptr) {
        return false;
    }
    return WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow, capacity, nullptr, nullptr) > 0;
}
