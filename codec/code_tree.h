// Symbol tables and the code trees built from them.
//
// A block sends each of its four alphabets (flags, literals, match lengths, slot
// selectors) as a table of (weight, symbol) entries. The code tree is grown by
// inserting the entries in table order, up to the first entry of weight 0; encoder and
// decoder must build the same shape, so the insertion rule, its tie-breaks and the
// order of children are fixed:
//
//   - A root that lacks a child takes the new symbol as a leaf of its own: as its right
//     child if it has none, else as its left child. (So the first symbol hangs right
//     and the second left, whatever their weights.)
//   - Otherwise the walk starts at the root and, while the node has both children,
//     steps right unless the right child is heavier than the left (unsigned compare;
//     ties go right). The leaf reached is split: a copy of it and the new symbol become
//     its children, the new symbol on the left (0) when its weight is at most the
//     leaf's, else on the right (1); the leaf turns into an inner node, and the new
//     weight is added to it and to every ancestor up to the root.
//
// A walk of the tree reads one bit per step (1 right, 0 left) until a node without
// children, whose value is the symbol; a step to a missing child finds no leaf. A tree
// whose root has no children decodes every symbol as kInnerNodeMarker without reading
// a bit. CodeTree keeps the tree with each node's code (the bits of its path, first
// step in bit 0), which the compressor's table designer prices; DecodeTable derives
// from it the lookup table a decoder uses: several bits per lookup, with a walk of the
// nodes for the rare codes longer than the table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace vorx {

// Memory for n elements of T that a table or tree keeps from one block to the next: it
// grows when a block needs more, and what it held before is not kept.
template <typename T>
class ScratchArray {
public:
    // False when the memory cannot be had (the array is then empty).
    bool Reserve(size_t n) {
        if (n <= capacity_) return true;
        memory_.reset();
        capacity_ = 0;
        if (n > SIZE_MAX / sizeof(T)) return false;
        memory_.reset(static_cast<T*>(std::malloc(n * sizeof(T))));
        if (memory_) capacity_ = n;
        return memory_ != nullptr;
    }
    T* get() const { return memory_.get(); }
    size_t capacity() const { return capacity_; }

private:
    struct Free {
        void operator()(T* p) const { std::free(p); }
    };
    std::unique_ptr<T, Free> memory_;
    size_t capacity_ = 0;
};

// The value of the root and of every inner node.
constexpr uint32_t kInnerNodeMarker = 100000;
// The result of a walk that steps to a missing child.
constexpr uint32_t kNoLeafSymbol = 0xFFFFFFFFu;

struct SymbolEntry {
    uint32_t weight;
    uint32_t symbol;
};

class SymbolTable {
public:
    // Makes room for `count` entries without filling them and leaves the table empty;
    // a reader writes the entries it has and then sets the count with SetCount. Memory
    // of an earlier call is reused when it is large enough. Returns false when the
    // memory cannot be had.
    bool Allocate(int32_t count) {
        count_ = 0;
        return entries_.Reserve(count > 0 ? static_cast<size_t>(count) : 0);
    }
    void SetCount(int32_t count) { count_ = count; }

    int32_t count() const { return count_; }
    const SymbolEntry* entries() const { return entries_.get(); }
    SymbolEntry& operator[](size_t i) { return entries_.get()[i]; }

private:
    ScratchArray<SymbolEntry> entries_;
    int32_t count_ = 0;
};

struct CodeTreeNode {
    CodeTreeNode* left;   // child reached by a 0 bit
    CodeTreeNode* right;  // child reached by a 1 bit
    uint32_t value;       // a leaf's symbol; kInnerNodeMarker in the root and inner nodes
    uint32_t weight;      // a leaf's weight; the summed weight of an inner node's leaves
    uint32_t code;        // path bits from the root, first step in bit 0 (the first 32 steps)
    uint32_t codeLength;  // depth: number of steps from the root

    bool IsLeaf() const { return !left && !right; }
};

class CodeTree {
public:
    // Grows the tree of the entries by the rule above, stopping at the end of the
    // entries or at the first of weight 0. Memory of an earlier build is reused when
    // it is large enough. Returns false when memory cannot be had; the tree then has
    // no root.
    bool Build(const SymbolEntry* entries, size_t count);
    bool Build(const SymbolTable& table) {
        return Build(table.entries(), table.count() > 0 ? static_cast<size_t>(table.count()) : 0);
    }

