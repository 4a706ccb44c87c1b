#include "writer/code_design.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <numeric>

#include "codec/bit_writer.h"

namespace vorx {
namespace {

// Largest weight a design uses: far below the escape code's limit, so that no inner
// node's summed weight can wrap around.
constexpr uint32_t kMaxDesignWeight = 1u << 22;

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

uint64_t TableDesigner::Grow(const std::vector<uint32_t>& weights) {
    const size_t n = weights.size();
    entries_.resize(n);
    for (size_t i = 0; i < n; ++i) entries_[i] = SymbolEntry{weights[i], static_cast<uint32_t>(i)};
    if (!tree_.Build(entries_.data(), n)) throw std::bad_alloc();
    if (tree_.maxDepth() > kMaxCodeLength) return UINT64_MAX;
    const CodeTreeNode* const nodes = tree_.root();
    uint64_t bits = 0;
    for (size_t i = 1; i < tree_.nodeCount(); ++i)
        if (nodes[i].IsLeaf()) bits += counts_[nodes[i].value] * nodes[i].codeLength;
    return bits;
}

uint64_t TableDesigner::Total(const std::vector<uint32_t>& weights) {
    const uint64_t data = Grow(weights);
    if (data == UINT64_MAX) return UINT64_MAX;
    uint64_t table = 0;
    for (uint32_t w : weights) table += BitWriter::EscapedNumberBits(w);
    return data + table;
}

void TableDesigner::Search(int effort, std::vector<uint32_t>* best) {
    const size_t n = counts_.size();
    uint64_t bestTotal = UINT64_MAX;
    auto consider = [&](std::vector<uint32_t>&& weights) {
        const uint64_t total = Total(weights);
        if (total < bestTotal) {
            bestTotal = total;
            *best = std::move(weights);
        }
    };
    // Flat weights: a balanced tree, 2 bits a weight. Always within the depth limit.
    consider(std::vector<uint32_t>(n, 1));
    // Counts scaled into the ranges the escape code sends in 2, 5, 10 and 18 bits.
    const uint64_t top = counts_[0];
    for (uint32_t range : {3u, 10u, 41u, 296u, 4391u}) {
        if (range > 41 && effort == 0) break;
        if (range > 296 && effort < 2) break;
        std::vector<uint32_t> weights(n);
        for (size_t i = 0; i < n; ++i) {
            const double scaled = std::floor(
                static_cast<double>(counts_[i]) * range / static_cast<double>(top) + 0.5);
            weights[i] = static_cast<uint32_t>(std::clamp(scaled, 1.0, double{kMaxDesignWeight}));
        }
        consider(std::move(weights));
    }
    // Weights 2^(deepest - length) from Huffman code lengths: the lighter-child
    // insertion then tends to rebuild the Huffman shape. Shallower limits trade a
    // little code length for cheaper weights.
    uint32_t minLimit = 1;
    while ((size_t{1} << minLimit) < n) ++minLimit;
    const int limits = effort >= 2 ? 6 : effort == 1 ? 3 : 2;
    uint32_t limit = std::max<uint32_t>(minLimit, 22);
    std::vector<uint32_t> lastLengths;
    for (int tries = 0; tries < limits && limit >= minLimit; ++tries) {
        std::vector<uint32_t> lengths = LimitedHuffmanLengths(counts_, limit);
        const uint32_t deepest = *std::max_element(lengths.begin(), lengths.end());
        if (lengths != lastLengths) {
            std::vector<uint32_t> weights(n);
            for (size_t i = 0; i < n; ++i) weights[i] = 1u << (deepest - lengths[i]);
            consider(std::move(weights));
            lastLengths = std::move(lengths);
        }
        limit = deepest - 1;
    }
}

void TableDesigner::Design(const std::vector<SymbolCount>& counts, SymbolFieldBits symbolBits,
                           uint32_t context, int effort, AlphabetDesign* design) {
    *design = AlphabetDesign{};
    const size_t n = counts.size();
    design->codes.assign(n, SymbolCode{});
    if (n == 0) return;

    design->tableBits = 0;
    for (size_t i = 0; i < n; ++i) design->tableBits += symbolBits(counts[i].symbol, context);
    if (n == 1) {
        design->table.push_back(SymbolEntry{1, counts[0].symbol});
        design->codes[0] = SymbolCode{1, 1};
        design->tableBits += BitWriter::EscapedNumberBits(1);
        design->dataBits = counts[0].count;
        design->maxLength = 1;
        return;
    }

    // Table order: most frequent first; equal counts by symbol, so that designs are
    // reproducible.
    order_.resize(n);
    std::iota(order_.begin(), order_.end(), 0u);
    std::sort(order_.begin(), order_.end(), [&](uint32_t a, uint32_t b) {
        if (counts[a].count != counts[b].count) return counts[a].count > counts[b].count;
        return counts[a].symbol < counts[b].symbol;
    });
    counts_.resize(n);
    for (size_t i = 0; i < n; ++i) counts_[i] = counts[order_[i]].count;

    std::vector<uint32_t> best;
    Search(effort, &best);
    // The chosen tree again, and its codes.
    design->dataBits = Grow(best);
    design->table.resize(n);
    for (size_t i = 0; i < n; ++i) {
        design->table[i] = SymbolEntry{best[i], counts[order_[i]].symbol};
        design->tableBits += BitWriter::EscapedNumberBits(best[i]);
    }
    const CodeTreeNode* const nodes = tree_.root();
    for (size_t i = 1; i < tree_.nodeCount(); ++i) {
        if (!nodes[i].IsLeaf()) continue;
        design->codes[order_[nodes[i].value]] = SymbolCode{nodes[i].code, nodes[i].codeLength};
    }
    design->maxLength = tree_.maxDepth();
}

}  // namespace vorx
