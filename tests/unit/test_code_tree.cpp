// Code trees: the shapes and codes the insertion rule gives (against the literal
// insertion of the reference), and the lookup tables derived from a tree, which must
// decode exactly as the walk.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "codec/bit_input.h"
#include "codec/bit_writer.h"
#include "codec/code_tree.h"
#include "tests/support/reference_decoder.h"
#include "tests/support/tree_walk.h"

using vorx::CodeTree;
using vorx::CodeTreeNode;
using vorx::DecodeTable;
using vorx::kInnerNodeMarker;
using vorx::kNoLeafSymbol;
using vorx::SymbolEntry;
using vorx::SymbolTable;

namespace {

void Build(CodeTree& tree, std::initializer_list<SymbolEntry> entries) {
    SymbolTable table;
    ASSERT_TRUE(table.Create(static_cast<int32_t>(entries.size())));
    size_t i = 0;
    for (const SymbolEntry& e : entries) table[i++] = e;
    ASSERT_TRUE(tree.BuildFromTable(table));
}

std::vector<uint8_t> BitsOf(const std::string& bits) {
    vorx::BitWriter w;
    for (char c : bits) w.WriteBit(c == '1');
    std::vector<uint8_t> bytes = w.bytes();
    bytes.resize(bytes.size() + 16, 0);
    return bytes;
}

}  // namespace

// ---------------------------------------------------------------------------
// Agreement with the test's own literal implementation, on many tables.

namespace {

std::vector<SymbolEntry> RandomTable(std::mt19937& rng, int shape) {
    const uint32_t n = 1 + rng() % (shape == 3 ? 2000 : 300);
    std::vector<SymbolEntry> t(n);
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t w;
        switch (shape) {
            case 0: w = 1 + rng() % 10; break;                       // small, many ties
            case 1: w = 1 + rng() % vorx::kLargestEscapedNumber; break;  // sums wrap past 32 bits
            case 2: w = i < 23 ? (1u << (22 - i)) : 1; break;          // halving: a deep chain
            default: w = 1 + (rng() % 3 == 0 ? rng() % vorx::kLargestEscapedNumber : rng() % 4); break;
        }
        t[i] = SymbolEntry{w, static_cast<uint32_t>(rng() % (1u << 23))};
    }
    if (rng() % 5 == 0) t[rng() % n].weight = 0;  // ends the table there
    return t;
}

}  // namespace

TEST(CodeTree, AgreesWithTheLiteralInsertionOnRandomTables) {
    std::mt19937 rng(3);
    for (int round = 0; round < 400; ++round) {
        const auto table = RandomTable(rng, round % 4);
        CodeTree tree;
        ASSERT_TRUE(tree.BuildFromEntries(table.data(), table.size()));
        std::vector<reference::Entry> refTable;
        for (const auto& e : table) refTable.push_back({e.weight, e.symbol});
        reference::Tree ref;
        ref.Build(refTable);

        std::vector<const CodeTreeNode*> leaves;
        vorx::test::ForEachLeaf(tree, [&](const CodeTreeNode& n) { leaves.push_back(&n); });
        const auto refLeaves = ref.Leaves();
        ASSERT_EQ(leaves.size(), refLeaves.size());
        for (size_t i = 0; i < leaves.size(); ++i) {
            ASSERT_EQ(leaves[i]->value, refLeaves[i]->value);
            ASSERT_EQ(leaves[i]->weight, refLeaves[i]->weight);
            const auto path = reference::PathOf(refLeaves[i]);
            ASSERT_EQ(leaves[i]->codeLength, path.size());
            for (size_t k = 0; k < path.size() && k < 32; ++k) ASSERT_EQ((leaves[i]->code >> k) & 1u, path[k]);
        }
    }
}

// Every start position of a random stream decodes through the table exactly as the
// bit-by-bit walk does: same symbol, same bits consumed.
namespace {

// Decodes one symbol from many starting bits of `stream` (4096 bytes and slack) with the
// tree's walk and with its table: the same symbol, and the same bits consumed.
void ExpectTableAgreesWithWalk(const CodeTree& tree, const DecodeTable& lookup, const std::vector<uint8_t>& stream,
                               std::mt19937& rng) {
    for (uint32_t start = 0; start < 3000; start += 1 + rng() % 5) {
        uint32_t walkPos = start, tablePos = start;
        const uint32_t expected = tree.DecodeSymbol(stream.data(), walkPos);
        uint32_t symbol = 0;
        ASSERT_TRUE(lookup.Decode(stream.data(), tablePos, 4096 * 8, &symbol)) << "start " << start;
        ASSERT_EQ(symbol, expected) << "start " << start;
        ASSERT_EQ(tablePos, walkPos) << "start " << start;
    }
}

}  // namespace

