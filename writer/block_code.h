// From a block's parse to its bits: the four symbol tables, the prices a parser works
// with, and the bit stream the decoder reads.
//
// A parse is a list of steps, each a literal or a match (a slot of the context bucket
// and a length). The block sends four alphabets: flag symbols (the literal/match flags
// of four steps, least significant first), literals, match lengths (each distinct
// length is a symbol of its own) and slot symbols (the selectors of two matches, the
// first in the low bits). PlanBlock counts them, designs their tables and says how
// many bits the block takes; WriteBlock writes it; PricesFromPlan turns the plan into
// prices for the next parse of this block or the first parse of the next one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/bit_writer.h"
#include "codec/code_tree.h"
#include "writer/code_design.h"

namespace vorx {

// A step as the parsers record it: 0 for a literal, else length << 2 | slot.
using Step = uint32_t;
inline Step MatchStep(uint32_t slot, uint32_t length) { return (length << 2) | slot; }
inline uint32_t StepLength(Step s) { return s ? s >> 2 : 1; }
inline uint32_t StepSlot(Step s) { return s & 3; }
inline bool IsMatch(Step s) { return s != 0; }

// The longest match a step may copy: the largest length an escape-coded symbol holds.
constexpr uint32_t kLongestMatch = kLargestEscapedNumber;
// At most this many distinct lengths fit in a block's length table.
constexpr uint32_t kMaxLengthSymbols = 65535;

// Costs in sixteenths of a bit.
using Cost = uint32_t;
constexpr Cost kCostScale = 16;
Cost BitsToCost(double bits);

struct Prices {
    Cost literal[256];
    // The flag of a step by the flags already taken from its flag symbol: [count][their
    // bits][flag]. A flag symbol carries four steps, so a flag's price depends on them.
    Cost flag[4][8][2];
    Cost flagMean[2];  // the same averaged, for parsers that do not follow the groups
    // The selector of a match by the pending half of its slot symbol: [0] when the
    // match begins a pair, [1 + first selector] when it completes one.
    Cost selector[5][4];
    Cost selectorMean[4];
    std::vector<Cost> length;  // by length, for lengths below length.size()
    Cost longLengthBase;       // longer lengths: this plus their escape code's bits
    Cost byteMean;             // the block's bits per byte, on average

    Cost LengthCost(uint32_t len) const {
        return len < length.size() ? length[len] : longLengthBase + BitWriter::EscapedNumberBits(len) * kCostScale;
    }
    Cost MatchMean(uint32_t slot, uint32_t len) const {
        return flagMean[1] + selectorMean[slot] + LengthCost(len);
    }
    Cost LiteralMean(uint8_t byte) const { return flagMean[0] + literal[byte]; }
};

// A first guess for a block nothing is known about: literals by the block's own byte
// frequencies, short matches cheap and long ones growing slowly.
void DefaultPrices(const uint8_t* data, size_t n, Prices* prices);

struct BlockPlan {
    // Symbols in stream order.
    std::vector<uint32_t> flagSymbols;  // one per group of four steps
    std::vector<uint32_t> slotSymbols;  // one per pair of matches
    uint32_t stepsInLastFlag = 0;       // 1 to 4 (0 without steps)
    uint32_t selectorsInLastSlot = 0;   // 1 or 2 (0 without matches)
    uint32_t literalWidth = 0;
    // Distinct symbols with their counts, ascending by symbol.
    std::vector<SymbolCount> flagCounts, literalCounts, lengthCounts, slotCounts;
    AlphabetDesign flags, literals, lengths, slots;
    uint64_t totalBits = 0;  // the whole body
    uint64_t literalSteps = 0, matchSteps = 0, matchBytes = 0;
};

// Counts the parse's symbols and designs the four tables. False when the parse needs
// more distinct lengths than a table holds.
bool PlanBlock(const uint8_t* data, const std::vector<Step>& steps, int effort, TableDesigner& designer,
               BlockPlan* plan);

// Prices for a parse of `bytes` bytes from a plan's codes.
void PricesFromPlan(const BlockPlan& plan, size_t bytes, Prices* prices);

// Writes the block body: head, tables, step codes. `out` receives ceil(bits / 8) bytes;
// returns the bit count (plan.totalBits). Fills the unused flags of the last flag
// symbol and the unused selector of the last slot symbol with what costs least.
uint64_t WriteBlock(const uint8_t* data, const std::vector<Step>& steps, BlockPlan& plan,
                    std::vector<uint8_t>* out);

}  // namespace vorx
