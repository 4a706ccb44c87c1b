// The block decoder: turns an entry's blocks back into its bytes.
//
// An entry's data is a sequence of blocks, each a 4-byte header (type in bits 0-2,
// size in bits 3-31) and a body padded to a multiple of 16 bytes. A stored block's
// body is the bytes themselves. A compressed block's body is a bit stream: a 64-bit
// head, four symbol tables (flags, literals, match lengths, slot selectors) from which
// code trees are built, then `stepCount` steps, each a literal or a match.
//
// A match names no distance: it names one of the four slots of the context table
// bucket selected by the three bytes before the current position (or by the two bytes
// before it when that bucket's slot 0 is empty). Every step at a position of 3 or more
// records its own position in the slot with the smallest stamp of that bucket; a match
// first stamps the slot it copies from with a counter that grows by one per match.
// That stamp goes on before the step's position is recorded, and the slot it goes to
// is the one the match's own codes select: the decoder reads those codes once, then
// updates the bucket (codec/context_rules.h), and copies from the position the
// selected slot held before the update.
//
// Output is bounded: the decoder asks its OutputTarget for room before every write
// and stops with the target's code when it refuses. Reads are bounded: a table field
// or code that would reach past the body and its slack is corrupt data (3).
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/block_head.h"
#include "codec/code_tree.h"
#include "codec/context_table.h"
#include "container/result.h"

namespace vorx {

// Where the decoded bytes of a block go: `capacity` bytes at `base` may be written
// without asking. reserve(target, needed) raises the capacity to at least `needed`
// bytes (without moving base) and returns 0, or returns the code that ends the decode.
struct OutputTarget {
    uint8_t* base;
    uint64_t capacity;
    Result (*reserve)(OutputTarget* target, uint64_t needed);
};

// Zeroed bytes behind every body in the working buffer. A stream may still consume
// the first kBodySlackBytes of them; a field or code that reaches beyond is corrupt.
// The kBodyOverreadBytes behind those are touched only by whole-word loads.
constexpr size_t kBodySlackBytes = 16;
constexpr size_t kBodyOverreadBytes = 64;

// Progress inside a compressed block: about every hundredth of the entry the callback
// gets (s x stepFraction + startFraction) x 100, s being the step index and
// stepFraction = blockFraction / stepCount, all in single precision, truncated toward
// zero and kept within 0 to 100.
struct BlockProgress {
    void (*callback)(void* userData, int percent);
    void* userData;
    float startFraction;  // part of the entry's compressed size consumed before this block
    float blockFraction;  // part of the entry's compressed size this block's body takes
};

// A value rounded to single precision: x87 code (32-bit x86) may otherwise carry
// intermediate results with more precision than the progress arithmetic is defined
// with. Used only on the progress path.
inline float SinglePrecision(float value) {
    volatile float rounded = value;
    return rounded;
}

// Memory a compressed block's decode needs beyond its output, kept from block to
// block so that a run of blocks allocates once.
struct BlockScratch {
    enum { kFlags, kLiterals, kLengths, kSlots, kAlphabets };
    // Bits each alphabet's lookup table takes at once, and where the table lies in
    // `entries`: one array at fixed places, so that the decoder's hot loop needs one
    // base address instead of a pointer and a mask per table. The decoder's bit buffer
    // holds at least 57 bits after a load: enough for a flag code and four literal
    // codes, or for a match's two codes and three literal codes, in the tables' reach.
    static constexpr uint32_t kRootBits[kAlphabets] = {8, 10, 10, 8};
    static constexpr uint32_t kOffset[kAlphabets] = {0, 256, 256 + 1024, 256 + 2048};
    static constexpr uint32_t kEntries = 256 + 2048 + 256;
    // The bits of each alphabet's symbols that the decoder uses: four flags, a literal's
    // byte, the whole length, two selectors. The tables keep only these.
    static constexpr uint32_t kValueMask[kAlphabets] = {15, 0xFF, ~0u, 15};

    SymbolTable tables[kAlphabets];
    CodeTree trees[kAlphabets];
    DecodeTable lookup[kAlphabets];
    uint32_t entries[kEntries];
};

// Decodes one compressed block. `body` holds the `bodyBytes` bytes of the body, followed
// by kBodySlackBytes + kBodyOverreadBytes zero bytes; `bitCount` is the block's size
// field. The output goes to target.base; `entryRemaining` is how many bytes the entry
// may still produce (more is corrupt data, 3). The context table is cleared first.
// On success *produced is the block's output length.
// Returns 0; 3 corrupt data; 11 out of memory; or the target's refusal.
Result DecodeCompressedBlock(const uint8_t* body, uint32_t bitCount, uint32_t bodyBytes,
                             ContextTable& contexts, BlockScratch& scratch, OutputTarget& target,
                             uint64_t entryRemaining, const BlockProgress* progress,
                             uint64_t* produced);

}  // namespace vorx
