// Code trees and their lookup tables against the literal insertion and the bit-by-bit
// walk of the reference: the same leaves, weights and codes, and from every start of
// random streams the same symbol, the same bits consumed and the same refusal at the
// limit, for tables of every shape (ties, weights whose sums wrap, chains deeper than
// 32 steps, a zero weight that ends the table, symbols too large for a table entry,
// the empty and the one-entry table) and tables rebuilt in the same storage.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "codec/bit_input.h"
#include "codec/code_tree.h"
#include "tests/support/reference_decoder.h"
#include "tests/support/tree_walk.h"

using vorx::CodeTree;
using vorx::CodeTreeNode;
using vorx::DecodeTable;
using vorx::SymbolEntry;

namespace {

std::vector<SymbolEntry> RandomTable(std::mt19937& rng, int shape) {
    if (shape == 5) return std::vector<SymbolEntry>(rng() % 2, SymbolEntry{1, 7});  // empty, or one entry
    if (shape == 6) {  // heavy symbols (sums wrap past 32 bits), then halving weights: deeper than 32
        std::vector<SymbolEntry> t;
        for (uint32_t i = 0; i < 3000; ++i) t.push_back({1u << 23, i});
        for (uint32_t i = 0; i < 23; ++i) t.push_back({1u << (22 - i), 10000 + i});
        for (uint32_t i = 0; i < 20; ++i) t.push_back({1, 20000 + i});
        return t;
    }
    const uint32_t n = 1 + rng() % (shape == 3 ? 2000 : 300);
    std::vector<SymbolEntry> t(n);
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t w;
        switch (shape) {
            case 0: w = 1 + rng() % 10; break;                               // many ties
            case 1: w = 1 + rng() % vorx::kLargestEscapedNumber; break;      // sums wrap
            case 2: w = i < 23 ? (1u << (22 - i)) : 1; break;                // a deep chain
            default: w = 1 + (rng() % 3 == 0 ? rng() % vorx::kLargestEscapedNumber : rng() % 4); break;
        }
        t[i] = SymbolEntry{w, shape == 4 ? static_cast<uint32_t>(rng()) : static_cast<uint32_t>(rng() % (1u << 23))};
    }
    if (rng() % 5 == 0) t[rng() % n].weight = 0;  // ends the table there
    return t;
}

}  // namespace

TEST(CodeTree, AgreesWithTheReferenceOnEveryShape) {
    std::mt19937 rng(3);
    std::vector<uint8_t> stream(4096 + 64);
    std::vector<uint32_t> storage(1u << DecodeTable::kMaxRootBits, 0xDEADBEEFu);
    DecodeTable reused;  // rebuilt in the same storage: nothing of the last table may remain
    for (int round = 0; round < 500; ++round) {
        const auto table = RandomTable(rng, round % 7);
        CodeTree tree;
        ASSERT_TRUE(tree.BuildFromEntries(table.data(), table.size()));
        std::vector<reference::Entry> refTable;
        for (const auto& e : table) refTable.push_back({e.weight, e.symbol});
        reference::Tree ref;
        ref.Build(refTable);

        std::vector<const CodeTreeNode*> leaves;
        vorx::test::ForEachLeaf(tree, [&](const CodeTreeNode& n) { leaves.push_back(&n); });
        const auto refLeaves = ref.Leaves();
        ASSERT_EQ(leaves.size(), refLeaves.size()) << round;
        ASSERT_EQ(tree.leafCount(), refLeaves.size()) << round;
        for (size_t i = 0; i < leaves.size(); ++i) {
            ASSERT_EQ(leaves[i]->value, refLeaves[i]->value);
            ASSERT_EQ(leaves[i]->weight, refLeaves[i]->weight);
            const auto path = reference::PathOf(refLeaves[i]);
            ASSERT_EQ(leaves[i]->codeLength, path.size());
            for (size_t k = 0; k < path.size() && k < 32; ++k) ASSERT_EQ((leaves[i]->code >> k) & 1u, path[k]);
        }

        DecodeTable own;
        const uint32_t rootBits = rng() % (DecodeTable::kMaxRootBits + 1);
        ASSERT_TRUE(own.Build(tree, rootBits));
        EXPECT_LE(own.rootBits(), rootBits);
        ASSERT_TRUE(reused.Build(tree, 6 + rng() % (DecodeTable::kMaxRootBits - 5), storage.data()));
        // Streams biased toward ones and zeros reach the deep and the shallow codes.
        const uint32_t bias = rng() % 3;
        for (size_t i = 0; i < 4096; ++i) {
            const uint8_t r = static_cast<uint8_t>(rng());
            stream[i] = bias == 0 ? r : bias == 1 ? static_cast<uint8_t>(r | rng()) : static_cast<uint8_t>(r & rng());
        }
        for (uint32_t start = 0; start < 3000; start += 1 + rng() % 7) {
            const uint32_t limit = rng() % 2 ? 4096 * 8 : start + rng() % 40;
            // A code within the limit must decode; one past it may decode only from
            // the table's bits (the caller's bound covers those).
            bool overread = false, unbounded = false;
            uint32_t refPos = start, fullPos = start;
            const uint32_t expected = ref.Decode(stream.data(), refPos, limit, &overread);
            const uint32_t full = ref.Decode(stream.data(), fullPos, 4096 * 8, &unbounded);
            for (const DecodeTable* lookup : {&own, &reused}) {
                uint32_t pos = start, symbol = 0;
                const bool decoded = lookup->Decode(stream.data(), pos, limit, &symbol);
                ASSERT_TRUE(decoded || overread) << "round " << round << " start " << start << " limit " << limit;
                if (!decoded) continue;
                ASSERT_EQ(symbol, overread ? full : expected) << "round " << round << " start " << start;
                ASSERT_EQ(pos, overread ? fullPos : refPos) << "round " << round << " start " << start;
                ASSERT_TRUE(!overread || pos - start <= lookup->rootBits()) << "walked past the limit";
            }
            if (!overread && limit == 4096 * 8) {
                uint32_t walkPos = start;
                ASSERT_EQ(tree.DecodeSymbol(stream.data(), walkPos), expected);
                ASSERT_EQ(walkPos, refPos);
            }
        }
    }
}
