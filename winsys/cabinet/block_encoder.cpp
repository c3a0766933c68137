// Encoding of data block records for the cabinet writer.
#include "block_encoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "checksum.h"
#include "fdi_fci_types.h"

namespace winsys::cabinet {
namespace {

// Bits per byte of an order-0 code for bytes with these counts.
double BitsPerByte(const uint32_t (&counts)[256], uint32_t size) {
    double bits = 0;
    for (uint32_t c : counts)
        if (c)
            bits -= c * std::log2(static_cast<double>(c) / size);
    return bits / size;
}

// Counts bytes into `counts`. Four tables take turns, so that runs of one
// byte value do not make each count wait for the one before.
void CountBytes(const uint8_t* data, uint32_t size, uint32_t (&counts)[256]) {
    uint32_t partial[4][256] = {};
    uint32_t i = 0;
    for (; i + 4 <= size; i += 4) {
        ++partial[0][data[i]];
        ++partial[1][data[i + 1]];
        ++partial[2][data[i + 2]];
        ++partial[3][data[i + 3]];
    }
    for (; i < size; ++i)
        ++partial[0][data[i]];
    for (int b = 0; b < 256; ++b)
        counts[b] += partial[0][b] + partial[1][b] + partial[2][b] + partial[3][b];
}

// Data that is already compressed costs deflate as much time as text and
// comes out stored anyway. Near-uniform byte frequencies (Huffman coding
// gains nothing) and almost no repeated four-byte strings (matches gain
// nothing) mark such a block; it is then stored at once. Most blocks that
// deflate does shrink show it in their first 8 KiB already, and are let go
// after counting those alone; only a block that looks random all through is
// stored, so a wrong guess costs time, never size.
bool LooksIncompressible(const uint8_t* data, uint32_t size) {
    if (size < 4096)
        return false;
    constexpr uint32_t kSample = 8192;
    uint32_t counts[256] = {};
    const uint32_t sample = std::min(size, kSample);
    CountBytes(data, sample, counts);
    // Random bytes measure close to 8 bits even in a sample this small.
    if (BitsPerByte(counts, sample) < 7.5)
        return false;
    CountBytes(data + sample, size - sample, counts);
    if (BitsPerByte(counts, size) < 7.97)
        return false;
    // Repeated four-byte strings, found through a table of the last word
    // seen in each hash slot; no branch per byte, so random data, which
    // comes this far, is scanned quickly.
    constexpr uint32_t kTableBits = 14;
    uint32_t table[1u << kTableBits] = {};
    uint32_t repeats = 0;
    for (uint32_t i = 0; i + 4 <= size; ++i) {
        uint32_t word;
        std::memcpy(&word, data + i, 4);
        uint32_t slot = (word * 2654435761u) >> (32 - kTableBits);
        repeats += table[slot] == word;
        table[slot] = word;
    }
    return repeats <= 32;
}

// A single final stored deflate block, as deflate itself emits for such data.
uint32_t WriteStoredDeflate(const uint8_t* data, uint32_t size, uint8_t* out) {
    out[0] = 0x01;  // final block, stored
    WriteLe16(out + 1, static_cast<uint16_t>(size));
    WriteLe16(out + 3, static_cast<uint16_t>(~size));
    std::memcpy(out + 5, data, size);
    return size + 5;
}

}  // namespace

bool BlockEncoder::Init(const ClientMemory& memory) {
    if (ready_)
        return true;
    memory_ = &memory;
    stream_ = static_cast<isal_zstream*>(memory.Allocate(sizeof(isal_zstream)));
    levelBuffer_ = static_cast<uint8_t*>(memory.Allocate(ISAL_DEF_LVL3_DEFAULT));
    ready_ = stream_ && levelBuffer_;
    if (!ready_)
        End();
    return ready_;
}

void BlockEncoder::End() {
    if (memory_) {
        memory_->Free(levelBuffer_);
        memory_->Free(stream_);
    }
    levelBuffer_ = nullptr;
    stream_ = nullptr;
    ready_ = false;
}

bool BlockEncoder::EncodeMszip(const DataBlock& block, uint8_t* payload, uint32_t& payloadSize) {
    payload[0] = kMszipSignature[0];
    payload[1] = kMszipSignature[1];
    auto stored = [&] {
        payloadSize = 2 + WriteStoredDeflate(block.input, block.inputSize, payload + 2);
        return true;
    };
    if (LooksIncompressible(block.input, block.inputSize))
        return stored();
    if (!ready_)
        return false;
    isal_deflate_init(stream_);
    stream_->level = kMszipLevel;
    stream_->level_buf = levelBuffer_;
    stream_->level_buf_size = ISAL_DEF_LVL3_DEFAULT;
    stream_->end_of_stream = 1;
    stream_->flush = NO_FLUSH;
    if (block.historySize > 0 &&
        isal_deflate_set_dict(stream_, const_cast<uint8_t*>(block.history), block.historySize) != COMP_OK)
        return false;
    stream_->next_in = const_cast<uint8_t*>(block.input);
    stream_->avail_in = block.inputSize;
    stream_->next_out = payload + 2;
    stream_->avail_out = kMaxCompressedBlock - 2;
    if (isal_deflate(stream_) != COMP_OK)
        return false;
    // Data that grows under deflate goes stored, which always fits.
    if (stream_->internal_state.state != ZSTATE_END || stream_->total_out > block.inputSize + 5)
        return stored();
    payloadSize = 2 + static_cast<uint32_t>(stream_->total_out);
    return true;
}

void BlockEncoder::Encode(DataBlock& block) {
    uint8_t* payload = block.record + kDataHeaderSize + block.reserve;
    uint32_t payloadSize = 0;
    block.failed = false;
    if (block.type == tcompTYPE_MSZIP) {
        if (!EncodeMszip(block, payload, payloadSize)) {
            block.failed = true;
            return;
        }
    } else {
        std::memcpy(payload, block.input, block.inputSize);
        payloadSize = block.inputSize;
    }
    auto cbData = static_cast<uint16_t>(payloadSize);
    auto cbUncomp = static_cast<uint16_t>(block.inputSize);
    WriteLe32(block.record, DataBlockChecksum(payload, cbData, cbUncomp));
    WriteLe16(block.record + 4, cbData);
    WriteLe16(block.record + 6, cbUncomp);
    std::memset(block.record + kDataHeaderSize, 0, block.reserve);
    block.compressedSize = cbData;
    block.recordSize = kDataHeaderSize + block.reserve + payloadSize;
}

}  // namespace winsys::cabinet
