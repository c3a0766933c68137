// Inflating a folder's MSZIP blocks on a helper thread while the caller's
// thread reads the blocks that follow and writes out the ones before. Only
// inflating leaves the caller's thread: every read, write and allocation is
// still made by the caller's callbacks on the caller's thread (the pipeline's
// memory is all taken before the helper starts). Blocks come back strictly in
// order, each with its own error.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "client_memory.h"

struct inflate_state;

namespace winsys::cabinet {

// One block on its way through the pipeline.
struct InflateSlot {
    uint8_t* input = nullptr;  // the stored bytes, "CK" and deflate data
    uint8_t* output = nullptr;
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
    uint32_t checksum = 0;  // checked before inflating unless zero
    int error = 0;  // an FDIERROR; set before Submit when reading failed
};

class InflatePipeline {
  public:
    // Room for a block's stored bytes, both parts of a split one.
    static constexpr uint32_t kInputCapacity = 2 * 0xFFFF;

    explicit InflatePipeline(const ClientMemory& memory) : memory_(memory) {}
    InflatePipeline(const InflatePipeline&) = delete;
    InflatePipeline& operator=(const InflatePipeline&) = delete;
    ~InflatePipeline();

    // Allocates the slots and the inflate state; false when memory ran out.
    bool Init();
    // Forgets every block: the next one submitted starts a folder.
    void Reset();

    // The slot for the next block, or null while every slot is busy.
    InflateSlot* FreeSlot();
    // Hands the slot FreeSlot returned over for inflating.
    void Submit();
    // Blocks submitted and not yet taken.
    uint64_t InFlight();
    // The oldest block submitted, once inflated: its output stays valid
    // until the next Take or Reset. Returns the block's FDIERROR.
    int Take(const uint8_t*& data, uint32_t& size);

  private:
    static constexpr uint64_t kSlots = 8;
    // Each side is woken for this many blocks at a time, not for every one:
    // a wake-up per 32 KiB block costs about as much as inflating it.
    static constexpr uint64_t kWakeBatch = 4;

    void StartHelper();
    void StopHelper();
    void HelperLoop();
    // Inflates the next submitted block; called with the lock held, by
    // whichever thread finds it waiting.
    void InflateNext(std::unique_lock<std::mutex>& lock);
    int Inflate(InflateSlot& slot);
    void KeepHistory(const InflateSlot& slot);
    InflateSlot& SlotOf(uint64_t block) { return slots_[block % kSlots]; }

    const ClientMemory& memory_;
    InflateSlot slots_[kSlots];
    inflate_state* state_ = nullptr;
    uint8_t* history_ = nullptr;  // history made of several short blocks
    // What the next block is primed with: the previous block's output when
    // that was a whole block, otherwise `history_`.
    const uint8_t* dictionary_ = nullptr;
    uint32_t dictionarySize_ = 0;

    // Blocks are numbered from the folder's start: submitted, inflated and
    // taken so far. A slot is refilled only once the block after its last
    // one is inflated, since that block was primed from it.
    uint64_t submitted_ = 0;
    uint64_t inflated_ = 0;
    uint64_t taken_ = 0;
    uint64_t callerWantsUpTo_ = 0;  // wake the waiting caller when inflated_ reaches it
    bool holding_ = false;          // the caller still reads the last block taken
    bool inflating_ = false;
    bool stop_ = false;
    bool helperWaiting_ = false;
    bool callerWaiting_ = false;
    bool helperTried_ = false;
    std::thread helper_;
    std::mutex mutex_;
    std::condition_variable helperWake_;
    std::condition_variable callerWake_;
};

}  // namespace winsys::cabinet
