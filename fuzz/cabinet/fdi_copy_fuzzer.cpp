// libFuzzer target: the input is a cabinet file, extracted by FDICopy through
// in-memory callbacks that write every file to nowhere.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fdi.h"

namespace {

// Every cabinet name opens the same bytes, so that a cabinet that names a
// next one exercises the continuation path too.
constexpr int kMaxHandles = 8;
constexpr INT_PTR kCabinetHandle = 100;
constexpr INT_PTR kTargetHandle = 200;

struct Input {
    const uint8_t* data = nullptr;
    size_t size = 0;
    size_t position[kMaxHandles] = {};
    bool open[kMaxHandles] = {};
    int openHandles = 0;
};
Input g_input;

size_t* PositionOf(INT_PTR hf) {
    if (hf < kCabinetHandle || hf >= kCabinetHandle + kMaxHandles ||
        !g_input.open[hf - kCabinetHandle])
        __builtin_trap();  // a handle the module was never given, or one already closed
    return &g_input.position[hf - kCabinetHandle];
}

void* Alloc(ULONG size) {
    return std::malloc(size);
}
void Free(void* p) {
    std::free(p);
}

INT_PTR Open(char* name, int, int) {
    if (std::strncmp(name, "dir/", 4) != 0)
        return -1;
    for (int i = 0; i < kMaxHandles; ++i) {
        if (!g_input.open[i]) {
            g_input.open[i] = true;
            g_input.position[i] = 0;
            ++g_input.openHandles;
            return kCabinetHandle + i;
        }
    }
    return -1;
}

UINT Read(INT_PTR hf, void* buffer, UINT cb) {
    size_t* position = PositionOf(hf);
    size_t left = g_input.size - *position;
    size_t n = cb < left ? cb : left;
    std::memcpy(buffer, g_input.data + *position, n);
    *position += n;
    return static_cast<UINT>(n);
}

UINT Write(INT_PTR hf, void* buffer, UINT cb) {
    if (hf != kTargetHandle)
        __builtin_trap();
    // Touch every byte handed over, so that reads past a buffer show.
    volatile uint8_t sink = 0;
    for (UINT i = 0; i < cb; ++i)
        sink = sink ^ static_cast<uint8_t*>(buffer)[i];
    return cb;
}

int Close(INT_PTR hf) {
    if (hf != kTargetHandle) {
        PositionOf(hf);
        g_input.open[hf - kCabinetHandle] = false;
    }
    --g_input.openHandles;
    return 0;
}

long Seek(INT_PTR hf, long distance, int origin) {
    size_t* position = PositionOf(hf);
    long base = origin == 0   ? 0
                : origin == 1 ? static_cast<long>(*position)
                              : static_cast<long>(g_input.size);
    long target = base + distance;
    if (target < 0)
        return -1;
    *position =
        static_cast<size_t>(target) < g_input.size ? static_cast<size_t>(target) : g_input.size;
    return target;
}

INT_PTR Notify(FDINOTIFICATIONTYPE type, PFDINOTIFICATION note) {
    switch (type) {
        case fdintCOPY_FILE:
            if (std::strlen(note->psz1) > 3 * 256)
                __builtin_trap();
            ++g_input.openHandles;
            return kTargetHandle;
        case fdintCLOSE_FILE_INFO:
            --g_input.openHandles;
            return TRUE;
        default:
            return 0;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    g_input = Input{};
    g_input.data = data;
    g_input.size = size;
    ERF erf{};
    HFDI fdi = FDICreate(Alloc, Free, Open, Read, Write, Close, Seek, cpu80386, &erf);
    if (!fdi)
        return 0;
    char cabinet[] = "fuzz.cab";
    char directory[] = "dir/";
    FDICopy(fdi, cabinet, directory, 0, Notify, nullptr, nullptr);
    FDICABINETINFO info{};
    INT_PTR hf = Open(directory, 0, 0);
    FDIIsCabinet(fdi, hf, &info);
    Close(hf);
    FDIDestroy(fdi);
    if (g_input.openHandles != 0)
        __builtin_trap();  // a handle was left open
    return 0;
}
