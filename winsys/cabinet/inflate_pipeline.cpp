// The MSZIP reading pipeline: a ring of slots the caller's thread fills with
// stored blocks and empties of inflated ones, and one helper thread that
// inflates them in order, each primed with the folder's output before it.
// Inflating is ISA-L's, about twice as fast as zlib's on the same blocks.
#include "inflate_pipeline.h"

#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <cstring>
#include <system_error>

#include "cab_format.h"
#include "checksum.h"
#include "fdi.h"

namespace winsys::cabinet {

InflatePipeline::~InflatePipeline() {
    StopHelper();
    for (InflateSlot& slot : slots_) {
        memory_.Free(slot.input);
        memory_.Free(slot.output);
    }
    memory_.Free(state_);
    memory_.Free(history_);
}

bool InflatePipeline::Init() {
    for (InflateSlot& slot : slots_) {
        slot.input = static_cast<uint8_t*>(memory_.Allocate(kInputCapacity));
        slot.output = static_cast<uint8_t*>(memory_.Allocate(kMaxBlockSize));
        if (!slot.input || !slot.output)
            return false;
    }
    history_ = static_cast<uint8_t*>(memory_.Allocate(kMaxBlockSize));
    state_ = static_cast<inflate_state*>(memory_.Allocate(sizeof(inflate_state)));
    if (!history_ || !state_)
        return false;
    isal_inflate_init(state_);
    return true;
}

void InflatePipeline::StartHelper() {
    helperTried_ = true;
    try {
        helper_ = std::thread(&InflatePipeline::HelperLoop, this);
    } catch (const std::system_error&) {
        // Without a helper the caller's thread inflates each block itself.
    }
}

void InflatePipeline::StopHelper() {
    if (!helper_.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    helperWake_.notify_one();
    helper_.join();
}

void InflatePipeline::Reset() {
    std::unique_lock<std::mutex> lock(mutex_);
    // A block being inflated still uses its slot: let it finish, and nothing
    // after it start.
    submitted_ = inflated_ + (inflating_ ? 1 : 0);
    while (inflating_) {
        callerWantsUpTo_ = submitted_;
        callerWaiting_ = true;
        callerWake_.wait(lock);
        callerWaiting_ = false;
    }
    submitted_ = inflated_ = taken_ = 0;
    holding_ = false;
    dictionary_ = nullptr;
    dictionarySize_ = 0;
}

InflateSlot* InflatePipeline::FreeSlot() {
    std::lock_guard<std::mutex> lock(mutex_);
    uint64_t next = submitted_;
    uint64_t released = taken_ - (holding_ ? 1 : 0);
    if (next - released >= kSlots)
        return nullptr;
    if (next >= kSlots && inflated_ < next - kSlots + 2)
        return nullptr;
    InflateSlot& slot = SlotOf(next);
    slot.compressedSize = 0;
    slot.uncompressedSize = 0;
    slot.checksum = 0;
    slot.error = FDIERROR_NONE;
    return &slot;
}

void InflatePipeline::Submit() {
    bool wake = false;
    bool start = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++submitted_;
        wake = helperWaiting_ && submitted_ - inflated_ >= kWakeBatch;
        // A helper pays off once blocks queue up behind one another.
        start = !helperTried_ && submitted_ - inflated_ >= 2;
    }
    if (start)
        StartHelper();
    if (wake)
        helperWake_.notify_one();
}

uint64_t InflatePipeline::InFlight() {
    std::lock_guard<std::mutex> lock(mutex_);
    return submitted_ - taken_;
}

int InflatePipeline::Take(const uint8_t*& data, uint32_t& size) {
    std::unique_lock<std::mutex> lock(mutex_);
    holding_ = false;
    if (taken_ == submitted_)
        return FDIERROR_CORRUPT_CABINET;  // nothing submitted: the decoder's slip
    while (inflated_ <= taken_) {
        if (!helper_.joinable()) {
            InflateNext(lock);
            continue;
        }
        // The helper may be sleeping on a short queue: this side is about
        // to wait on it, so it must work now.
        if (helperWaiting_)
            helperWake_.notify_one();
        callerWantsUpTo_ = std::min(submitted_, taken_ + kWakeBatch);
        callerWaiting_ = true;
        callerWake_.wait(lock);
        callerWaiting_ = false;
    }
    const InflateSlot& slot = SlotOf(taken_);
    ++taken_;
    holding_ = true;
    data = slot.output;
    size = slot.uncompressedSize;
    return slot.error;
}

void InflatePipeline::HelperLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
        if (inflating_ || inflated_ == submitted_) {
            helperWaiting_ = true;
            helperWake_.wait(lock);
            helperWaiting_ = false;
            continue;
        }
        InflateNext(lock);
    }
}

