#include "library/decode_entry.h"

#include <cstring>

#include "codec/decoder_state.h"
#include "codec/decrypt_buffer.h"
#include "codec/page_buffer.h"
#include "container/blowfish.h"
#include "container/crc32.h"
#include "container/format.h"
#include "library/stream.h"
#include "platform/platform.h"

namespace vorx {
namespace {

// Hands `length` bytes at target.base on: to the sink, or (memory) by moving the
// target past them so that the next block lands behind them.
vorx_Error Deliver(vorx_Stream* handle, OutputTarget* target, OutputSink sink, const uint8_t* data,
                   uint64_t length) {
    if (sink) return sink(handle, data, static_cast<size_t>(length));
    target->base += length;
    target->capacity -= length;
    return vorx_Success;
}

// The codec calls a plain function; the public callback may use another calling
// convention (stdcall on 32-bit Windows).
void ReportBlockProgress(void* handle, int percent) {
    const vorx_Stream* h = static_cast<const vorx_Stream*>(handle);
    h->progress(h->userData, percent);
}

}  // namespace

vorx_Error DecodeLocatedEntry(vorx_Stream* handle, const vorx_FileInfo& info,
                              uint64_t recordPosition, OutputTarget* target, OutputSink sink) {
    DecoderState* state = handle->decoder;
    if (!state && !(state = handle->decoder = CreateDecoderState())) return vorx_OutOfMemory;
    PageBuffer& work = state->work;
    if (!work.EnsureCapacity(platform::kPageSize)) return vorx_OutOfMemory;
    BlockScratch& scratch = state->scratch;
    Crc32 crc;

    const int file = handle->file;
    const uint64_t dataStart = recordPosition + kEntryRecordSize;
    const uint64_t compressedSize = info.compressedSize;
    const vorx_ProgressCallback callback = handle->progress;
    void* const userData = handle->userData;
    const bool encrypted = handle->password && (info.attributes & kAttributeEncrypted);
    BlowfishContext key;
    bool keyReady = false;

    if (compressedSize > 0 &&
        platform::FileSeek(file, static_cast<int64_t>(dataStart), platform::Whence::Begin) < 0)
        return vorx_CorruptArchive;
    int64_t fileLength = -1;  // asked for only when the working buffer must grow

    uint64_t consumed = 0;
    uint64_t produced = 0;
    while (consumed < compressedSize) {
        uint8_t raw[kBlockHeaderSize];
        if (platform::FileRead(file, raw, sizeof raw) != static_cast<int64_t>(sizeof raw))
            return vorx_CorruptArchive;
        if (callback) {
            // Rounded to double precision at each step (see SinglePrecision).
            volatile double scaled = static_cast<double>(consumed) * 100.0;
            volatile double percent = scaled / static_cast<double>(compressedSize);
            callback(userData, static_cast<int>(percent));
        }
        if (handle->cancelRequested.load(std::memory_order_relaxed) != 0)
            return vorx_InvalidArgument;
        const uint32_t header = ReadLe32(raw);
        const uint32_t type = BlockTypeOf(header);
        if (type != static_cast<uint32_t>(BlockType::Stored) &&
            type != static_cast<uint32_t>(BlockType::Compressed))
            return vorx_CorruptArchive;
        const uint32_t size = BlockSizeOf(header);
        // The size field has 29 bits, so a body (below 2^29 + 16 bytes) fits a size_t.
        const size_t padded = static_cast<size_t>(PaddedBodyLength(header));
        const BlockProgress progress{
            &ReportBlockProgress, handle,
            SinglePrecision(static_cast<float>(consumed) / static_cast<float>(compressedSize)),
            SinglePrecision(static_cast<float>(padded) / static_cast<float>(compressedSize))};
        const uint64_t bodyStart = dataStart + consumed + kBlockHeaderSize;
        consumed += kBlockHeaderSize + padded;

        // A body the file cannot hold would be a short read: refuse it before
        // allocating for it.
        const size_t needed = padded + kBodySlackBytes + kBodyOverreadBytes;
        if (needed > work.capacity()) {
            if (fileLength < 0 && (fileLength = platform::FileLength(file)) < 0)
                return vorx_CorruptArchive;
            const uint64_t length = static_cast<uint64_t>(fileLength);
            if (bodyStart > length || padded > length - bodyStart) return vorx_CorruptArchive;
            if (!work.EnsureCapacity(needed)) return vorx_OutOfMemory;
        }
        uint8_t* const body = work.data();
        if (padded > 0 && platform::FileRead(file, body, padded) != static_cast<int64_t>(padded))
            return vorx_CorruptArchive;
        std::memset(body + padded, 0, kBodySlackBytes + kBodyOverreadBytes);
        if (encrypted) {
            if (!keyReady) {
                BlowfishSetPassword(&key, handle->password);
                keyReady = true;
            }
            DecryptBuffer(body, padded, key);
        }

        const uint64_t remaining = info.uncompressedSize - produced;
        vorx_Error e;
        if (type == static_cast<uint32_t>(BlockType::Stored)) {
            if (size > remaining) return vorx_CorruptArchive;
            if (!sink && size > target->capacity &&
                (e = target->reserve(target, size)) != vorx_Success)
                return e;
            crc.Update(body, size);
            if (!sink && size > 0) std::memcpy(target->base, body, size);
            if ((e = Deliver(handle, target, sink, body, size)) != vorx_Success) return e;
            produced += size;
        } else {
            if (!state->contexts && !(state->contexts = CreateContextTable()))
                return vorx_OutOfMemory;
            uint64_t output = 0;
            e = DecodeCompressedBlock(body, size, static_cast<uint32_t>(padded), *state->contexts,
                                      scratch, *target, remaining, callback ? &progress : nullptr,
                                      &output);
            if (e != vorx_Success) return e;
            if (output > 0) {
                crc.Update(target->base, static_cast<size_t>(output));
                if ((e = Deliver(handle, target, sink, target->base, output)) != vorx_Success)
                    return e;
            }
            produced += output;
        }
    }
    if (callback) callback(userData, 100);
    return crc.Final() == info.crc32 ? vorx_Success : vorx_CrcMismatch;
}

}  // namespace vorx
