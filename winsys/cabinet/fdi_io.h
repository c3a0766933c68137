// Exact reads and absolute seeks through the FDI caller's callbacks.
#pragma once

#include <cstdint>

#include "crt_flags.h"
#include "fdi_context.h"

namespace winsys::cabinet {

inline bool ReadExactly(FdiContext& fdi, INT_PTR hf, void* buffer, uint32_t size) {
    return size == 0 || fdi.read(hf, buffer, size) == size;
}

inline bool SeekTo(FdiContext& fdi, INT_PTR hf, uint64_t offset) {
    if (offset > 0x7FFFFFFF)
        return false;
    return fdi.seek(hf, static_cast<long>(offset), kSeekSet) == static_cast<long>(offset);
}

}  // namespace winsys::cabinet
