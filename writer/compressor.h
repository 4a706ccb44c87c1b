// The block compressor: turns a chunk of bytes into one block that the block decoder
// turns back into the same bytes, or into a stored block when compressing does not pay.
//
// The compressed format names no distances: a match names one of the four slots of
// the context-table bucket that the three bytes before the current position select
// (or the two bytes before it, when that bucket's slot 0 is empty), and copies from the
// position remembered there. The compressor therefore runs the decoder's context
// table step for step, with the same bucket choice, stamps and slot replacement, so
// that every match it emits names a slot that holds, when the decoder gets there,
// exactly the position the compressor copied from.
//
// Parsing: levels 1-2 greedy, 3-5 lazy (a literal is preferred when the next position
// starts a better match), 6-9 optimal over a window of steps, with the table's changes
// undone after each trial. Costs come from the code trees of the previous pass (levels
// 7, 8 and 9 parse each block two, three and four times), the first pass's from the
// block's own byte counts: a block depends on nothing before it, so blocks may be
// compressed side by side.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "codec/block_head.h"
#include "writer/archive_writer.h"
#include "writer/block_plan.h"

namespace vorx {

constexpr int kMinLevel = 0;  // stores
constexpr int kMaxLevel = 9;
constexpr int kDefaultLevel = 5;

// Where a compressor's output went, summed over the blocks it made: for profiling.
struct CompressorStats {
    uint64_t blocks = 0;  // compressed blocks
    uint64_t storedBlocks = 0;
    uint64_t inputBytes = 0;   // of all blocks
    uint64_t outputBytes = 0;  // of all blocks: headers, bodies and padding
    uint64_t literals = 0;     // in compressed blocks
    uint64_t matches = 0;
    uint64_t matchBytes = 0;
    uint64_t headBits = 0;  // the 64-bit block heads
    // Per alphabet: flags, literals, lengths, slot selectors.
    uint64_t tableBits[4] = {};
    uint64_t codeBits[4] = {};
    uint64_t tableEntries[4] = {};
};

class Compressor {
public:
    // `level` 0 stores every block; 1 to 9 trade speed for size.
    explicit Compressor(int level = kDefaultLevel, size_t blockSize = kWriterBlockSize);
    ~Compressor();
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;

    // One chunk (1 byte to blockSize) into one block. False only when memory cannot be
    // had. The block is compressed only when that makes it smaller on disk.
    bool EncodeBlock(const uint8_t* data, size_t length, EncodedBlock* block);

    // The compressor as the archive writer's block encoder (it must outlive the entry).
    BlockEncoder AsBlockEncoder();

    int level() const { return level_; }
    size_t blockSize() const { return blockSize_; }

    // Always produce a compressed block (no stored fallback): for tests of the decoder.
    void set_forceCompressed(bool force) { forceCompressed_ = force; }

    // Adds every later block's figures to `stats` (null stops it).
    void set_stats(CompressorStats* stats) { stats_ = stats; }

    // The steps of the last block EncodeBlock made, empty when it stored the block: for
    // analyses of the parse.
    const std::vector<Step>& lastSteps() const;

private:
    struct State;
    // `data` as a stored block.
    bool Store(const uint8_t* data, size_t length, EncodedBlock* block);
    // The level's parses of one block, each priced by the one before; the cheapest one's
    // steps and plan are kept in the state, its bits in *bestBits. False when a parse
    // needs more distinct lengths than a table holds.
    bool PlanPasses(const uint8_t* data, size_t length, uint64_t* bestBits);
    // Adds the block just written to the figures of set_stats.
    void CountCompressed(size_t length);

    int level_;
    size_t blockSize_;
    bool forceCompressed_ = false;
    CompressorStats* stats_ = nullptr;
    bool lastCompressed_ = false;
    std::unique_ptr<State> state_;
};

}  // namespace vorx
