#include "library/decode_entry.h"

#include <cstring>

#include "codec/decoder_state.h"
#include "codec/decrypt_buffer.h"
#include "codec/page_buffer.h"
#include "container/blowfish.h"
#include "container/crc32.h"
#include "container/format.h"
#include "platform/platform.h"

namespace vorx {
namespace {

// The codec calls a plain function; the public callback may use another calling
// convention (stdcall on 32-bit Windows).
void ReportBlockProgress(void* context, int percent) {
    const DecodeContext* c = static_cast<const DecodeContext*>(context);
    c->progress(c->userData, percent);
}

// One entry's decode in progress: the blocks taken so far and what they gave.
class EntryRun {
public:
    EntryRun(const EntryAt& entry, const DecodeContext& context, OutputTarget* target,
             OutputSink sink, void* sinkContext)
        : info_(entry.info),
          c_(context),
          target_(target),
          sink_(sink),
          sinkContext_(sinkContext),
          dataStart_(entry.recordPosition + kEntryRecordSize),
          encrypted_(context.password && (entry.info.attributes & kAttributeEncrypted)) {}

    // Takes the next block's turn: 0, or the code that ends the entry.
    vorx_Error Turn();
    bool Done() const { return consumed_ >= info_.compressedSize; }
    // After the last block: the length and the CRC-32 against the record.
    vorx_Error Finish() const;
    uint64_t produced() const { return produced_; }

private:
    // The percentage of the compressed bytes before `consumed`.
    void Report(uint64_t consumed) const;
    // The block's header: the prepared one, or read here.
    vorx_Error Header(uint64_t position, const PreparedBlock* prepared, uint32_t* header) const;
    // The block's body in memory: the prepared one, or read here into the working buffer;
    // decrypted either way.
    vorx_Error Body(const BlockHeader& block, PreparedBlock* prepared, uint8_t** body);
    // The block's bytes: stored ones as they are, compressed ones decoded ahead or here.
    vorx_Error Output(const BlockHeader& block, const PreparedBlock* prepared, uint8_t* body,
                      uint64_t blockStart, const uint8_t** data, uint64_t* length, uint32_t* crc);
    vorx_Error Deliver(const uint8_t* data, uint64_t length);

