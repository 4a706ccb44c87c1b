#include "writer/block_plan.h"

#include <algorithm>
#include <bit>

#include "codec/bit_writer.h"

namespace vorx {
namespace {

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

}  // namespace

bool PlanBlock(const uint8_t* data, const std::vector<Step>& steps, int effort,
               TableDesigner& designer, BlockPlan* a) {
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
        if (len < kDirectLengths)
            ++direct[len];
        else
            longLengths.push_back(len);
        if ((selectors & 1) == 0)
            a->slotSymbols.push_back(StepSlot(s));
        else
            a->slotSymbols.back() |= StepSlot(s) << 2;
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
        if (!a->lengthCounts.empty() && a->lengthCounts.back().symbol == len)
            ++a->lengthCounts.back().count;
        else
            a->lengthCounts.push_back(SymbolCount{len, 1});
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
    a->totalBits = 64 + a->flags.tableBits + a->flags.dataBits + a->literals.tableBits +
                   a->literals.dataBits + a->lengths.tableBits + a->lengths.dataBits +
                   a->slots.tableBits + a->slots.dataBits;
    // The stream must end strictly beyond the tables, also when there are no steps.
    if (steps.empty()) a->totalBits += 1;
    return true;
}

}  // namespace vorx