TEST(DecodeTable, MatchesTheBitByBitWalkOnRandomTreesAndStreams) {
    std::mt19937 rng(5);
    std::vector<uint8_t> stream(4096 + 64);
    for (int round = 0; round < 300; ++round) {
        const auto table = RandomTable(rng, round % 4);
        const size_t used = round % 7 == 0 ? 1 : round % 11 == 0 ? 0 : table.size();
        CodeTree tree;
        ASSERT_TRUE(tree.BuildFromEntries(table.data(), used));
        DecodeTable lookup;
        const uint32_t rootBits = rng() % (DecodeTable::kMaxRootBits + 1);
        ASSERT_TRUE(lookup.Build(tree, rootBits));
        EXPECT_LE(lookup.rootBits(), rootBits);
        // Streams biased toward ones and zeros reach the deep and the shallow codes.
        const uint32_t bias = rng() % 3;
        for (size_t i = 0; i < 4096; ++i) {
            const uint8_t r = static_cast<uint8_t>(rng());
            stream[i] = bias == 0 ? r : bias == 1 ? static_cast<uint8_t>(r | rng()) : static_cast<uint8_t>(r & rng());
        }
        ASSERT_NO_FATAL_FAILURE(ExpectTableAgreesWithWalk(tree, lookup, stream, rng)) << "round " << round;
    }
}

TEST(DecodeTable, RebuiltInPlaceShallowTreesLeaveNothingOfTheLastTable) {
    // Trees shallower than the table fill part of it and copy that part up: every entry
    // must be rewritten, whatever the storage held (a deeper tree's entries, or junk).
    std::mt19937 rng(12);
    std::vector<uint8_t> stream(4096 + 64);
    std::vector<uint32_t> storage(1u << DecodeTable::kMaxRootBits, 0xDEADBEEFu);
    DecodeTable lookup;
    for (int round = 0; round < 300; ++round) {
        const bool shallow = round % 2 == 0;
        auto table = RandomTable(rng, shallow ? 0 : 3);
        if (shallow) table.resize(1 + rng() % 12);
        CodeTree tree;
        ASSERT_TRUE(tree.BuildFromEntries(table.data(), table.size()));
        const uint32_t rootBits = 6 + rng() % (DecodeTable::kMaxRootBits - 5);
        ASSERT_TRUE(lookup.Build(tree, rootBits, storage.data()));
        for (size_t i = 0; i < stream.size(); ++i) stream[i] = static_cast<uint8_t>(rng());
        ASSERT_NO_FATAL_FAILURE(ExpectTableAgreesWithWalk(tree, lookup, stream, rng)) << "round " << round;
    }
}

TEST(DecodeTable, EdgeTreesDecodeLikeTheWalk) {
    auto bits = BitsOf("0110");
    uint32_t pos = 0, symbol = 0;
    {
        CodeTree childless;
        Build(childless, {});
        DecodeTable t;
        ASSERT_TRUE(t.Build(childless, 10));
        EXPECT_EQ(t.rootBits(), 10u);
        ASSERT_TRUE(t.Decode(bits.data(), pos, 100, &symbol));
        EXPECT_EQ(symbol, kInnerNodeMarker);
        EXPECT_EQ(pos, 0u);
    }
    {
        CodeTree none;
        DecodeTable t;
        ASSERT_TRUE(t.Build(none, 10));
        ASSERT_TRUE(t.Decode(bits.data(), pos, 100, &symbol));
        EXPECT_EQ(symbol, kNoLeafSymbol);
        EXPECT_EQ(pos, 0u);
    }
    {
        CodeTree one;
        Build(one, {{1, 0}});
        DecodeTable t;
        ASSERT_TRUE(t.Build(one, 10));
        ASSERT_TRUE(t.Decode(bits.data(), pos, 100, &symbol));
        EXPECT_EQ(symbol, kNoLeafSymbol);  // bit 0: no left child
        EXPECT_EQ(pos, 1u);
        ASSERT_TRUE(t.Decode(bits.data(), pos, 100, &symbol));
        EXPECT_EQ(symbol, 0u);
        EXPECT_EQ(pos, 2u);
    }
}

