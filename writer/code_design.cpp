#include "writer/code_design.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "codec/bit_writer.h"

namespace vorx {
namespace {

// Largest weight a design uses: far below the escape code's limit, so that no inner
// node's summed weight can wrap around.
constexpr uint32_t kMaxDesignWeight = 1u << 22;

struct Candidate {
    std::vector<uint32_t> weights;  // aligned with the count-sorted order
};

}  // namespace

std::vector<uint32_t> LimitedHuffmanLengths(const std::vector<uint64_t>& counts, uint32_t limit) {
    const size_t n = counts.size();
    std::vector<uint32_t> lengths(n, 0);
    if (n == 0) return lengths;
    if (n == 1) {
        lengths[0] = 1;
        return lengths;
    }
    // Huffman's construction with two queues over the counts in ascending order.
    std::vector<size_t> order(n);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return counts[a] < counts[b]; });
    std::vector<uint64_t> weight(2 * n - 1);
    std::vector<size_t> parent(2 * n - 1, 0);
    for (size_t i = 0; i < n; ++i) weight[i] = counts[order[i]];
    size_t leaf = 0, inner = n, next = n;
    auto takeSmallest = [&]() {
        if (leaf < n && (inner >= next || weight[leaf] <= weight[inner])) return leaf++;
        return inner++;
    };
    while (next < 2 * n - 1) {
        const size_t a = takeSmallest();
        const size_t b = takeSmallest();
        weight[next] = weight[a] + weight[b];
        parent[a] = parent[b] = next;
        ++next;
    }
    std::vector<uint32_t> depth(2 * n - 1, 0);
    for (size_t i = 2 * n - 2; i-- > 0;) depth[i] = depth[parent[i]] + 1;

    // Histogram of lengths; lengths beyond the limit are folded back the classic way:
    // two codes of the deepest level become one a level up, and a shallower code is
    // split to make room for the second.
    uint32_t maxLength = 0;
    for (size_t i = 0; i < n; ++i) maxLength = std::max(maxLength, depth[i]);
    std::vector<uint64_t> perLength(std::max(maxLength, limit) + 2, 0);
    for (size_t i = 0; i < n; ++i) ++perLength[depth[i]];
    for (uint32_t len = maxLength; len > limit; --len) {
        while (perLength[len] > 0) {
            uint32_t j = len - 2;
            while (perLength[j] == 0) --j;
            perLength[len] -= 2;
            perLength[len - 1] += 1;
            perLength[j + 1] += 2;
            perLength[j] -= 1;
        }
    }
    // Shortest lengths to the most frequent symbols (the end of `order`).
    size_t k = n;
    for (uint32_t len = 1; len < perLength.size(); ++len)
        for (uint64_t c = 0; c < perLength[len]; ++c) lengths[order[--k]] = len;
    return lengths;
}

