#include "tests/support/stream_builder.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "codec/block_head.h"

namespace streams {
namespace {

void Check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "stream builder: %s\n", what);
    std::abort();
}
#define Require(condition) Check((condition), #condition)

}  // namespace

BlockWriter::BlockWriter(const BlockPlan& planned) {
    // A flag, literal or slot count cannot be 0: an empty table gets one entry.
    BlockPlan plan = planned;
    for (auto* t : {&plan.flags, &plan.literals, &plan.slots})
        if (t->empty()) t->push_back(Entry{1, 0});
    const auto count = [](const std::vector<Entry>& t) { return static_cast<uint32_t>(t.size()); };
    const uint32_t flagCount = count(plan.flags), literalCount = count(plan.literals);
    const uint32_t lengthCount = count(plan.lengths), slotCount = count(plan.slots);
    Require(flagCount <= 16 && literalCount <= 256 && lengthCount <= 65535 && slotCount <= 16 &&
            plan.literalWidth <= 15 && plan.stepCount < (1u << 28));
    const vorx::BlockHead head{plan.stepCount, literalCount, lengthCount, flagCount, plan.literalWidth, slotCount};
    uint32_t head1, head2;
    head.Encode(&head1, &head2);
    bits_.WriteBits(head1, 32);
    bits_.WriteBits(head2, 32);
    Table(plan.flags, 4);
    Table(plan.literals, static_cast<int>(plan.literalWidth));
    Table(plan.lengths, -1);
    Table(plan.slots, 4);
    tablesEnd_ = static_cast<uint32_t>(bits_.bitCount());

    flagCodes_ = CodesOf(plan.flags);
    literalCodes_ = CodesOf(plan.literals);
    lengthCodes_ = CodesOf(plan.lengths);
    slotCodes_ = CodesOf(plan.slots);
}

void BlockWriter::Table(const std::vector<Entry>& table, int symbolWidth) {
    for (const Entry& e : table) {
        if (symbolWidth < 0) {
            Require(bits_.WriteEscapedNumber(e.symbol));
        } else {
            bits_.WriteBits(e.symbol, static_cast<uint32_t>(symbolWidth));
        }
        Require(bits_.WriteEscapedNumber(e.weight));
    }
}

BlockWriter::Codes BlockWriter::CodesOf(const std::vector<Entry>& table) {
    reference::Tree tree;
    tree.Build(table);
    Codes codes;
    for (const reference::Node* leaf : tree.Leaves()) codes.emplace(leaf->value, reference::PathOf(leaf));
    return codes;
}

void BlockWriter::Code(const Codes& codes, uint32_t symbol) {
    const auto it = codes.find(symbol);
    Require(it != codes.end());
    for (uint8_t bit : it->second) bits_.WriteBit(bit);
}

std::vector<uint8_t> BlockWriter::Finish(uint32_t* bitCount) const {
    uint64_t bits = bits_.bitCount();
    if (bits <= tablesEnd_) bits = tablesEnd_ + 1;
    *bitCount = static_cast<uint32_t>(bits);
    std::vector<uint8_t> body = bits_.bytes();
    body.resize(((bits + 7) / 8 + 15) / 16 * 16, 0);
    return body;
}

std::vector<uint8_t> EncodeSteps(const std::vector<Step>& steps, uint32_t* bitCount) {
    std::map<uint32_t, uint32_t> flagCounts, literalCounts, lengthCounts, slotCounts;
    std::vector<uint32_t> flagSymbols, slotSymbols;
    for (size_t i = 0; i < steps.size(); i += 4) {
        uint32_t symbol = 0;
        for (size_t k = 0; k < 4 && i + k < steps.size(); ++k) {
            if (steps[i + k].match) symbol |= 1u << k;
        }
        flagSymbols.push_back(symbol);
        ++flagCounts[symbol];
    }
    std::vector<uint32_t> selectors;
    for (const Step& s : steps) {
        if (s.match) {
            selectors.push_back(s.selector & 3u);
            ++lengthCounts[s.value];
        } else {
            ++literalCounts[s.value];
        }
    }
    for (size_t i = 0; i < selectors.size(); i += 2) {
        const uint32_t symbol = selectors[i] | (i + 1 < selectors.size() ? selectors[i + 1] << 2 : 0u);
        slotSymbols.push_back(symbol);
        ++slotCounts[symbol];
    }
    auto table = [&](const std::map<uint32_t, uint32_t>& counts, bool needsOne) {
        std::vector<Entry> t;
        for (const auto& [symbol, count] : counts)
            t.push_back(Entry{std::min(count, vorx::kLargestEscapedNumber), symbol});
        if (t.empty() && needsOne) t.push_back(Entry{1, 0});
        std::stable_sort(t.begin(), t.end(), [](const Entry& a, const Entry& b) { return a.weight > b.weight; });
        return t;
    };
    BlockPlan plan;
    plan.stepCount = static_cast<uint32_t>(steps.size());
    plan.flags = table(flagCounts, true);
    plan.literals = table(literalCounts, true);
    plan.lengths = table(lengthCounts, false);
    plan.slots = table(slotCounts, true);
    BlockWriter writer(plan);
    size_t match = 0;
    for (size_t i = 0; i < steps.size(); ++i) {
        if (i % 4 == 0) writer.Flag(flagSymbols[i / 4]);
        if (steps[i].match) {
            writer.Length(steps[i].value);
            if (match % 2 == 0) writer.Slot(slotSymbols[match / 2]);
            ++match;
        } else {
            writer.Literal(steps[i].value);
        }
    }
    return writer.Finish(bitCount);
}

}  // namespace streams
