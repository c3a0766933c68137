// zlib's allocation hooks over the caller's allocator, so that deflate and
// inflate state is client memory too. The opaque pointer is a ClientMemory.
#pragma once

#include <zlib.h>

#include <cstdint>

#include "client_memory.h"

namespace winsys::cabinet {

inline voidpf ZlibAlloc(voidpf opaque, uInt items, uInt size) {
    auto* memory = static_cast<const ClientMemory*>(opaque);
    uint64_t bytes = static_cast<uint64_t>(items) * size;
    return bytes > UINT32_MAX ? Z_NULL : memory->Allocate(static_cast<size_t>(bytes));
}

inline void ZlibFree(voidpf opaque, voidpf address) {
    static_cast<const ClientMemory*>(opaque)->Free(address);
}

}  // namespace winsys::cabinet
