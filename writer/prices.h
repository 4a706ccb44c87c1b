// Prices a parser works with: what each choice of a step costs, from the codes of an
// earlier plan of the block (or of the previous block), or a first guess.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/bit_writer.h"
#include "writer/block_plan.h"

namespace vorx {

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
        return len < length.size()
                   ? length[len]
                   : longLengthBase + BitWriter::EscapedNumberBits(len) * kCostScale;
    }
    Cost MatchMean(uint32_t slot, uint32_t len) const {
        return flagMean[1] + selectorMean[slot] + LengthCost(len);
    }
    Cost LiteralMean(uint8_t byte) const { return flagMean[0] + literal[byte]; }
};

// A first guess for a block nothing is known about: literals by the block's own byte
// frequencies, short matches cheap and long ones growing slowly.
void DefaultPrices(const uint8_t* data, size_t n, Prices* prices);

// Prices for a parse of `bytes` bytes from a plan's codes.
void PricesFromPlan(const BlockPlan& plan, size_t bytes, Prices* prices);

}  // namespace vorx
