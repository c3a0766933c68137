// Encoding of data block records for the cabinet writer.
#include "block_encoder.h"

#include <cstring>

#include "checksum.h"
#include "fdi_fci_types.h"

namespace winsys::cabinet {
namespace {

voidpf ZAlloc(voidpf opaque, uInt items, uInt size)
{
    auto *memory = static_cast<const ClientMemory *>(opaque);
    uint64_t bytes = static_cast<uint64_t>(items) * size;
    return bytes > UINT32_MAX ? Z_NULL : memory->Allocate(static_cast<size_t>(bytes));
}

void ZFree(voidpf opaque, voidpf address) { static_cast<const ClientMemory *>(opaque)->Free(address); }

} // namespace

bool BlockEncoder::Init(const ClientMemory &memory)
{
    if (ready_)
        return true;
    std::memset(&stream_, 0, sizeof stream_);
    stream_.zalloc = ZAlloc;
    stream_.zfree = ZFree;
    stream_.opaque = const_cast<ClientMemory *>(&memory);
    ready_ = deflateInit2(&stream_, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    return ready_;
}

void BlockEncoder::End()
{
    if (ready_)
        deflateEnd(&stream_);
    ready_ = false;
}

void BlockEncoder::Encode(DataBlock &block)
{
    uint8_t *payload = block.record + kDataHeaderSize + block.reserve;
    uint32_t payloadSize = 0;
    block.failed = false;
    if (block.type == tcompTYPE_MSZIP) {
        if (!ready_ || deflateReset(&stream_) != Z_OK) {
            block.failed = true;
            return;
        }
        payload[0] = kMszipSignature[0];
        payload[1] = kMszipSignature[1];
        stream_.next_in = block.input;
        stream_.avail_in = block.inputSize;
        stream_.next_out = payload + 2;
        stream_.avail_out = kMaxCompressedBlock - 2;
        if (deflate(&stream_, Z_FINISH) != Z_STREAM_END) {
            block.failed = true;
            return;
        }
        payloadSize = 2 + static_cast<uint32_t>(stream_.total_out);
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

} // namespace winsys::cabinet
