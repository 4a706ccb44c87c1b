#include "writer/block_output.h"

#include <algorithm>
#include <utility>

#include "codec/bit_writer.h"
#include "codec/block_head.h"

namespace vorx {
namespace {

// The code of `symbol` in a design over `counts` (which holds it).
SymbolCode CodeOf(const std::vector<SymbolCount>& counts, const AlphabetDesign& design,
                  uint32_t symbol) {
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

void WriteTable(BitWriter& w, const AlphabetDesign& design, int kind, uint32_t literalWidth) {
    for (const SymbolEntry& e : design.table) {
        if (kind == 2)
            w.WriteEscapedNumber(e.symbol);
        else
            w.WriteBits(e.symbol, kind == 1 ? literalWidth : 4);
        w.WriteEscapedNumber(e.weight);
    }
}

}  // namespace

uint64_t WriteBlock(const uint8_t* data, const std::vector<Step>& steps, BlockPlan& a,
                    std::vector<uint8_t>* out) {
    if (!a.flagSymbols.empty())
        a.flagSymbols.back() =
            CheapestCompatible(a.flagCounts, a.flags, a.flagSymbols.back(), a.stepsInLastFlag);
    if (!a.slotSymbols.empty())
        a.slotSymbols.back() = CheapestCompatible(a.slotCounts, a.slots, a.slotSymbols.back(),
                                                  a.selectorsInLastSlot * 2);

    BitWriter w(std::move(*out));
    BlockHead head;
    head.stepCount = static_cast<uint32_t>(steps.size());
    head.literalCount = static_cast<uint32_t>(a.literals.table.size());
    head.lengthCount = static_cast<uint32_t>(a.lengths.table.size());
    head.flagCount = static_cast<uint32_t>(a.flags.table.size());
    head.literalWidth = a.literalWidth;
    head.slotCount = static_cast<uint32_t>(a.slots.table.size());
    uint32_t head1, head2;
    head.Encode(&head1, &head2);
    w.WriteBits(head1, 32);
    w.WriteBits(head2, 32);
    WriteTable(w, a.flags, 0, 0);
    WriteTable(w, a.literals, 1, a.literalWidth);
    WriteTable(w, a.lengths, 2, 0);
    WriteTable(w, a.slots, 0, 0);

    SymbolCode flagCode[16], slotCode[16], literalCode[256];
    for (size_t i = 0; i < a.flagCounts.size(); ++i)
        flagCode[a.flagCounts[i].symbol] = a.flags.codes[i];
    for (size_t i = 0; i < a.slotCounts.size(); ++i)
        slotCode[a.slotCounts[i].symbol] = a.slots.codes[i];
    for (size_t i = 0; i < a.literalCounts.size(); ++i)
        literalCode[a.literalCounts[i].symbol] = a.literals.codes[i];
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
        const SymbolCode lc =
            len < directEnd ? lengthCode[len] : CodeOf(a.lengthCounts, a.lengths, len);
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