    const vorx_FileInfo& info_;
    const DecodeContext& c_;
    OutputTarget* const target_;
    const OutputSink sink_;
    void* const sinkContext_;
    const uint64_t dataStart_;
    const bool encrypted_;
    BlowfishContext key_;
    bool keyReady_ = false;
    int64_t fileLength_ = -1;  // asked for only when the working buffer must grow
    uint64_t consumed_ = 0;
    uint64_t produced_ = 0;
    uint32_t crc_ = 0;  // of no bytes
};

void EntryRun::Report(uint64_t consumed) const {
    if (!c_.progress) return;
    // Rounded to double precision at each step (see SinglePrecision).
    volatile double scaled = static_cast<double>(consumed) * 100.0;
    volatile double percent = scaled / static_cast<double>(info_.compressedSize);
    c_.progress(c_.userData, static_cast<int>(percent));
}

vorx_Error EntryRun::Header(uint64_t position, const PreparedBlock* prepared,
                            uint32_t* header) const {
    if (prepared) {
        *header = prepared->header;
        return prepared->readError;
    }
    uint8_t raw[kBlockHeaderSize];
    if (platform::FileReadAt(c_.file, position, raw, sizeof raw) !=
        static_cast<int64_t>(sizeof raw))
        return vorx_CorruptArchive;
    *header = ReadLe32(raw);
    return vorx_Success;
}

vorx_Error EntryRun::Turn() {
    const uint64_t position = dataStart_ + consumed_;
    PreparedBlock* prepared = c_.supply ? c_.supply->take(c_.supply->context, position) : nullptr;
    uint32_t header = 0;
    if (vorx_Error e = Header(position, prepared, &header)) return e;
    Report(consumed_);
    if (c_.cancel && c_.cancel->load(std::memory_order_relaxed) != 0) return vorx_InvalidArgument;
    BlockHeader block;
    if (!ParseBlockHeader(header, position, &block)) return vorx_CorruptArchive;
    const uint64_t blockStart = consumed_;
    consumed_ += kBlockHeaderSize + block.padded;

    uint8_t* body = nullptr;
    if (vorx_Error e = Body(block, prepared, &body)) return e;
    const uint8_t* data = nullptr;
    uint64_t length = 0;
    uint32_t crc = 0;
    if (vorx_Error e = Output(block, prepared, body, blockStart, &data, &length, &crc)) return e;
    if (vorx_Error e = Deliver(data, length)) return e;
    crc_ = produced_ == 0 ? crc : Crc32::Combine(crc_, crc, length);
    produced_ += length;
    return vorx_Success;
}

vorx_Error EntryRun::Body(const BlockHeader& block, PreparedBlock* prepared, uint8_t** body) {
    if (prepared && prepared->body) {
        *body = prepared->body;
    } else {
        if (c_.largestBody != 0 && block.padded > c_.largestBody) return kDeclined;
        PageBuffer& work = c_.state->work;
        const size_t needed = BodyRoom(block.padded);
        if (needed > work.capacity()) {
            // A body the file cannot hold would be a short read: refused before the
            // memory is had for it.
            if (fileLength_ < 0 && (fileLength_ = platform::FileLength(c_.file)) < 0)
                return vorx_CorruptArchive;
            const uint64_t start = block.position + kBlockHeaderSize;
            const uint64_t length = static_cast<uint64_t>(fileLength_);
            if (start > length || block.padded > length - start) return vorx_CorruptArchive;
            if (!work.EnsureCapacity(needed)) return vorx_OutOfMemory;
        }
        if (vorx_Error e = ReadBlockBody(c_.file, block, -1, work.data())) return e;
        *body = work.data();
    }
    if (encrypted_ && !(prepared && prepared->decrypted)) {
        if (!keyReady_) {
            BlowfishSetPassword(&key_, c_.password);
            keyReady_ = true;
        }
        DecryptBuffer(*body, block.padded, key_);
    }
    return vorx_Success;
}

vorx_Error EntryRun::Output(const BlockHeader& block, const PreparedBlock* prepared, uint8_t* body,
                            uint64_t blockStart, const uint8_t** data, uint64_t* length,
                            uint32_t* crc) {
    const uint64_t remaining = info_.uncompressedSize - produced_;
    const bool ahead = prepared && prepared->decoded;
    if (block.type == static_cast<uint32_t>(BlockType::Stored)) {
        if (block.size > remaining) return vorx_CorruptArchive;
        *data = body;
        *length = block.size;
        *crc = ahead ? prepared->crc : Crc32::Of(body, block.size);
        return vorx_Success;
    }
    // A decode ahead had room for less than the entry admits, or more: it stands only
    // where it succeeded within what the entry still admits.
    if (ahead && prepared->code == vorx_Success && prepared->produced <= remaining) {
        *data = prepared->output;
        *length = prepared->produced;
        *crc = prepared->crc;
        return vorx_Success;
    }
    DecoderState& state = *c_.state;
    if (!state.contexts && !(state.contexts = CreateContextTable())) return vorx_OutOfMemory;
    const float whole = static_cast<float>(info_.compressedSize);
    const BlockProgress progress{&ReportBlockProgress, const_cast<DecodeContext*>(&c_),
                                 SinglePrecision(static_cast<float>(blockStart) / whole),
                                 SinglePrecision(static_cast<float>(block.padded) / whole)};
    *length = 0;
    const vorx_Error e = DecodeCompressedBlock(
        body, block.size, static_cast<uint32_t>(block.padded), *state.contexts, state.scratch,
        *target_, remaining, c_.progress ? &progress : nullptr, length);
    if (e != vorx_Success) return e;
    *data = target_->base;
    *crc = Crc32::Of(target_->base, static_cast<size_t>(*length));
    return vorx_Success;
}

vorx_Error EntryRun::Deliver(const uint8_t* data, uint64_t length) {
    if (sink_) return length > 0 ? sink_(sinkContext_, data, static_cast<size_t>(length)) : 0;
    // Memory: bytes made elsewhere are copied behind the previous block's, and the next
    // block lands behind them.
    if (data != target_->base && length > 0) {
        if (length > target_->capacity) {
            if (vorx_Error e = target_->reserve(target_, length)) return e;
        }
        std::memcpy(target_->base, data, static_cast<size_t>(length));
    }
    target_->base += length;
    target_->capacity -= length;
    return vorx_Success;
}

vorx_Error EntryRun::Finish() const {
    if (c_.progress) c_.progress(c_.userData, 100);
    // Blocks that produce fewer bytes than the record declares leave the entry short:
    // damaged, whatever the CRC-32 of what they produced.
    if (produced_ != info_.uncompressedSize) return vorx_CorruptArchive;
    return crc_ == info_.crc32 ? vorx_Success : vorx_CrcMismatch;
}

}  // namespace

bool ParseBlockHeader(uint32_t header, uint64_t position, BlockHeader* block) {
    block->type = BlockTypeOf(header);
    block->size = BlockSizeOf(header);
    // The size field has 29 bits, so a body (below 2^29 + 16 bytes) fits a size_t.
    block->padded = static_cast<size_t>(PaddedBodyLength(header));
    block->position = position;
    return block->type == static_cast<uint32_t>(BlockType::Stored) ||
           block->type == static_cast<uint32_t>(BlockType::Compressed);
}

vorx_Error ReadBlockBody(int file, const BlockHeader& block, int64_t fileLength, uint8_t* body) {
    const uint64_t start = block.position + kBlockHeaderSize;
    if (fileLength >= 0) {
        const uint64_t length = static_cast<uint64_t>(fileLength);
        if (start > length || block.padded > length - start) return vorx_CorruptArchive;
    }
    if (block.padded > 0 &&
        platform::FileReadAt(file, start, body, block.padded) != static_cast<int64_t>(block.padded))
        return vorx_CorruptArchive;
    std::memset(body + block.padded, 0, kBodySlackBytes + kBodyOverreadBytes);
    return vorx_Success;
}

vorx_Error DecodeEntryBlocks(const EntryAt& entry, const DecodeContext& context,
                             OutputTarget* target, OutputSink sink, void* sinkContext,
                             uint64_t* produced) {
    if (!context.state->work.EnsureCapacity(platform::kPageSize)) return vorx_OutOfMemory;
    EntryRun run(entry, context, target, sink, sinkContext);
    vorx_Error result = vorx_Success;
    while (result == vorx_Success && !run.Done()) result = run.Turn();
    if (produced) *produced = run.produced();
    return result != vorx_Success ? result : run.Finish();
}

}  // namespace vorx
