#include "writer/compressor.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "writer/block_output.h"
#include "writer/block_plan.h"
#include "writer/prices.h"
#include "writer/match_model.h"
#include "writer/parsers.h"

namespace vorx {
namespace {

enum class Search { Greedy, Lazy, Optimal };

struct LevelParams {
    Search first;        // the first parse of a block
    Search search;       // every later one
    int passes;          // parses of each block, each priced by the one before
    int effort;          // table design effort
    uint32_t keepDepth;  // > 0: later parses weigh what positions are worth keeping
    uint32_t window;     // optimal parsing's window, its committed part, its long match
    uint32_t commit;
    uint32_t nice;
};

// Levels 1-2 parse greedily, 3-5 lazily, 6-9 optimally (more passes, wider windows,
// and from 8 on with the worth of keeping positions in the table).
constexpr LevelParams kLevels[] = {
    {Search::Greedy, Search::Greedy, 1, 0, 0, 0, 0, 0},           // 1
    {Search::Greedy, Search::Greedy, 1, 1, 0, 0, 0, 0},           // 2
    {Search::Lazy, Search::Lazy, 1, 0, 0, 0, 0, 0},               // 3
    {Search::Lazy, Search::Lazy, 1, 1, 0, 0, 0, 0},               // 4
    {Search::Lazy, Search::Lazy, 1, 2, 0, 0, 0, 0},               // 5
    {Search::Optimal, Search::Optimal, 1, 2, 0, 64, 56, 32},      // 6
    {Search::Optimal, Search::Optimal, 2, 2, 0, 64, 56, 32},      // 7
    {Search::Optimal, Search::Optimal, 3, 2, 16, 128, 112, 64},   // 8
    {Search::Optimal, Search::Optimal, 4, 2, 16, 256, 224, 128},  // 9
};

LevelParams ParamsFor(int level) { return kLevels[level >= 1 && level <= 8 ? level - 1 : 8]; }

}  // namespace

// ---------------------------------------------------------------------------

struct Compressor::State {
    MatchModel model;
    OptimalParser optimal;
    TableDesigner designer;
    Prices prices;
    std::vector<Step> steps, bestSteps;
    BlockPlan plan, bestPlan;
    std::vector<uint8_t> body;
    std::vector<uint32_t> keepValue, keepUntil;
    std::vector<uint64_t> sums;
};

Compressor::Compressor(int level, size_t blockSize)
    : level_(std::clamp(level, kMinLevel, kMaxLevel)),
      blockSize_(std::clamp<size_t>(blockSize, 1, static_cast<size_t>(kMaxBlockOutput))) {}

Compressor::~Compressor() = default;

bool Compressor::EncodeBlock(const uint8_t* data, size_t length, EncodedBlock* block) {
    lastCompressed_ = false;
    if (length > kMaxBlockSizeField) return false;
    if (level_ == 0 || length == 0) return Store(data, length, block);
    if (!state_) state_ = std::make_unique<State>();
    State& st = *state_;
    uint64_t bestBits = UINT64_MAX;
    if (!PlanPasses(data, length, &bestBits))
        return forceCompressed_ ? false : Store(data, length, block);
    const uint64_t compressedBody = PadTo16((bestBits + 7) / 8);
    if (!forceCompressed_ && compressedBody >= PadTo16(length)) return Store(data, length, block);
    if (bestBits > kMaxBlockSizeField) return forceCompressed_ ? false : Store(data, length, block);

    const uint64_t bits = WriteBlock(data, st.bestSteps, st.bestPlan, &st.body);
    if (bits > kMaxBlockSizeField) return forceCompressed_ ? false : Store(data, length, block);
    if (stats_) CountCompressed(length);
    lastCompressed_ = true;
    block->type = BlockType::Compressed;
    block->sizeField = static_cast<uint32_t>(bits);
    block->body = st.body;
    return true;
}

bool Compressor::Store(const uint8_t* data, size_t length, EncodedBlock* block) {
    if (stats_) {
        ++stats_->storedBlocks;
        stats_->inputBytes += length;
        stats_->outputBytes += 4 + PadTo16(length);
    }
    block->type = BlockType::Stored;
    block->sizeField = static_cast<uint32_t>(length);
    block->body.assign(data, data + length);
    return true;
}

bool Compressor::PlanPasses(const uint8_t* data, size_t length, uint64_t* bestBits) {
    State& st = *state_;
    const LevelParams params = ParamsFor(level_);
    // Every block starts from its own bytes alone, never from the block before, so that
    // blocks can be compressed side by side and give the same bytes however they are.
    DefaultPrices(data, length, &st.prices);
    ParseOptions parse;
    parse.window = params.window;
    parse.commit = params.commit;
    parse.nice = params.search == Search::Optimal ? params.nice : 64;
    for (int pass = 0; pass < params.passes; ++pass) {
        switch (pass == 0 ? params.first : params.search) {
            case Search::Greedy:
                GreedyParse(st.model, st.prices, data, length, parse, &st.steps, &st.sums);
                break;
            case Search::Lazy:
                LazyParse(st.model, st.prices, data, length, parse, &st.steps, &st.sums);
                break;
            case Search::Optimal:
                st.optimal.Run(st.model, st.prices, data, length, parse, &st.steps);
                break;
        }
        // A block of at most 64 MiB has room for fewer than 11600 distinct match
        // lengths (their sum is at most its size), far below what a table holds.
        if (!PlanBlock(data, st.steps, params.effort, st.designer, &st.plan)) return false;
        PricesFromPlan(st.plan, length, &st.prices);
        if (params.keepDepth && pass + 1 < params.passes) {
            FutureValues(data, length, st.steps, st.prices, params.keepDepth, &st.keepValue,
                         &st.keepUntil);
            parse.keepValue = st.keepValue.data();
            parse.keepUntil = st.keepUntil.data();
        }
        if (st.plan.totalBits < *bestBits) {
            *bestBits = st.plan.totalBits;
            std::swap(st.steps, st.bestSteps);
            std::swap(st.plan, st.bestPlan);
        }
    }
    return true;
}

void Compressor::CountCompressed(size_t length) {
    CompressorStats& s = *stats_;
    const BlockPlan& a = state_->bestPlan;
    ++s.blocks;
    s.inputBytes += length;
    s.outputBytes += 4 + PadTo16(state_->body.size());
    s.literals += a.literalSteps;
    s.matches += a.matchSteps;
    s.matchBytes += a.matchBytes;
    s.headBits += 64;
    const AlphabetDesign* d[4] = {&a.flags, &a.literals, &a.lengths, &a.slots};
    for (int k = 0; k < 4; ++k) {
        s.tableBits[k] += d[k]->tableBits;
        s.codeBits[k] += d[k]->dataBits;
        s.tableEntries[k] += d[k]->table.size();
    }
}

const std::vector<Step>& Compressor::lastSteps() const {
    static const std::vector<Step> kNone;
    return lastCompressed_ ? state_->bestSteps : kNone;
}

namespace {
bool EncodeWithCompressor(void* context, const uint8_t* data, size_t length, EncodedBlock* block) {
    return static_cast<Compressor*>(context)->EncodeBlock(data, length, block);
}
}  // namespace

BlockEncoder Compressor::AsBlockEncoder() {
    return BlockEncoder{&EncodeWithCompressor, this, blockSize_};
}

}  // namespace vorx
