// The compressor against the block decoder: every block it makes must decode back to
// the bytes it was made from, at every level, whatever the data's shape.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>

#include "codec/bit_input.h"
#include "codec/block_decoder.h"
#include "codec/code_tree.h"
#include "container/format.h"
#include "library/vorx.h"
#include "writer/code_design.h"
#include "writer/compressor.h"
#include "tests/support/tree_walk.h"

namespace vorx {
namespace {

vorx_Error RefuseGrowth(OutputTarget*, uint64_t) { return vorx_CorruptArchive; }

// Decodes one block as the library does; fails the test on any error.
Bytes DecodeBlock(const EncodedBlock& block, size_t expectedLength) {
    if (block.type == BlockType::Stored) {
        EXPECT_EQ(block.sizeField, block.body.size());
        return block.body;
    }
    const size_t bodyBytes = PadTo16((uint64_t{block.sizeField} + 7) / 8);
    EXPECT_EQ(block.body.size(), (uint64_t{block.sizeField} + 7) / 8);
    Bytes body(bodyBytes + kBodySlackBytes + kBodyOverreadBytes, 0);
    std::memcpy(body.data(), block.body.data(), block.body.size());
    Bytes out(expectedLength + 1);
    ContextTable* table = CreateContextTable();
    EXPECT_NE(table, nullptr);
    BlockScratch scratch;
    OutputTarget target{out.data(), out.size(), &RefuseGrowth};
    uint64_t produced = 0;
    const vorx_Error e = DecodeCompressedBlock(body.data(), block.sizeField,
                                               static_cast<uint32_t>(bodyBytes), *table, scratch,
                                               target, out.size(), nullptr, &produced);
    ReleaseContextTable(table);
    EXPECT_EQ(e, vorx_Success);
    out.resize(e == vorx_Success ? produced : 0);
    return out;
}

// Compresses `data` as one block at `level` and checks that it decodes back.
EncodedBlock RoundTrip(const Bytes& data, int level, bool force = true) {
    Compressor compressor(level);
    compressor.set_forceCompressed(force);
    EncodedBlock block;
    EXPECT_TRUE(compressor.EncodeBlock(data.data(), data.size(), &block));
    const Bytes back = DecodeBlock(block, data.size());
    EXPECT_EQ(back.size(), data.size()) << "level " << level;
    EXPECT_TRUE(back == data) << "level " << level << ", " << data.size() << " bytes";
    return block;
}

Bytes Text(size_t length) {
    static const char* words[] = {"the ", "archive ", "writer ", "compresses ", "every ",
                                  "block ", "into ", "codes ", "and ", "tables, ", "which ",
                                  "decoder ", "reads.\n", "Slots ", "name ", "positions "};
    Bytes out;
    std::mt19937 rng(7);
    while (out.size() < length) {
        const char* w = words[rng() % 16];
        out.insert(out.end(), w, w + std::strlen(w));
    }
    out.resize(length);
    return out;
}

Bytes Random(size_t length, uint32_t seed, uint32_t alphabet = 256) {
    std::mt19937 rng(seed);
    Bytes out(length);
    for (uint8_t& b : out) b = static_cast<uint8_t>(rng() % alphabet);
    return out;
}

TEST(Compressor, CompressesRedundantDataAndStoresRandomData) {
    const Bytes text = Text(200000);
    for (int level : {1, 5, 9}) {
        Compressor c(level);
        EncodedBlock block;
        ASSERT_TRUE(c.EncodeBlock(text.data(), text.size(), &block));
        EXPECT_EQ(block.type, BlockType::Compressed);
        // A sixteen-word vocabulary in random order: well under 3 bits a byte.
        EXPECT_LT(block.body.size(), text.size() * 3 / 8) << "level " << level;
        EXPECT_EQ(DecodeBlock(block, text.size()), text);

        const Bytes noise = Random(50000, 9);
        ASSERT_TRUE(c.EncodeBlock(noise.data(), noise.size(), &block));
        EXPECT_EQ(block.type, BlockType::Stored);
        EXPECT_EQ(block.body, noise);
    }
}

TEST(Compressor, HigherLevelsAreNotLarger) {
    Bytes mixed = Text(60000);
    const Bytes tail = Random(20000, 4, 16);
    mixed.insert(mixed.end(), tail.begin(), tail.end());
    const Bytes again = Text(30000);
    mixed.insert(mixed.end(), again.begin(), again.end());
    const size_t size1 = RoundTrip(mixed, 1).body.size();
    const size_t size5 = RoundTrip(mixed, 5).body.size();
    const size_t size9 = RoundTrip(mixed, 9).body.size();
    EXPECT_LE(size5, size1 + size1 / 50);
    EXPECT_LE(size9, size5 + size5 / 100);
}

// Thousands of random inputs of random length, alphabet and repetition structure.
TEST(Compressor, PropertyRandomInputsDecodeBack) {
    std::mt19937 rng(12345);
    for (int round = 0; round < 2700; ++round) {
        const int level = 1 + round % kMaxLevel;
        const size_t length = 1 + rng() % (round % 10 == 0 ? 20000 : 600);
        const uint32_t alphabet = 1 + rng() % (rng() % 2 ? 4 : 256);
        Bytes data;
        while (data.size() < length) {
            const uint32_t kind = rng() % 4;
            if (kind == 0 || data.size() < 4) {
                data.push_back(static_cast<uint8_t>(rng() % alphabet));
            } else if (kind == 1) {  // repeat an earlier piece, possibly overlapping
                const size_t from = rng() % data.size();
                const size_t n = 1 + rng() % 40;
                for (size_t i = 0; i < n; ++i) data.push_back(data[from + i]);
            } else if (kind == 2) {  // a run
                data.insert(data.end(), 1 + rng() % 30, static_cast<uint8_t>(rng() % alphabet));
            } else {  // a short period
                const size_t period = 1 + rng() % 5;
                const size_t n = rng() % 50;
                const size_t start = data.size() - std::min(period, data.size());
                for (size_t i = 0; i < n; ++i) data.push_back(data[start + i]);
            }
        }
        data.resize(length);
        SCOPED_TRACE("round " + std::to_string(round));
        RoundTrip(data, level, rng() % 2 == 0);
        if (HasFatalFailure() || HasFailure()) break;
    }
}

// The table designer must describe a tree that the decoder's insertion really builds,
// and pick short codes for frequent symbols.
TEST(CodeDesign, TablesBuildTheCodesTheyPromise) {
    std::mt19937 rng(5);
    TableDesigner designer;
    for (int round = 0; round < 300; ++round) {
        const size_t n = 1 + rng() % 256;
        std::vector<SymbolCount> counts;
        for (size_t i = 0; i < n; ++i) {
            const uint64_t c = 1 + (rng() % 4 == 0 ? rng() % 100000 : rng() % 50);
            counts.push_back(SymbolCount{static_cast<uint32_t>(i * 3 + 1), c});
        }
        AlphabetDesign design;
        designer.Design(counts, [](uint32_t, uint32_t) { return 8u; }, 0, round % 3, &design);
        ASSERT_EQ(design.table.size(), n);
        // Rebuild from the table alone and compare every code.
        CodeTree check;
        ASSERT_TRUE(check.BuildFromEntries(design.table.data(), design.table.size()));
        uint64_t dataBits = 0;
        size_t leaves = 0;
        vorx::test::ForEachLeaf(check, [&](const CodeTreeNode& leaf) {
            auto it = std::find_if(counts.begin(), counts.end(),
                                   [&](const SymbolCount& c) { return c.symbol == leaf.value; });
            ASSERT_NE(it, counts.end());
            const SymbolCode code = design.codes[static_cast<size_t>(it - counts.begin())];
            EXPECT_EQ(code.code, leaf.code);
            EXPECT_EQ(code.length, leaf.codeLength);
            dataBits += it->count * leaf.codeLength;
            ++leaves;
        });
        EXPECT_EQ(leaves, n);
        EXPECT_EQ(dataBits, design.dataBits);
        // The codes are within a hair of Huffman's optimum, and the whole is never
        // dearer than the balanced tree of flat weights (2 bits a weight).
        std::vector<uint64_t> raw;
        for (const SymbolCount& c : counts) raw.push_back(c.count);
        const std::vector<uint32_t> lengths = LimitedHuffmanLengths(raw, 32);
        uint64_t huffman = 0;
        for (size_t i = 0; i < n; ++i) huffman += raw[i] * lengths[i];
        EXPECT_LE(design.dataBits, huffman + huffman / 500 + n) << "round " << round;
        std::vector<size_t> order(n);
        for (size_t i = 0; i < n; ++i) order[i] = i;
        std::sort(order.begin(), order.end(), [&](size_t x, size_t y) {
            return raw[x] != raw[y] ? raw[x] > raw[y] : x < y;
        });
        std::vector<SymbolEntry> flat;
        for (size_t i : order) flat.push_back(SymbolEntry{1, counts[i].symbol});
        CodeTree flatTree;
        ASSERT_TRUE(flatTree.BuildFromEntries(flat.data(), n));
        uint64_t flatBits = n * (8 + 2);
        vorx::test::ForEachLeaf(flatTree, [&](const CodeTreeNode& leaf) {
            for (const SymbolCount& c : counts)
                if (c.symbol == leaf.value) flatBits += c.count * leaf.codeLength;
        });
        EXPECT_LE(design.dataBits + design.tableBits, flatBits) << "round " << round;
    }
}

TEST(CodeDesign, LimitedHuffmanRespectsLimitAndKraft) {
    std::vector<uint64_t> counts;
    uint64_t a = 1, b = 1;
    for (int i = 0; i < 40; ++i) {  // Fibonacci counts make the deepest unlimited codes
        counts.push_back(a);
        const uint64_t c = a + b;
        a = b;
        b = c;
    }
    for (uint32_t limit : {6u, 10u, 15u, 32u}) {
        const std::vector<uint32_t> lengths = LimitedHuffmanLengths(counts, limit);
        double kraft = 0;
        for (uint32_t l : lengths) {
            EXPECT_GE(l, 1u);
            EXPECT_LE(l, limit);
            kraft += std::ldexp(1.0, -static_cast<int>(l));
        }
        EXPECT_DOUBLE_EQ(kraft, 1.0) << "limit " << limit;
        // More frequent symbols never get longer codes.
        for (size_t i = 1; i < counts.size(); ++i) EXPECT_LE(lengths[i], lengths[i - 1]);
    }
    EXPECT_EQ(LimitedHuffmanLengths({5}, 8), std::vector<uint32_t>{1});
    EXPECT_EQ(LimitedHuffmanLengths({5, 1}, 8), (std::vector<uint32_t>{1, 1}));
}

}  // namespace
}  // namespace vorx
