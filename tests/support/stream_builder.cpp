#include "tests/support/stream_builder.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "codec/block_head.h"
#include "container/format.h"

// A plan or a code the builder cannot write stops the program.
#define Require(condition) \
    ((condition) ? (void)0 \
                 : (std::fprintf(stderr, "stream builder: %s\n", #condition), std::abort()))

namespace streams {

BlockWriter::BlockWriter(const BlockPlan& planned) {
    BlockPlan plan = planned;
    for (auto* t : {&plan.flags, &plan.literals, &plan.slots})
        if (t->empty()) t->push_back(Entry{1, 0});
    const auto size = [](const std::vector<Entry>& t) { return static_cast<uint32_t>(t.size()); };
    const vorx::BlockHead head{plan.stepCount,   size(plan.literals), size(plan.lengths),
                               size(plan.flags), plan.literalWidth,   size(plan.slots)};
    Require(head.flagCount <= 16 && head.literalCount <= 256 && head.lengthCount <= 65535 &&
            head.slotCount <= 16 && head.literalWidth <= 15 && head.stepCount < (1u << 28));
    uint32_t head1, head2;
    head.Encode(&head1, &head2);
    bits_.WriteBits(head1, 32);
    bits_.WriteBits(head2, 32);
    // Each entry is its symbol (a field of the table's width, or escape-coded for the
    // lengths), then its weight.
    const std::vector<Entry>* tables[] = {&plan.flags, &plan.literals, &plan.lengths, &plan.slots};
    const int widths[] = {4, static_cast<int>(plan.literalWidth), -1, 4};
    for (int i = 0; i < 4; ++i) {
        for (const Entry& e : *tables[i]) {
            if (widths[i] < 0) {
                Require(bits_.WriteEscapedNumber(e.symbol));
            } else {
                bits_.WriteBits(e.symbol, static_cast<uint32_t>(widths[i]));
            }
            Require(bits_.WriteEscapedNumber(e.weight));
        }
        reference::Tree tree;
        tree.Build(*tables[i]);
        for (const reference::Tree::Leaf& leaf : tree.Leaves())
            codes_[i].emplace(leaf.symbol, leaf.path);
    }
    tablesEnd_ = static_cast<uint32_t>(bits_.bitCount());
}

void BlockWriter::Code(int table, uint32_t symbol) {
    const auto it = codes_[table].find(symbol);
    Require(it != codes_[table].end());
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
    // Every code in stream order as (table, symbol): a flag symbol before every fourth
    // step, a slot symbol after the length of every second match.
    std::vector<std::pair<int, uint32_t>> codes;
    size_t flag = 0, slot = 0, matches = 0;
    for (size_t i = 0; i < steps.size(); ++i) {
        if (i % 4 == 0) flag = codes.size(), codes.emplace_back(0, 0);
        codes.emplace_back(steps[i].match ? 2 : 1, steps[i].value);
        if (!steps[i].match) continue;
        codes[flag].second |= 1u << (i % 4);
        if (matches % 2 == 0) slot = codes.size(), codes.emplace_back(3, 0);
        codes[slot].second |= (steps[i].selector & 3u) << (2 * (matches++ % 2));
    }
    std::map<uint32_t, uint32_t> counts[4];
    for (const auto& [table, symbol] : codes) ++counts[table][symbol];
    // Empty tables get their one entry from the writer.
    std::vector<Entry> tables[4];
    for (int t = 0; t < 4; ++t) {
        for (const auto& [symbol, count] : counts[t])
            tables[t].push_back(Entry{std::min(count, vorx::kLargestEscapedNumber), symbol});
        std::stable_sort(tables[t].begin(), tables[t].end(),
                         [](const Entry& a, const Entry& b) { return a.weight > b.weight; });
    }
    BlockWriter writer(BlockPlan{static_cast<uint32_t>(steps.size()), 8, tables[0], tables[1],
                                 tables[2], tables[3]});
    for (const auto& [table, symbol] : codes) writer.Code(table, symbol);
    return writer.Finish(bitCount);
}

std::vector<uint8_t> RawBlock(uint32_t type, uint32_t sizeField, const std::vector<uint8_t>& body) {
    std::vector<uint8_t> block(4 + vorx::PadTo16(body.size()), 0);
    vorx::WriteLe32(block.data(), (sizeField << 3) | type);
    std::copy(body.begin(), body.end(), block.begin() + 4);
    return block;
}

std::vector<uint8_t> RunOfA(uint64_t total) {
    std::vector<Step> steps(4, Step{false, 'a', 0});
    for (uint64_t left = total - 4; left > 0;) {
        const uint32_t length = static_cast<uint32_t>(std::min<uint64_t>(left, 8000000));
        steps.push_back(Step{true, length, 0});
        left -= length;
    }
    uint32_t bits = 0;
    const std::vector<uint8_t> body = EncodeSteps(steps, &bits);
    return RawBlock(1, bits, body);
}

}  // namespace streams
