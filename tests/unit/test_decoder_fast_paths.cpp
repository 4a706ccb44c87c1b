// The decoder's shortcuts against the plain forms they stand for: the one-lookup escape
// codes, the tables the group loop takes as plain, and the groups of a block whose
// literal codes reach just within or beyond the literal table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/bit_input.h"
#include "codec/block_decoder.h"
#include "codec/code_tree.h"
#include "codec/context_table.h"
#include "tests/support/reference_decoder.h"
#include "tests/support/stream_builder.h"

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

vorx_Error RefuseMore(vorx::OutputTarget*, uint64_t) { return vorx_CorruptArchive; }

// Long runs of literals whose codes are up to 10 bits (the literal table's reach: the
// groups take them as plain) or up to 12 (some walk on), with a match now and then:
// the block decodes to its text, as the reference decodes it.
TEST(DecoderFastPaths, LiteralCodesAtAndBeyondTheTablesReach) {
    for (uint32_t symbols : {11u, 13u}) {
        streams::BlockPlan plan;
        plan.flags = {{3, 0}, {1, 2}};  // four literals, or a literal, a match, two literals
        for (uint32_t i = 0; i < symbols; ++i) plan.literals.push_back({1u << (symbols - i), 'a' + i});
        plan.lengths = {{2, 5}, {1, 40}};
        plan.slots = {{1, 0}, {1, 5}};  // 5 is never sent
        const uint32_t groups = 300;
        plan.stepCount = 4 * groups;
        streams::BlockWriter writer(plan);
        std::string expected;
        // The literals run through the alphabet in turn, so that by the first match every
        // pair of neighbours has its bucket, whose slot 0 the matches copy from.
        for (uint32_t g = 0; g < groups; ++g) {
            const bool match = g % 7 == 6;
            writer.Flag(match ? 2 : 0);
            for (uint32_t k = 0; k < 4; ++k) {
                if (match && k == 1) {
                    const uint32_t length = g % 2 ? 5 : 40;
                    writer.Length(length);
                    if (g % 14 == 6) writer.Slot(0);
                    expected.append(length, '?');  // copied bytes: see the reference
                    continue;
                }
                const uint32_t literal = (4 * g + k) % symbols;
                writer.Literal('a' + literal);
                expected += static_cast<char>('a' + literal);
            }
        }
        uint32_t bitCount = 0;
        std::vector<uint8_t> body = writer.Finish(&bitCount);
        const auto reference = reference::DecodeBlock(streams::WithSlack(body, 4096).data(), bitCount,
                                                      static_cast<uint32_t>((body.size() + vorx::kBodySlackBytes) * 8),
                                                      1 << 16);
        ASSERT_EQ(reference.code, vorx_Success) << symbols;
        const size_t bodyBytes = body.size();
        body.resize(bodyBytes + vorx::kBodySlackBytes + vorx::kBodyOverreadBytes, 0);
        std::vector<uint8_t> out(reference.output.size());
        vorx::OutputTarget target{out.data(), out.size(), &RefuseMore};
        static vorx::ContextTable* contexts = vorx::CreateContextTable();
        vorx::BlockScratch scratch;
        uint64_t produced = 0;
        ASSERT_EQ(vorx::DecodeCompressedBlock(body.data(), bitCount, static_cast<uint32_t>(bodyBytes), *contexts,
                                              scratch, target, out.size(), nullptr, &produced),
                  vorx_Success)
            << symbols;
        EXPECT_EQ(scratch.lookup[vorx::BlockScratch::kLiterals].plain(), symbols == 11) << symbols;
        out.resize(produced);
        EXPECT_EQ(out, reference.output) << symbols;
        // The literals before the first match stand as the writer put them: the two
        // decoders agree with the block, not only with each other.
        const std::string text(out.begin(), out.end());
        EXPECT_EQ(text.substr(0, 24), expected.substr(0, 24)) << symbols;
        EXPECT_EQ(text.size(), expected.size()) << symbols;
    }
}

}  // namespace
