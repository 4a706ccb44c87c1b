#include "writer/block_code.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <utility>

#include "codec/bit_input.h"
#include "codec/bit_writer.h"

namespace vorx {
namespace {

// Lengths below this are counted in an array; longer ones are sorted.
constexpr uint32_t kDirectLengths = 4096;

uint32_t FourBitSymbol(uint32_t, uint32_t) { return 4; }
uint32_t LiteralSymbol(uint32_t, uint32_t width) { return width; }
uint32_t LengthSymbol(uint32_t symbol, uint32_t) { return BitWriter::EscapedNumberBits(symbol); }

void CountSmall(const std::vector<uint32_t>& symbols, std::vector<SymbolCount>* list) {
    uint64_t counts[16] = {};
    for (uint32_t s : symbols) ++counts[s];
    list->clear();
    for (uint32_t s = 0; s < 16; ++s)
        if (counts[s]) list->push_back(SymbolCount{s, counts[s]});
}

// The code of `symbol` in a design over `counts` (which holds it).
SymbolCode CodeOf(const std::vector<SymbolCount>& counts, const AlphabetDesign& design, uint32_t symbol) {
    auto it = std::lower_bound(counts.begin(), counts.end(), symbol,
                               [](const SymbolCount& c, uint32_t s) { return c.symbol < s; });
    return design.codes[static_cast<size_t>(it - counts.begin())];
}

// The cheapest symbol of a design whose low `usedBits` bits equal `value`'s.
uint32_t CheapestCompatible(const std::vector<SymbolCount>& counts, const AlphabetDesign& design,
                            uint32_t value, uint32_t usedBits) {
    const uint32_t mask = (1u << usedBits) - 1u;
    uint32_t best = value;
    uint32_t bestLength = UINT32_MAX;
    for (size_t i = 0; i < counts.size(); ++i) {
        if ((counts[i].symbol & mask) == (value & mask) && design.codes[i].length < bestLength) {
            bestLength = design.codes[i].length;
            best = counts[i].symbol;
        }
    }
    return best;
}

// Bits of a symbol absent from a design's table: its entry and a code one deeper than
// the deepest.
double MissingBits(const AlphabetDesign& design, uint32_t symbolBits) {
    return design.maxLength + 1.0 + symbolBits + 3.0;
}

// Code lengths of the 16 symbols of a flag or slot design, absent ones priced as such.
void SixteenLengths(const std::vector<SymbolCount>& counts, const AlphabetDesign& design, double bits[16]) {
    for (int s = 0; s < 16; ++s) bits[s] = MissingBits(design, 4);
    for (size_t i = 0; i < counts.size(); ++i) bits[counts[i].symbol] = design.codes[i].length;
}

void WriteTable(BitWriter& w, const AlphabetDesign& design, int kind, uint32_t literalWidth) {
    for (const SymbolEntry& e : design.table) {
        if (kind == 2) w.WriteEscapedNumber(e.symbol);
        else w.WriteBits(e.symbol, kind == 1 ? literalWidth : 4);
        w.WriteEscapedNumber(e.weight);
    }
}

}  // namespace

Cost BitsToCost(double bits) { return static_cast<Cost>(std::lround(std::max(0.0, bits) * kCostScale)); }

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

bool PlanBlock(const uint8_t* data, const std::vector<Step>& steps, int effort, TableDesigner& designer,
               BlockPlan* a) {
    a->flagSymbols.assign((steps.size() + 3) / 4, 0);
    a->slotSymbols.clear();
    uint64_t literalCounts[256] = {};
    std::vector<uint32_t> direct(kDirectLengths, 0);
    std::vector<uint32_t> longLengths;
    uint32_t selectors = 0;
    size_t p = 0;
    a->literalSteps = a->matchSteps = a->matchBytes = 0;
    for (size_t i = 0; i < steps.size(); ++i) {
        const Step s = steps[i];
        if (!IsMatch(s)) {
            ++literalCounts[data[p]];
            ++p;
            continue;
        }
        const uint32_t len = StepLength(s);
        a->flagSymbols[i / 4] |= 1u << (i % 4);
        if (len < kDirectLengths) ++direct[len];
        else longLengths.push_back(len);
        if ((selectors & 1) == 0) a->slotSymbols.push_back(StepSlot(s));
        else a->slotSymbols.back() |= StepSlot(s) << 2;
        ++selectors;
        p += len;
        a->matchBytes += len;
    }
    a->matchSteps = selectors;
    a->literalSteps = steps.size() - selectors;
    a->stepsInLastFlag = steps.empty() ? 0 : static_cast<uint32_t>((steps.size() - 1) % 4 + 1);
    a->selectorsInLastSlot = selectors == 0 ? 0 : ((selectors & 1) ? 1 : 2);

    a->lengthCounts.clear();
    for (uint32_t len = 1; len < kDirectLengths; ++len)
        if (direct[len]) a->lengthCounts.push_back(SymbolCount{len, direct[len]});
    std::sort(longLengths.begin(), longLengths.end());
    for (uint32_t len : longLengths) {
        if (!a->lengthCounts.empty() && a->lengthCounts.back().symbol == len) ++a->lengthCounts.back().count;
        else a->lengthCounts.push_back(SymbolCount{len, 1});
    }
    if (a->lengthCounts.size() > kMaxLengthSymbols) return false;

    a->literalCounts.clear();
    uint32_t maxLiteral = 0;
    for (uint32_t b = 0; b < 256; ++b) {
        if (!literalCounts[b]) continue;
        a->literalCounts.push_back(SymbolCount{b, literalCounts[b]});
        maxLiteral = b;
    }
    a->literalWidth = static_cast<uint32_t>(std::bit_width(maxLiteral));
    CountSmall(a->flagSymbols, &a->flagCounts);
    CountSmall(a->slotSymbols, &a->slotCounts);
    // The slot table is never empty: a block without matches sends one entry.
    if (a->slotCounts.empty()) a->slotCounts.push_back(SymbolCount{0, 1});

    designer.Design(a->flagCounts, &FourBitSymbol, 0, effort, &a->flags);
    designer.Design(a->literalCounts, &LiteralSymbol, a->literalWidth, effort, &a->literals);
    designer.Design(a->lengthCounts, &LengthSymbol, 0, effort, &a->lengths);
    designer.Design(a->slotCounts, &FourBitSymbol, 0, effort, &a->slots);
    a->totalBits = 64 + a->flags.tableBits + a->flags.dataBits + a->literals.tableBits + a->literals.dataBits +
                   a->lengths.tableBits + a->lengths.dataBits + a->slots.tableBits + a->slots.dataBits;
    // The stream must end strictly beyond the tables, also when there are no steps.
    if (steps.empty()) a->totalBits += 1;
    return true;
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
            for (int f = 0; f < 2; ++f) m->flag[k][bits][f] = BitsToCost(std::log2(prefix / with[f]));
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
        for (uint32_t y = 0; y < 4; ++y) m->selector[1 + x][y] = BitsToCost(slotBits[x | (y << 2)] + std::log2(first[x]));
    }
    uint64_t selectorCounts[4] = {};
    for (const SymbolCount& c : a.slotCounts) {
        selectorCounts[c.symbol & 3] += c.count;
        selectorCounts[c.symbol >> 2] += c.count;
    }
    const uint64_t selectorTotal = selectorCounts[0] + selectorCounts[1] + selectorCounts[2] + selectorCounts[3];
    for (int k = 0; k < 4; ++k)
        m->selectorMean[k] = BitsToCost(std::min(
            8.0, -std::log2((static_cast<double>(selectorCounts[k]) + 0.3) / (static_cast<double>(selectorTotal) + 1.2))));

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
    m->byteMean = static_cast<Cost>(std::clamp<uint64_t>(a.totalBits * kCostScale / std::max<size_t>(bytes, 1),
                                                         kCostScale / 4, 9 * kCostScale));
}