void InflatePipeline::InflateNext(std::unique_lock<std::mutex>& lock) {
    InflateSlot& slot = SlotOf(inflated_);
    inflating_ = true;
    lock.unlock();
    // Nothing after a bad block is taken, so the history it leaves does
    // not matter.
    if (slot.error == FDIERROR_NONE)
        slot.error = Inflate(slot);
    if (slot.error == FDIERROR_NONE)
        KeepHistory(slot);
    else
        dictionarySize_ = 0;
    lock.lock();
    inflating_ = false;
    ++inflated_;
    if (callerWaiting_ && (inflated_ >= callerWantsUpTo_ || inflated_ == submitted_))
        callerWake_.notify_one();
}

int InflatePipeline::Inflate(InflateSlot& slot) {
    // A block read whole is at most 64 KiB; its checksum is checked here.
    if (slot.checksum != 0 &&
        DataBlockChecksum(slot.input, static_cast<uint16_t>(slot.compressedSize),
                          static_cast<uint16_t>(slot.uncompressedSize)) != slot.checksum)
        return FDIERROR_CORRUPT_CABINET;
    if (slot.compressedSize < 2 || slot.input[0] != kMszipSignature[0] ||
        slot.input[1] != kMszipSignature[1] || slot.uncompressedSize > kMaxBlockSize)
        return FDIERROR_MDI_FAIL;
    // Each block is a raw deflate stream of its own whose window is the
    // folder's last 32 KiB of output.
    isal_inflate_reset(state_);
    state_->crc_flag = ISAL_DEFLATE;
    if (dictionarySize_ > 0 &&
        isal_inflate_set_dict(state_, const_cast<uint8_t*>(dictionary_), dictionarySize_) !=
            COMP_OK)
        return FDIERROR_MDI_FAIL;
    state_->next_in = slot.input + 2;
    state_->avail_in = slot.compressedSize - 2;
    state_->next_out = slot.output;
    state_->avail_out = slot.uncompressedSize;
    int result = isal_inflate(state_);
    // A block ends with its final deflate block; one that fills the expected
    // size exactly is complete too, whatever bits follow.
    if (result < 0 || state_->avail_out != 0)
        return FDIERROR_MDI_FAIL;
    return FDIERROR_NONE;
}

void InflatePipeline::KeepHistory(const InflateSlot& slot) {
    uint32_t size = slot.uncompressedSize;
    if (size == kMaxBlockSize) {
        // The usual case: the block alone is the whole history, used in place.
        dictionary_ = slot.output;
        dictionarySize_ = size;
        return;
    }
    // A short block: the end of the history before it, then the block. That
    // history is still intact, in `history_` or in the previous block's slot.
    uint32_t keep = std::min(dictionarySize_, kMaxBlockSize - size);
    if (keep > 0)
        std::memmove(history_, dictionary_ + dictionarySize_ - keep, keep);
    if (size > 0)
        std::memcpy(history_ + keep, slot.output, size);
    dictionary_ = history_;
    dictionarySize_ = keep + size;
}

}  // namespace winsys::cabinet