    // The nodes in the order they were made, the root first (null: no root).
    const CodeTreeNode* root() const { return count_ ? nodes_.get() : nullptr; }
    size_t nodeCount() const { return count_; }
    // Depth of the deepest leaf (0 when the root has no children).
    uint32_t maxDepth() const { return maxDepth_; }

private:
    CodeTreeNode* Take(uint32_t value, uint32_t weight, uint32_t code, uint32_t codeLength);
    void HangFromRoot(uint32_t symbol, uint32_t weight);
    void SplitLighterLeaf(uint32_t symbol, uint32_t weight);

    ScratchArray<CodeTreeNode> nodes_;
    size_t count_ = 0;
    uint32_t maxDepth_ = 0;
};

// Lookup table of a code tree: entry i holds the result of walking the low `rootBits`
// bits of i from the root. An entry is one 32-bit word:
//   bits 0-7   the number of bits the entry consumes (at most rootBits)
//   bits 8-29  its value (below)
//   bits 30-31 its kind: kLeaf (the value is the symbol), kNoLeaf (the walk met a
//              missing child: the symbol is kNoLeafSymbol), kLink (the walk reached
//              node number `value` of the table's links, from which it goes on bit
//              by bit)
// The bit count fills the low byte alone and a plain leaf has no kind bits, so a
// decoder takes the count with one byte move and the symbol with one shift.
class DecodeTable {
public:
    static constexpr uint32_t kMaxRootBits = 12;
    static constexpr uint32_t kBitsMask = 0xFF;
    static constexpr uint32_t kKindShift = 30;
    static constexpr uint32_t kKindMask = 3u << kKindShift;
    static constexpr uint32_t kLeaf = 0;
    static constexpr uint32_t kNoLeaf = 1;
    static constexpr uint32_t kLink = 2;
    static constexpr uint32_t kValueShift = 8;
    static constexpr uint32_t kLargestTableValue = (1u << (kKindShift - kValueShift)) - 1;
    static uint32_t Value(uint32_t entry) { return (entry & ~kKindMask) >> kValueShift; }

    // Derives the table of `tree` (which must have a root and outlive the table's use),
    // looking up `rootBits` bits at once (at most kMaxRootBits), into the 2^rootBits
    // words at `storage` (so that a decoder can keep several tables at fixed places in
    // one array). Returns false when memory cannot be had. The symbols of the table's
    // leaves are kept as symbol & valueMask (a decoder that uses only some bits of a
    // symbol has them without masking; walks beyond the table give the whole symbol).
    bool Build(const CodeTree& tree, uint32_t rootBits, uint32_t* storage, uint32_t valueMask);

    const uint32_t* entries() const { return entries_; }
    static bool IsPlainLeaf(uint32_t entry) { return entry < (1u << kKindShift); }
    // Whether every entry is a plain leaf: each code is in the table's reach (the tree
    // is no deeper than the table, has no missing child and no symbol too large).
    bool plain() const { return plain_; }

    // Finishes a decode whose entry is not a plain leaf: consumes the entry's bits, then
    // walks on from its node, reading only bits below `limitBits`. Returns the new bit
    // position in the high half and the symbol in the low half, or kWalkPastLimit when
    // the walk would read a bit at or past the limit. (A value rather than out-arguments
    // keeps a decoder's position in a register.)
    static constexpr uint64_t kWalkPastLimit = ~uint64_t{0};
    uint64_t Finish(uint32_t entry, const uint8_t* buffer, uint32_t bitPosition,
                    uint32_t limitBits) const;

private:
    void Fill(const CodeTreeNode* nodes, size_t count);
    void FillStrided(uint32_t first, uint32_t depth, uint32_t entry);
    uint32_t LinkTo(const CodeTreeNode* node, uint32_t depth);

    uint32_t* entries_ = nullptr;              // the caller's storage
    ScratchArray<const CodeTreeNode*> links_;  // the nodes that kLink entries name
    uint32_t linkCount_ = 0;
    uint32_t rootBits_ = 0;
    uint32_t fillBits_ = 0;  // the low bits that decide an entry: min(deepest leaf, rootBits_)
    uint32_t valueMask_ = ~0u;
    bool plain_ = false;
};

}  // namespace vorx
