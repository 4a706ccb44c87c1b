// The compressor's code tables. Whether its blocks decode is the round trip's matter;
// here: a table builds in the decoder exactly the codes the designer counted with, and
// those codes are near Huffman's optimum within their length limit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "codec/code_tree.h"
#include "tests/support/tree_walk.h"
#include "writer/code_design.h"

namespace vorx {
namespace {

TEST(CodeDesign, TablesBuildTheCodesTheyPromiseNearTheOptimum) {
    std::mt19937 rng(5);
    TableDesigner designer;
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE(round);
        const size_t n = 1 + rng() % 256;
        std::vector<SymbolCount> counts;
        std::vector<uint64_t> raw;
        for (size_t i = 0; i < n; ++i) {
            raw.push_back(1 + (rng() % 4 == 0 ? rng() % 100000 : rng() % 50));
            counts.push_back(SymbolCount{static_cast<uint32_t>(i * 3 + 1), raw.back()});
        }
        AlphabetDesign design;
        designer.Design(counts, [](uint32_t, uint32_t) { return 8u; }, 0, round % 3, &design);
        ASSERT_EQ(design.table.size(), n);
        CodeTree tree;
        ASSERT_TRUE(tree.BuildFromEntries(design.table.data(), design.table.size()));
        uint64_t dataBits = 0;
        size_t leaves = 0;
        test::ForEachLeaf(tree, [&](const CodeTreeNode& leaf) {
            const size_t i = (leaf.value - 1) / 3;
            ASSERT_TRUE(i < n && counts[i].symbol == leaf.value);
            EXPECT_EQ(design.codes[i].code, leaf.code);
            EXPECT_EQ(design.codes[i].length, leaf.codeLength);
            dataBits += raw[i] * leaf.codeLength;
            ++leaves;
        });
        EXPECT_EQ(leaves, n);
        EXPECT_EQ(dataBits, design.dataBits);
        const std::vector<uint32_t> lengths = LimitedHuffmanLengths(raw, 32);
        uint64_t huffman = 0;
        for (size_t i = 0; i < n; ++i) huffman += raw[i] * lengths[i];
        EXPECT_LE(design.dataBits, huffman + huffman / 500 + n);
    }
}

// Fibonacci counts make the deepest unlimited codes: every limit holds with a complete
// code (Kraft sum 1), and a more frequent symbol never gets a longer code.
TEST(CodeDesign, LimitedHuffmanRespectsLimitAndKraft) {
    std::vector<uint64_t> counts = {1, 1};
    while (counts.size() < 40) counts.push_back(counts[counts.size() - 1] + counts[counts.size() - 2]);
    std::reverse(counts.begin(), counts.end());
    for (uint32_t limit : {6u, 10u, 15u, 32u}) {
        const std::vector<uint32_t> lengths = LimitedHuffmanLengths(counts, limit);
        double kraft = 0;
        for (size_t i = 0; i < lengths.size(); ++i) {
            EXPECT_TRUE(lengths[i] >= 1 && lengths[i] <= limit) << lengths[i];
            EXPECT_TRUE(i == 0 || lengths[i] >= lengths[i - 1]) << i;
            kraft += std::ldexp(1.0, -static_cast<int>(lengths[i]));
        }
        EXPECT_DOUBLE_EQ(kraft, 1.0) << "limit " << limit;
    }
    EXPECT_EQ(LimitedHuffmanLengths({5}, 8), std::vector<uint32_t>{1});
    EXPECT_EQ(LimitedHuffmanLengths({5, 1}, 8), (std::vector<uint32_t>{1, 1}));
}

}  // namespace
}  // namespace vorx
