// The block pipeline of the cabinet writer: a ring of slots, encoded by
// whichever thread is free, retired in order on the caller's thread.
#include "compression_pipeline.h"

#include <algorithm>
#include <system_error>

namespace winsys::cabinet {

CompressionPipeline::~CompressionPipeline() {
    StopWorkers();
    if (blocks_) {
        for (size_t i = 0; i < slotCount_; ++i)
            blocks_[i].~DataBlock();
    }
    memory_.Free(blocks_);
    memory_.Free(states_);
}

bool CompressionPipeline::EnsureSlots() {
    if (blocks_)
        return true;
    unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    size_t threads = std::min<size_t>(cores, kMaxWorkers + 1);
    size_t count = threads * 3 + 2;
    auto* blocks = static_cast<DataBlock*>(memory_.Allocate(count * sizeof(DataBlock)));
    auto* states = static_cast<SlotState*>(memory_.Allocate(count * sizeof(SlotState)));
    if (!blocks || !states) {
        memory_.Free(blocks);
        memory_.Free(states);
        return false;
    }
    for (size_t i = 0; i < count; ++i) {
        new (&blocks[i]) DataBlock();
        states[i] = SlotState::Free;
    }
    blocks_ = blocks;
    states_ = states;
    slotCount_ = count;
    return true;
}

void CompressionPipeline::MaybeStartWorkers() {
    // Helpers pay off only once there is more than one block to encode.
    if (workersTried_ || queued_ < 2)
        return;
    workersTried_ = true;
    unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    size_t wanted = std::min<size_t>(cores - 1, kMaxWorkers);
    for (size_t i = 0; i < wanted; ++i) {
        // The encoder's memory comes from the caller's allocator: set it up
        // here, on the caller's thread.
        if (!workerEncoders_[i].Init(memory_))
            break;
        try {
            workers_[i] = std::thread(&CompressionPipeline::WorkerLoop, this, &workerEncoders_[i]);
        } catch (const std::system_error&) {
            workerEncoders_[i].End();
            break;
        }
        ++workerCount_;
    }
}

void CompressionPipeline::StopWorkers() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    for (size_t i = 0; i < workerCount_; ++i) {
        workers_[i].join();
        workerEncoders_[i].End();
    }
    workerCount_ = 0;
}

DataBlock* CompressionPipeline::FirstQueued() {
    for (size_t k = 0; k < queued_; ++k) {
        size_t i = (head_ + k) % slotCount_;
        if (states_[i] == SlotState::Queued)
            return &blocks_[i];
    }
    return nullptr;
}

void CompressionPipeline::WorkerLoop(BlockEncoder* encoder) {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
        DataBlock* block = FirstQueued();
        if (!block) {
            changed_.wait(lock);
            continue;
        }
        size_t index = static_cast<size_t>(block - blocks_);
        states_[index] = SlotState::Working;
        lock.unlock();
        encoder->Encode(*block);
        lock.lock();
        states_[index] = SlotState::Done;
        changed_.notify_all();
    }
}

bool CompressionPipeline::RetireOldest(std::unique_lock<std::mutex>& lock, RetireFn retire,
                                       void* context) {
    size_t oldest = head_;
    while (states_[oldest] != SlotState::Done) {
        // Rather than wait, encode whatever is still queued here.
        DataBlock* block = FirstQueued();
        if (block) {
            size_t index = static_cast<size_t>(block - blocks_);
            states_[index] = SlotState::Working;
            lock.unlock();
            if (block->type != 0 && !callerEncoder_.Ready() && !callerEncoder_.Init(memory_))
                block->failed = true;
            else
                callerEncoder_.Encode(*block);
            lock.lock();
            states_[index] = SlotState::Done;
            changed_.notify_all();
            continue;
        }
        changed_.wait(lock);
    }
    lock.unlock();
    bool ok = retire(context, blocks_[oldest]);
    lock.lock();
    states_[oldest] = SlotState::Free;
    head_ = (head_ + 1) % slotCount_;
    --queued_;
    return ok;
}

DataBlock* CompressionPipeline::NextFree(RetireFn retire, void* context, bool& retireFailed) {
    retireFailed = false;
    if (!EnsureSlots())
        return nullptr;
    std::unique_lock<std::mutex> lock(mutex_);
    while (queued_ >= slotCount_) {
        if (!RetireOldest(lock, retire, context)) {
            retireFailed = true;
            return nullptr;
        }
    }
    DataBlock* block = &blocks_[(head_ + queued_) % slotCount_];
    block->inputSize = 0;
    block->failed = false;
    return block;
}

void CompressionPipeline::Submit(DataBlock* block) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        states_[static_cast<size_t>(block - blocks_)] = SlotState::Queued;
        ++queued_;
    }
    MaybeStartWorkers();
    changed_.notify_all();
}

bool CompressionPipeline::Drain(RetireFn retire, void* context) {
    if (!blocks_)
        return true;
    std::unique_lock<std::mutex> lock(mutex_);
    while (queued_ > 0) {
        if (!RetireOldest(lock, retire, context))
            return false;
    }
    return true;
}

void CompressionPipeline::Discard() {
    if (!blocks_)
        return;
    std::unique_lock<std::mutex> lock(mutex_);
    for (size_t i = 0; i < slotCount_; ++i)
        if (states_[i] == SlotState::Queued)
            states_[i] = SlotState::Done;
    for (;;) {
        bool working = false;
        for (size_t i = 0; i < slotCount_; ++i)
            working = working || states_[i] == SlotState::Working;
        if (!working)
            break;
        changed_.wait(lock);
    }
    for (size_t i = 0; i < slotCount_; ++i)
        states_[i] = SlotState::Free;
    head_ = 0;
    queued_ = 0;
}

}  // namespace winsys::cabinet
