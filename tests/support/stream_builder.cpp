#include "tests/support/stream_builder.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "codec/block_head.h"
#include "container/format.h"

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
    BlockPlan plan = planned;
    for (auto* t : {&plan.flags, &plan.literals, &plan.slots})
        if (t->empty()) t->push_back(Entry{1, 0});
    const auto count = [](const std::vector<Entry>& t) { return static_cast<uint32_t>(t.size()); };
    const uint32_t flagCount = count(plan.flags), literalCount = count(plan.literals);
    const uint32_t lengthCount = count(plan.lengths), slotCount = count(plan.slots);
    Require(flagCount <= 16 && literalCount <= 256 && lengthCount <= 65535 && slotCount <= 16 &&
            plan.literalWidth <= 15 && plan.stepCount < (1u << 28));
    const vorx::BlockHead head{plan.stepCount, literalCount,      lengthCount,
                               flagCount,      plan.literalWidth, slotCount};
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
    for (const reference::Tree::Leaf& leaf : tree.Leaves()) codes.emplace(leaf.symbol, leaf.path);
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
    size_t matches = 0;
    for (size_t i = 0; i < steps.size(); ++i) {
        if (i % 4 == 0) flagSymbols.push_back(0);
        if (!steps[i].match) {
            ++literalCounts[steps[i].value];
            continue;
        }
        flagSymbols.back() |= 1u << (i % 4);
        ++lengthCounts[steps[i].value];
        if (matches % 2 == 0) slotSymbols.push_back(0);
        slotSymbols.back() |= (steps[i].selector & 3u) << (2 * (matches++ % 2));
    }
    for (uint32_t symbol : flagSymbols) ++flagCounts[symbol];
    for (uint32_t symbol : slotSymbols) ++slotCounts[symbol];
    // Empty tables get their one entry from the writer.
    auto table = [](const std::map<uint32_t, uint32_t>& counts) {
        std::vector<Entry> t;
        for (const auto& [symbol, count] : counts)
            t.push_back(Entry{std::min(count, vorx::kLargestEscapedNumber), symbol});
        std::stable_sort(t.begin(), t.end(),
                         [](const Entry& a, const Entry& b) { return a.weight > b.weight; });
        return t;
    };
    BlockPlan plan;
    plan.stepCount = static_cast<uint32_t>(steps.size());
    plan.flags = table(flagCounts);
    plan.literals = table(literalCounts);
    plan.lengths = table(lengthCounts);
    plan.slots = table(slotCounts);
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