bool DesignAlphabet(const std::vector<SymbolCount>& counts, SymbolFieldBits symbolBits,
                    uint32_t context, int effort, CodeTree& tree, AlphabetDesign* design) {
    *design = AlphabetDesign{};
    const size_t n = counts.size();
    design->codes.assign(n, SymbolCode{});
    if (n == 0) return true;

    // Most frequent first; equal counts by symbol, so that designs are reproducible.
    std::vector<size_t> order(n);
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        if (counts[a].count != counts[b].count) return counts[a].count > counts[b].count;
        return counts[a].symbol < counts[b].symbol;
    });
    // Symbol -> input index, for reading the codes off the tree's leaves.
    std::vector<std::pair<uint32_t, uint32_t>> bySymbol(n);
    for (size_t i = 0; i < n; ++i) bySymbol[i] = {counts[i].symbol, static_cast<uint32_t>(i)};
    std::sort(bySymbol.begin(), bySymbol.end());

    uint64_t symbolFieldBits = 0;
    for (size_t i = 0; i < n; ++i) symbolFieldBits += symbolBits(counts[i].symbol, context);

    if (n == 1) {
        design->table.push_back(SymbolEntry{1, counts[0].symbol});
        design->codes[0] = SymbolCode{1, 1};
        design->tableBits = symbolFieldBits + BitWriter::EscapedNumberBits(1);
        design->dataBits = counts[0].count;
        design->maxLength = 1;
        return true;
    }

    std::vector<Candidate> candidates;
    // Weights 2^(deepest - length) from Huffman code lengths, most frequent first: the
    // lighter-child insertion then tends to rebuild the Huffman shape. Shallower limits
    // trade a little code length for cheaper weights.
    std::vector<uint64_t> sortedCounts(n);
    for (size_t i = 0; i < n; ++i) sortedCounts[i] = counts[order[i]].count;
    uint32_t minLimit = 1;
    while ((size_t{1} << minLimit) < n) ++minLimit;
    const uint32_t topLimit = std::max<uint32_t>(minLimit, 22);
    std::vector<uint32_t> lastLengths;
    const int extraLimits = effort >= 2 ? 6 : effort == 1 ? 3 : 1;
    uint32_t limit = topLimit;
    for (int tries = 0; tries <= extraLimits && limit >= minLimit; ++tries) {
        std::vector<uint32_t> lengths = LimitedHuffmanLengths(sortedCounts, limit);
        const uint32_t deepest = *std::max_element(lengths.begin(), lengths.end());
        if (lengths != lastLengths) {
            Candidate c;
            c.weights.resize(n);
            for (size_t i = 0; i < n; ++i) c.weights[i] = 1u << (deepest - lengths[i]);
            candidates.push_back(std::move(c));
            lastLengths = std::move(lengths);
        }
        limit = deepest - 1;
    }
    // Flat weights: a balanced tree, 2 bits a weight.
    candidates.push_back(Candidate{std::vector<uint32_t>(n, 1)});
    // Counts scaled into the ranges the escape code sends in 2, 5, 10 and 18 bits.
    const uint64_t top = sortedCounts[0];
    for (uint32_t range : {3u, 10u, 41u, 296u}) {
        if (effort == 0 && range > 41) break;
        Candidate c;
        c.weights.resize(n);
        for (size_t i = 0; i < n; ++i) {
            const double scaled = std::floor(static_cast<double>(sortedCounts[i]) * range /
                                                 static_cast<double>(top) + 0.5);
            c.weights[i] = static_cast<uint32_t>(std::clamp(scaled, 1.0, double{kMaxDesignWeight}));
        }
        candidates.push_back(std::move(c));
    }

    std::vector<SymbolEntry> entries(n);
    std::vector<SymbolCode> codes(n);
    uint64_t bestTotal = UINT64_MAX;
    for (const Candidate& candidate : candidates) {
        uint64_t tableBits = symbolFieldBits;
        for (size_t i = 0; i < n; ++i) {
            entries[i] = SymbolEntry{candidate.weights[i], counts[order[i]].symbol};
            tableBits += BitWriter::EscapedNumberBits(candidate.weights[i]);
        }
        if (!tree.BuildFromEntries(entries.data(), n)) return false;
        if (tree.maxDepth() > kMaxCodeLength) continue;
        uint64_t dataBits = 0;
        tree.ForEachLeaf([&](const CodeTreeNode& leaf) {
            auto it = std::lower_bound(bySymbol.begin(), bySymbol.end(),
                                       std::make_pair(leaf.value, uint32_t{0}));
            const uint32_t index = it->second;
            codes[index] = SymbolCode{leaf.code, leaf.codeLength};
            dataBits += counts[index].count * leaf.codeLength;
        });
        if (tableBits + dataBits < bestTotal) {
            bestTotal = tableBits + dataBits;
            design->table = entries;
            design->codes = codes;
            design->tableBits = tableBits;
            design->dataBits = dataBits;
            design->maxLength = tree.maxDepth();
        }
    }
    // The flat candidate always fits: n symbols of a balanced tree need far fewer than
    // 32 levels.
    return bestTotal != UINT64_MAX;
}

}  // namespace vorx
