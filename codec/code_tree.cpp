#include "codec/code_tree.h"

#include <cassert>
#include <cstdlib>
#include <cstring>

namespace vorx {

// ---------------------------------------------------------------------------
// CodeTree

bool CodeTree::Build(const SymbolEntry* entries, size_t count) {
    size_t used = 0;
    while (used < count && entries[used].weight != 0) ++used;
    // The root, one node for each of the first two symbols, two for every later one:
    // all in one array, made before the first insertion, so that node addresses stay.
    count_ = 0;
    maxDepth_ = 0;
    if (!nodes_.Reserve(used < 2 ? used + 1 : 2 * used)) return false;
    Take(kInnerNodeMarker, 0, 0, 0);
    for (size_t i = 0; i < used && i < 2; ++i) HangFromRoot(entries[i].symbol, entries[i].weight);
    for (size_t i = 2; i < used; ++i) SplitLighterLeaf(entries[i].symbol, entries[i].weight);
    return true;
}

// A node from the room Build has made.
inline CodeTreeNode* CodeTree::Take(uint32_t value, uint32_t weight, uint32_t code,
                                    uint32_t codeLength) {
    assert(count_ < nodes_.capacity());
    CodeTreeNode* node = nodes_.get() + count_++;
    *node = CodeTreeNode{nullptr, nullptr, value, weight, code, codeLength};
    return node;
}

// A root that lacks a child: the leaf hangs right if the right is free, else left. No
// weight changes.
void CodeTree::HangFromRoot(uint32_t symbol, uint32_t weight) {
    CodeTreeNode* const root = nodes_.get();
    const bool right = !root->right;
    CodeTreeNode* leaf = Take(symbol, weight, right ? 1u : 0u, 1);
    (right ? root->right : root->left) = leaf;
    maxDepth_ = 1;
}

// A root with both children: the walk to the lighter child and the split of the leaf
// it reaches, in one pass. The new weight is added to each node on the way down (every
// one of them is an ancestor of the leaf that is split, the root included), so no walk
// back up is needed; a node's weight changes only after the choice between its
// children has been made, so the choices are those of the walk that adds the weight
// afterwards.
void CodeTree::SplitLighterLeaf(uint32_t symbol, uint32_t weight) {
    CodeTreeNode* node = nodes_.get();
    assert(node->left && node->right);
    do {
        node->weight += weight;
        node = node->right->weight > node->left->weight ? node->left : node->right;
    } while (node->left);
    const uint32_t leafWeight = node->weight;
    node->weight += weight;
    // Codes deeper than 32 steps keep their first 32 bits; the depth is always exact.
    const uint32_t depth = node->codeLength + 1;
    const uint32_t bit = node->codeLength < 32 ? 1u << node->codeLength : 0u;
    CodeTreeNode* old = Take(node->value, leafWeight, 0, depth);
    CodeTreeNode* added = Take(symbol, weight, 0, depth);
    CodeTreeNode* zero = weight <= leafWeight ? added : old;
    CodeTreeNode* one = weight <= leafWeight ? old : added;
    node->left = zero;
    node->right = one;
    node->value = kInnerNodeMarker;
    zero->code = node->code;
    one->code = node->code | bit;
    if (depth > maxDepth_) maxDepth_ = depth;
}

// ---------------------------------------------------------------------------
// DecodeTable

bool DecodeTable::Build(const CodeTree& tree, uint32_t rootBits, uint32_t* storage,
                        uint32_t valueMask) {
    assert(tree.root() && storage);
    valueMask_ = valueMask;
    rootBits_ = rootBits < kMaxRootBits ? rootBits : kMaxRootBits;
    entries_ = storage;
    const size_t size = size_t{1} << rootBits_;
    // Every entry may name a node of its own to walk on from.
    if (!links_.Reserve(size)) return false;
    linkCount_ = 0;
    plain_ = true;
    // A tree no deeper than the table decides each entry by the low bits up to its
    // deepest leaf: those entries are filled, then copied up to the table's size.
    fillBits_ = tree.maxDepth() < rootBits_ ? tree.maxDepth() : rootBits_;
    Fill(tree.root(), tree.nodeCount());
    for (size_t filled = size_t{1} << fillBits_; filled < size; filled *= 2) {
        // In pieces of at most 1 KiB, which a memcpy copies with vector moves.
        for (size_t at = 0; at < filled; at += 256) {
            const size_t n = filled - at < 256 ? filled - at : 256;
            std::memcpy(entries_ + filled + at, entries_ + at, n * sizeof(uint32_t));
        }
    }
    return true;
}

void DecodeTable::FillStrided(uint32_t first, uint32_t depth, uint32_t entry) {
    const uint32_t size = 1u << fillBits_;
    const uint32_t stride = 1u << depth;
    uint32_t i = first;
    // Four stores a round: the fill of the tables is most of a small block's setup.
    for (; i + 3 * stride < size; i += 4 * stride) {
        entries_[i] = entry;
        entries_[i + stride] = entry;
        entries_[i + 2 * stride] = entry;
        entries_[i + 3 * stride] = entry;
    }
    for (; i < size; i += stride) entries_[i] = entry;
}

uint32_t DecodeTable::LinkTo(const CodeTreeNode* node, uint32_t depth) {
    plain_ = false;
    links_.get()[linkCount_] = node;
    return (linkCount_++ << kValueShift) | (kLink << kKindShift) | depth;
}

// Fills the entries of the low fillBits_ bits from the tree's nodes: each leaf no deeper
// than the filled bits fills the entries of its code, each inner node at the table's
// depth links, and a missing child (only the root lacks one) fills its entries as walks
// that find no leaf. Codes deeper than the table are reached through the links. A loop
// over the node array rather than a recursion: it is most of the setup of a small block.
void DecodeTable::Fill(const CodeTreeNode* nodes, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const CodeTreeNode* node = nodes + i;
        const uint32_t depth = node->codeLength;
        if (depth > fillBits_) continue;
        if (node->IsLeaf()) {
            const uint32_t value = node->value & valueMask_;
            FillStrided(node->code, depth,
                        value <= kLargestTableValue
                            ? (value << kValueShift) | (kLeaf << kKindShift) | depth
                            : LinkTo(node, depth));
        } else if (depth == rootBits_) {
            entries_[node->code] = LinkTo(node, depth);
        } else if (!node->left || !node->right) {
            plain_ = false;
            const uint32_t missing = node->left ? node->code | (1u << depth) : node->code;
            FillStrided(missing, depth + 1, (kNoLeaf << kKindShift) | (depth + 1));
        }
    }
}

uint64_t DecodeTable::Finish(uint32_t entry, const uint8_t* buffer, uint32_t bitPosition,
                             uint32_t limitBits) const {
    bitPosition += entry & kBitsMask;
    const uint32_t kind = (entry & kKindMask) >> kKindShift;
    uint32_t symbol = kNoLeafSymbol;
    if (kind == kLeaf) {
        symbol = Value(entry);
    } else if (kind == kLink) {
        const CodeTreeNode* node = links_.get()[Value(entry)];
        while (!node->IsLeaf()) {
            if (bitPosition >= limitBits) return kWalkPastLimit;
            const uint32_t bit = (buffer[bitPosition >> 3] >> (bitPosition & 7)) & 1u;
            ++bitPosition;
            node = bit ? node->right : node->left;
            if (!node) break;
        }
        if (node) symbol = node->value;
    }
    return (static_cast<uint64_t>(bitPosition) << 32) | symbol;
}

}  // namespace vorx