uint64_t WriteBlock(const uint8_t* data, const std::vector<Step>& steps, BlockPlan& a, std::vector<uint8_t>* out) {
    if (!a.flagSymbols.empty())
        a.flagSymbols.back() = CheapestCompatible(a.flagCounts, a.flags, a.flagSymbols.back(), a.stepsInLastFlag);
    if (!a.slotSymbols.empty())
        a.slotSymbols.back() =
            CheapestCompatible(a.slotCounts, a.slots, a.slotSymbols.back(), a.selectorsInLastSlot * 2);

    BitWriter w(std::move(*out));
    const uint32_t stepCount = static_cast<uint32_t>(steps.size());
    const uint32_t head1 = (stepCount & 0xFFFFFF) | ((static_cast<uint32_t>(a.literals.table.size()) - 1) << 24);
    const uint32_t head2 = static_cast<uint32_t>(a.lengths.table.size()) |
                           ((static_cast<uint32_t>(a.flags.table.size()) - 1) << 16) | (a.literalWidth << 20) |
                           ((static_cast<uint32_t>(a.slots.table.size()) - 1) << 24) | ((stepCount >> 24) << 28);
    w.WriteBits(head1 & 0xFFFF, 16);
    w.WriteBits(head1 >> 16, 16);
    w.WriteBits(head2 & 0xFFFF, 16);
    w.WriteBits(head2 >> 16, 16);
    WriteTable(w, a.flags, 0, 0);
    WriteTable(w, a.literals, 1, a.literalWidth);
    WriteTable(w, a.lengths, 2, 0);
    WriteTable(w, a.slots, 0, 0);

    SymbolCode flagCode[16], slotCode[16], literalCode[256];
    for (size_t i = 0; i < a.flagCounts.size(); ++i) flagCode[a.flagCounts[i].symbol] = a.flags.codes[i];
    for (size_t i = 0; i < a.slotCounts.size(); ++i) slotCode[a.slotCounts[i].symbol] = a.slots.codes[i];
    for (size_t i = 0; i < a.literalCounts.size(); ++i) literalCode[a.literalCounts[i].symbol] = a.literals.codes[i];
    // Codes of the short lengths by length.
    uint32_t directEnd = 1;
    for (const SymbolCount& c : a.lengthCounts)
        if (c.symbol < kDirectLengths) directEnd = c.symbol + 1;
    std::vector<SymbolCode> lengthCode(directEnd);
    for (size_t i = 0; i < a.lengthCounts.size() && a.lengthCounts[i].symbol < directEnd; ++i)
        lengthCode[a.lengthCounts[i].symbol] = a.lengths.codes[i];

    size_t p = 0, pair = 0;
    uint32_t selectorsLeft = 0;
    for (size_t i = 0; i < steps.size(); ++i) {
        if (i % 4 == 0) {
            const SymbolCode c = flagCode[a.flagSymbols[i / 4]];
            w.WriteBits(c.code, c.length);
        }
        const Step s = steps[i];
        if (!IsMatch(s)) {
            const SymbolCode c = literalCode[data[p]];
            w.WriteBits(c.code, c.length);
            ++p;
            continue;
        }
        const uint32_t len = StepLength(s);
        const SymbolCode lc = len < directEnd ? lengthCode[len] : CodeOf(a.lengthCounts, a.lengths, len);
        w.WriteBits(lc.code, lc.length);
        if (selectorsLeft == 0) {
            const SymbolCode c = slotCode[a.slotSymbols[pair++]];
            w.WriteBits(c.code, c.length);
            selectorsLeft = 2;
        }
        --selectorsLeft;
        p += len;
    }
    if (steps.empty()) w.WriteBits(0, 1);
    const uint64_t bits = w.bitCount();
    *out = w.TakeBytes();
    return bits;
}

}  // namespace vorx
