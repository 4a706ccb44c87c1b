// The decoder's shortcuts against the plain forms they stand for: the one-lookup escape
// codes and the tables the group loop takes as plain. (Blocks whose codes reach beyond
// their tables are among the block fuzz target's seeds, decoded against the reference.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/bit_input.h"
#include "codec/code_tree.h"

namespace {

// Every 16-bit stream start: the same value and the same bits as field by field.
TEST(DecoderFastPaths, EscapeCodesByLookupReadLikeFieldByField) {
    for (uint32_t bits = 0; bits < 0x10000; ++bits) {
        // The 16 bits from bit 3 on, then ones and a fixed byte: room for every field.
        const uint8_t buffer[16] = {static_cast<uint8_t>(bits << 3 | 5), static_cast<uint8_t>(bits >> 5),
                                    static_cast<uint8_t>(bits >> 13 | 0xF8), 0x5A};
        uint32_t slow = 3, quick = 3;
        const uint32_t expected = vorx::ReadEscapedNumber(buffer, slow);
        ASSERT_EQ(vorx::ReadEscapedNumberQuickly(buffer, quick), expected) << bits;
        ASSERT_EQ(quick, slow) << bits;
    }
}

// A table is plain when every entry is a leaf the decoder may take without a walk.
TEST(DecoderFastPaths, OnlyTreesWhollyInTheTablesReachArePlain) {
    struct Case {
        const char* what;
        std::vector<vorx::SymbolEntry> entries;
        uint32_t rootBits;
        uint32_t valueMask;
        bool plain;
    };
    // Halving weights hang each new symbol one step deeper: n symbols reach depth n - 1.
    auto halving = [](uint32_t n, uint32_t firstSymbol) {
        std::vector<vorx::SymbolEntry> e;
        for (uint32_t i = 0; i < n; ++i) e.push_back({1u << (n - i), firstSymbol + i});
        return e;
    };
    const Case cases[] = {
        {"two symbols", {{3, 1}, {2, 2}}, 8, ~0u, true},
        {"a childless root reads no bit", {}, 8, ~0u, true},
        {"one symbol: a 0 bit finds no leaf", {{5, 7}}, 8, ~0u, false},
        {"depth equal to the table", halving(11, 0), 10, ~0u, true},
        {"one step deeper than the table", halving(12, 0), 10, ~0u, false},
        {"a symbol too large for an entry", {{2, 1}, {1, 1u << 23}}, 8, ~0u, false},
        {"the same, kept to its low byte", {{2, 1}, {1, 1u << 23}}, 8, 0xFF, true},
    };
    for (const Case& c : cases) {
        vorx::CodeTree tree;
        ASSERT_TRUE(tree.BuildFromEntries(c.entries.data(), c.entries.size()));
        vorx::DecodeTable table;
        ASSERT_TRUE(table.Build(tree, c.rootBits, nullptr, c.valueMask));
        EXPECT_EQ(table.plain(), c.plain) << c.what;
        // A plain table holds leaves only, each as the walk of its bits gives it.
        for (uint32_t i = 0; c.plain && i < (1u << c.rootBits); ++i) {
            const uint8_t bits[8] = {static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8)};
            uint32_t walked = 0;
            const uint32_t symbol = tree.DecodeSymbol(bits, walked);
            const uint32_t entry = table.entries()[i];
            ASSERT_TRUE(vorx::DecodeTable::IsPlainLeaf(entry)) << c.what << " entry " << i;
            ASSERT_EQ(vorx::DecodeTable::Value(entry), symbol & c.valueMask) << c.what << " entry " << i;
            ASSERT_EQ(entry & vorx::DecodeTable::kBitsMask, walked) << c.what << " entry " << i;
        }
    }
}

}  // namespace
