// The block pipeline of the library: one entry's blocks read from the archive file in
// order, each header checked, its body bounded by the file, read, decrypted when the
// entry is encrypted and decoded by the codec; the CRC-32 and the length of what the
// blocks produced checked against the record; the bytes handed to memory or, block by
// block, to an output sink; progress reported and cancel requests honoured between
// blocks. The serial extraction and the parallel decoder (library/parallel_decoder.h)
// both decode through DecodeEntryBlocks: the parallel decoder only hands it blocks that
// other threads read and decoded before their turn.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "codec/block_decoder.h"
#include "library/stream.h"
#include "library/vorx.h"

namespace vorx {

struct DecoderState;

// Takes one block's decoded bytes, in order. Returns 0, or the code that ends the
// decode (15 when the bytes could not all be written).
using OutputSink = vorx_Error (*)(void* context, const uint8_t* data, size_t length);

// A code that no caller sees: a decode that declined a block larger than it was allowed
// to read (DecodeContext::largestBody); the block's turn is then taken elsewhere.
constexpr vorx_Error kDeclined = -1;

// A block prepared before its turn: read by one thread and perhaps decoded by another.
// What the turn finds here it does not do again; everything else it does as usual.
struct PreparedBlock {
    vorx_Error readError = vorx_Success;  // the header could not be read: the turn's code
    uint32_t header = 0;
    uint8_t* body = nullptr;  // the padded body and its zeroed slack; null: not read
    bool decrypted = false;   // the body is decrypted already
    // A decode done ahead: the bytes at `output` and their CRC-32. It stands only when it
    // succeeded within what the entry still admits at the block's turn; otherwise the
    // turn decodes the block again as it always would.
    bool decoded = false;
    vorx_Error code = vorx_Success;
    const uint8_t* output = nullptr;
    uint64_t produced = 0;
    uint32_t crc = 0;
};

// The blocks another thread prepares: the block at file offset `position`, or null when
// none was prepared for it. A block taken stays valid until the next call.
struct BlockSupply {
    PreparedBlock* (*take)(void* context, uint64_t position);
    void* context;
};

// What one entry's decode works with besides the entry and its output.
struct DecodeContext {
    int file;                        // the archive, read with positioned reads only
    DecoderState* state;             // working buffer, context table, block tables
    const char* password;            // used when the entry is encrypted (may be null)
    vorx_ProgressCallback progress;  // may be null
    void* userData;
    const std::atomic<uint32_t>* cancel;  // a block starts only while it reads 0
    size_t largestBody;                   // 0, or the largest body read here (kDeclined beyond)
    const BlockSupply* supply;            // blocks prepared ahead, or null
};

// Decodes the blocks of `entry` into `target`:
//  - without a sink, target is memory for the whole entry: each block's output is
//    placed behind the previous one (target.base and capacity advance);
//  - with a sink, each block is decoded at target.base and then handed to the sink.
// The blocks must produce exactly the record's uncompressedSize bytes: more or fewer is
// corrupt data (3), whatever the CRC-32 says. *produced (may be null) receives the bytes
// the completed blocks produced, also when a later block fails.
// Returns 0; 2 cancelled at a block start; 3 corrupt data; 9 CRC-32 mismatch;
// 11 out of memory; kDeclined; the target's or the sink's refusal.
vorx_Error DecodeEntryBlocks(const EntryAt& entry, const DecodeContext& context,
                             OutputTarget* target, OutputSink sink, void* sinkContext,
                             uint64_t* produced);

// The header of the block at `position`; the body lies behind it.
struct BlockHeader {
    uint32_t type;
    uint32_t size;      // the header's size field
    size_t padded;      // the body's length in the file (a 29-bit size keeps it in a size_t)
    uint64_t position;  // of the header
};
// A header's fields; false when its type is unknown.
bool ParseBlockHeader(uint32_t header, uint64_t position, BlockHeader* block);

// Reads a block's body into `body` (room for padded + the codec's slack), zeroing the
// slack: 0, or 3 when the file holds fewer bytes. `fileLength` (-1: not known) refuses a
// body the file cannot hold before it is read.
vorx_Error ReadBlockBody(int file, const BlockHeader& block, int64_t fileLength, uint8_t* body);

// The room a body needs in memory: padded bytes and the codec's slack.
inline size_t BodyRoom(size_t padded) { return padded + kBodySlackBytes + kBodyOverreadBytes; }

}  // namespace vorx
