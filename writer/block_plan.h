// A block's parse and its plan. A parse is a list of steps, each a literal or a match
// (a slot of the context bucket and a length). The block sends four alphabets: flag
// symbols (the literal/match flags of four steps, least significant first), literals,
// match lengths (each distinct length is a symbol of its own) and slot symbols (the
// selectors of two matches, the first in the low bits). PlanBlock counts them, designs
// their tables and says how many bits the block takes; writer/prices.h turns a plan
// into prices for the parsers, writer/block_output.h writes the block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/bit_input.h"
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
// Lengths below this are counted, and their codes looked up, in arrays; longer ones
// are sorted and searched.
constexpr uint32_t kDirectLengths = 4096;

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
bool PlanBlock(const uint8_t* data, const std::vector<Step>& steps, int effort,
               TableDesigner& designer, BlockPlan* plan);

}  // namespace vorx
