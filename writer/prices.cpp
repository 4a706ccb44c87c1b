#include "writer/prices.h"

#include <algorithm>
#include <cmath>

namespace vorx {
namespace {

// Bits of a symbol absent from a design's table: its entry and a code one deeper than
// the deepest.
double MissingBits(const AlphabetDesign& design, uint32_t symbolBits) {
    return design.maxLength + 1.0 + symbolBits + 3.0;
}

// Code lengths of the 16 symbols of a flag or slot design, absent ones priced as such.
void SixteenLengths(const std::vector<SymbolCount>& counts, const AlphabetDesign& design,
                    double bits[16]) {
    for (int s = 0; s < 16; ++s) bits[s] = MissingBits(design, 4);
    for (size_t i = 0; i < counts.size(); ++i) bits[counts[i].symbol] = design.codes[i].length;
}

}  // namespace

Cost BitsToCost(double bits) {
    return static_cast<Cost>(std::lround(std::max(0.0, bits) * kCostScale));
}

void DefaultPrices(const uint8_t* data, size_t n, Prices* m) {
    uint64_t counts[256] = {};
    for (size_t i = 0; i < n; ++i) ++counts[data[i]];
    for (int b = 0; b < 256; ++b) {
        const double p = (static_cast<double>(counts[b]) + 0.5) / (static_cast<double>(n) + 128.0);
        m->literal[b] = BitsToCost(std::min(16.0, -std::log2(p)));
    }
    m->flagMean[0] = BitsToCost(0.6);
    m->flagMean[1] = BitsToCost(1.6);
    for (auto& byCount : m->flag)
        for (auto& byBits : byCount) {
            byBits[0] = m->flagMean[0];
            byBits[1] = m->flagMean[1];
        }
    for (Cost& c : m->selectorMean) c = BitsToCost(1.8);
    for (auto& pending : m->selector)
        for (Cost& c : pending) c = BitsToCost(1.8);
    m->length.resize(1024);
    for (uint32_t len = 0; len < m->length.size(); ++len)
        m->length[len] = BitsToCost(2.0 + 1.6 * std::log2(static_cast<double>(len) + 1.0));
    m->longLengthBase = BitsToCost(8.0);
    m->byteMean = BitsToCost(3.0);
}

void PricesFromPlan(const BlockPlan& a, size_t bytes, Prices* m) {
    const double literalMissing = MissingBits(a.literals, a.literalWidth);
    for (int b = 0; b < 256; ++b) m->literal[b] = BitsToCost(literalMissing);
    for (size_t i = 0; i < a.literalCounts.size(); ++i)
        m->literal[a.literalCounts[i].symbol] = a.literals.codes[i].length * kCostScale;

    // Flags: a flag's price is what it adds to the flags before it in its symbol.
    double flagBits[16];
    SixteenLengths(a.flagCounts, a.flags, flagBits);
    for (uint32_t k = 0; k < 4; ++k) {
        for (uint32_t bits = 0; bits < (1u << k); ++bits) {
            double prefix = 0, with[2] = {0, 0};
            for (uint32_t s = 0; s < 16; ++s) {
                if ((s & ((1u << k) - 1u)) != bits) continue;
                const double pr = std::exp2(-flagBits[s]);
                prefix += pr;
                with[(s >> k) & 1u] += pr;
            }
            for (int f = 0; f < 2; ++f)
                m->flag[k][bits][f] = BitsToCost(std::log2(prefix / with[f]));
        }
    }
    const double pMatch = (static_cast<double>(a.matchSteps) + 0.5) /
                          (static_cast<double>(a.matchSteps + a.literalSteps) + 1.0);
    m->flagMean[0] = BitsToCost(-std::log2(1.0 - std::min(pMatch, 0.999)));
    m->flagMean[1] = BitsToCost(-std::log2(pMatch));

    // Selectors: the first of a pair by its share of the symbols, the second by what
    // it adds to the first.
    double slotBits[16];
    SixteenLengths(a.slotCounts, a.slots, slotBits);
    double total = 0, first[4] = {};
    for (uint32_t s = 0; s < 16; ++s) {
        total += std::exp2(-slotBits[s]);
        first[s & 3] += std::exp2(-slotBits[s]);
    }
    for (uint32_t x = 0; x < 4; ++x) {
        m->selector[0][x] = BitsToCost(std::log2(total / first[x]));
        for (uint32_t y = 0; y < 4; ++y)
            m->selector[1 + x][y] = BitsToCost(slotBits[x | (y << 2)] + std::log2(first[x]));
    }
    uint64_t selectorCounts[4] = {};
    for (const SymbolCount& c : a.slotCounts) {
        selectorCounts[c.symbol & 3] += c.count;
        selectorCounts[c.symbol >> 2] += c.count;
    }
    const uint64_t selectorTotal =
        selectorCounts[0] + selectorCounts[1] + selectorCounts[2] + selectorCounts[3];
    for (int k = 0; k < 4; ++k)
        m->selectorMean[k] =
            BitsToCost(std::min(8.0, -std::log2((static_cast<double>(selectorCounts[k]) + 0.3) /
                                                (static_cast<double>(selectorTotal) + 1.2))));

    // A length without a code costs its table entry as well.
    const double lengthDepth = a.lengths.maxLength + 1.0;
    m->length.resize(1024);
    for (uint32_t len = 1; len < m->length.size(); ++len)
        m->length[len] = BitsToCost(lengthDepth + 3 + BitWriter::EscapedNumberBits(len));
    m->length[0] = m->length[1];
    for (size_t i = 0; i < a.lengthCounts.size(); ++i)
        if (a.lengthCounts[i].symbol < m->length.size())
            m->length[a.lengthCounts[i].symbol] = a.lengths.codes[i].length * kCostScale;
    m->longLengthBase = BitsToCost(lengthDepth + 3);
    m->byteMean = static_cast<Cost>(std::clamp<uint64_t>(
        a.totalBits * kCostScale / std::max<size_t>(bytes, 1), kCostScale / 4, 9 * kCostScale));
}

}  // namespace vorx