TEST(DecodeTable, LongCodesWalkOnButNeverPastTheLimit) {
    // Halving weights grow a chain; with a 4-bit table most codes need the walk.
    std::vector<SymbolEntry> table;
    for (uint32_t i = 0; i < 22; ++i) table.push_back({1u << (21 - i), 100 + i});
    CodeTree tree;
    ASSERT_TRUE(tree.BuildFromEntries(table.data(), table.size()));
    ASSERT_GE(tree.maxDepth(), 15u);
    DecodeTable lookup;
    ASSERT_TRUE(lookup.Build(tree, 4));
    // The deepest leaf's code, and a limit that cuts it short by one bit.
    const CodeTreeNode* deepest = nullptr;
    vorx::test::ForEachLeaf(tree, [&](const CodeTreeNode& n) {
        if (!deepest || n.codeLength > deepest->codeLength) deepest = &n;
    });
    std::string code;
    for (uint32_t i = 0; i < deepest->codeLength; ++i) code += ((deepest->code >> i) & 1u) ? '1' : '0';
    auto bits = BitsOf(code);
    uint32_t pos = 0, symbol = 0;
    ASSERT_TRUE(lookup.Decode(bits.data(), pos, deepest->codeLength, &symbol));
    EXPECT_EQ(symbol, deepest->value);
    EXPECT_EQ(pos, deepest->codeLength);
    pos = 0;
    EXPECT_FALSE(lookup.Decode(bits.data(), pos, deepest->codeLength - 1, &symbol));
}

TEST(DecodeTable, ValuesTooLargeForAnEntryStillDecode) {
    CodeTree tree;
    Build(tree, {{3, 0xFFFFFF00u}, {2, 7}, {1, 0x12345678u}});
    DecodeTable lookup;
    ASSERT_TRUE(lookup.Build(tree, 8));
    for (const char* code : {"1", "01", "00"}) {
        auto bits = BitsOf(std::string(code) + "0000000000");
        uint32_t walkPos = 0, tablePos = 0, symbol = 0;
        const uint32_t expected = tree.DecodeSymbol(bits.data(), walkPos);
        ASSERT_TRUE(lookup.Decode(bits.data(), tablePos, 64, &symbol));
        EXPECT_EQ(symbol, expected) << code;
        EXPECT_EQ(tablePos, walkPos) << code;
    }
}

TEST(CodeTree, EveryLeafsPathDecodesBackToItsSymbolAtAnyDepth) {
    // Random tables, and one deeper than 32 steps: many heavy symbols (their sums wrap
    // past 32 bits), then weights halving down to 1, then ones.
    std::mt19937 rng(12);
    std::vector<std::vector<SymbolEntry>> tables;
    for (int i = 0; i < 50; ++i) tables.push_back(RandomTable(rng, i % 4));
    std::vector<SymbolEntry> deep;
    for (uint32_t i = 0; i < 3000; ++i) deep.push_back({1u << 23, i});
    for (uint32_t i = 0; i < 23; ++i) deep.push_back({1u << (22 - i), 10000 + i});
    for (uint32_t i = 0; i < 20; ++i) deep.push_back({1, 20000 + i});
    tables.push_back(deep);
    for (const auto& table : tables) {
        CodeTree tree;
        ASSERT_TRUE(tree.BuildFromEntries(table.data(), table.size()));
        if (&table == &tables.back()) {
            ASSERT_GT(tree.maxDepth(), 32u);
        }
        vorx::test::ForEachLeaf(tree, [&](const CodeTreeNode& leaf) {
            vorx::BitWriter w;
            vorx::test::EmitPath(leaf, [&](uint32_t bit) { w.WriteBit(bit); });
            ASSERT_EQ(w.bitCount(), leaf.codeLength);
            std::vector<uint8_t> bytes = w.bytes();
            bytes.resize(bytes.size() + 16, 0);
            uint32_t pos = 0;
            EXPECT_EQ(tree.DecodeSymbol(bytes.data(), pos), leaf.value);
            EXPECT_EQ(pos, leaf.codeLength);
        });
    }
}
