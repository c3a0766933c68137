// Encodes data blocks on the caller's thread and on helper threads at once,
// and hands them back strictly in order. Only the pure encoding work leaves
// the caller's thread: writing blocks out, status reports and every other
// callback happen in the retire function, which runs on the caller's thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>

#include "block_encoder.h"
#include "client_memory.h"

namespace winsys::cabinet {

class CompressionPipeline {
  public:
    // Called for each finished block, oldest first; false stops the caller.
    using RetireFn = bool (*)(void* context, DataBlock& block);

    explicit CompressionPipeline(const ClientMemory& memory) : memory_(memory) {}
    CompressionPipeline(const CompressionPipeline&) = delete;
    CompressionPipeline& operator=(const CompressionPipeline&) = delete;
    ~CompressionPipeline();

    // The next block to fill, retiring old ones to make room; null when a
    // retire failed or memory ran out (`retireFailed` tells which).
    DataBlock* NextFree(RetireFn retire, void* context, bool& retireFailed);
    // Queues a filled block for encoding.
    void Submit(DataBlock* block);
    // Retires every queued block; false when a retire failed.
    bool Drain(RetireFn retire, void* context);
    // Forgets queued blocks without retiring them (after a failure).
    void Discard();

  private:
    enum class SlotState { Free, Queued, Working, Done };
    static constexpr size_t kMaxWorkers = 3;

    bool EnsureSlots();
    void MaybeStartWorkers();
    DataBlock* FirstQueued();  // under lock
    bool RetireOldest(std::unique_lock<std::mutex>& lock, RetireFn retire, void* context);
    void WorkerLoop(BlockEncoder* encoder);
    void StopWorkers();

    const ClientMemory& memory_;
    DataBlock* blocks_ = nullptr;
    SlotState* states_ = nullptr;
    size_t slotCount_ = 0;
    size_t head_ = 0;
    size_t queued_ = 0;  // blocks handed over and not yet retired

    BlockEncoder callerEncoder_;
    BlockEncoder workerEncoders_[kMaxWorkers];
    std::thread workers_[kMaxWorkers];
    size_t workerCount_ = 0;
    bool workersTried_ = false;
    bool stop_ = false;
    std::mutex mutex_;
    std::condition_variable changed_;
};

}  // namespace winsys::cabinet
