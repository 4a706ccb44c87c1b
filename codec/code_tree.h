// Symbol tables and the code trees built from them.
//
// A block sends each of its four alphabets (flags, literals, match lengths, slot
// selectors) as a table of (weight, symbol) entries. The code tree is grown by
// inserting the entries in table order, each new symbol splitting the leaf reached by
// always stepping to the lighter child; encoder and decoder must build the same shape,
// so the insertion rule, its tie-breaks and the order of children are fixed:
//
//   - The walk starts at the root and, while the node has both children, steps right
//     unless the right child is heavier than the left (unsigned compare; ties go right).
//   - A walk that ends at the root (which lacks a child) hangs a new leaf there: as the
//     right child if the root has none, else as the left child.
//   - Otherwise the leaf reached is split: a copy of it and the new symbol become its
//     children, the new symbol on the left (0) when its weight is at most the leaf's,
//     else on the right (1); the leaf turns into an inner node and the new weight is
//     added to it and to every ancestor up to the root.
//
// CodeTree keeps the tree as linked nodes, which also records each leaf's code (the
// bits of its path, first step in bit 0) for an encoder. DecodeTable derives from a
// tree the lookup table a decoder uses: several bits per lookup, with a walk of the
// nodes for the rare codes longer than the table, giving exactly what the bit-by-bit
// walk of CodeTree::DecodeSymbol gives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vorx {

// The value of the root and of every inner node. A tree whose root has no children
// decodes every symbol as this value without reading a bit.
constexpr uint32_t kInnerNodeMarker = 100000;
// The result of a walk that steps to a missing child (or of a tree without a root).
constexpr uint32_t kNoLeafSymbol = 0xFFFFFFFFu;

struct SymbolEntry {
    uint32_t weight;
    uint32_t symbol;
};

class SymbolTable {
public:
    SymbolTable() = default;
    ~SymbolTable() { Destroy(); }
    SymbolTable(const SymbolTable&) = delete;
    SymbolTable& operator=(const SymbolTable&) = delete;

    // Makes `count` entries, entry i being (weight 0, symbol i); a count below 1 makes
    // none. Memory of an earlier Create is reused when it is large enough. Returns
    // false when the memory cannot be had (the table is then empty).
    bool Create(int32_t count);
    // Makes room for `count` entries without filling them and leaves the table empty;
    // a reader writes the entries it has and then sets the count with SetCount. Returns
    // false when the memory cannot be had.
    bool Allocate(int32_t count);
    void SetCount(int32_t count) { count_ = count; }
    // Frees the entries.
    void Destroy();

    int32_t count() const { return count_; }
    SymbolEntry* entries() { return entries_; }
    const SymbolEntry* entries() const { return entries_; }
    SymbolEntry& operator[](size_t i) { return entries_[i]; }
    const SymbolEntry& operator[](size_t i) const { return entries_[i]; }

private:
    SymbolEntry* entries_ = nullptr;
    int32_t count_ = 0;
    size_t capacity_ = 0;
};

struct CodeTreeNode {
    CodeTreeNode* parent;  // null for the root
    CodeTreeNode* left;    // child reached by a 0 bit
    CodeTreeNode* right;   // child reached by a 1 bit
    uint32_t value;        // a leaf's symbol; kInnerNodeMarker in the root and inner nodes
    uint32_t weight;       // a leaf's weight; the summed weight of an inner node's leaves
    uint32_t code;         // path bits from the root, first step in bit 0 (the first 32 steps)
    uint32_t codeLength;   // depth: number of steps from the root

    bool IsLeaf() const { return !left && !right; }
};

class CodeTree {
public:
    CodeTree() = default;
    ~CodeTree();
    CodeTree(const CodeTree&) = delete;
    CodeTree& operator=(const CodeTree&) = delete;

    // Creates the root and inserts the table's entries in order, stopping at the end of
    // the table or at the first entry of weight 0. Returns false when memory cannot be
    // had; the tree is then empty (no root).
    bool BuildFromTable(const SymbolTable& table);
    bool BuildFromEntries(const SymbolEntry* entries, size_t count);

    // The construction steps (see the top of this file). The tree must have a root.
    // They return false only when a node cannot be allocated.
    bool InsertSymbol(uint32_t symbol, uint32_t weight);
    bool SplitLeaf(CodeTreeNode* leaf, uint32_t symbol, uint32_t weight);
    // Sets a node's code and codeLength from its parent's.
    static void AssignCode(CodeTreeNode* node);

    // The bit-by-bit walk from the root: reads one bit per step (1 right, 0 left) until
    // a node without children, whose value it returns; a step to a missing child
    // returns kNoLeafSymbol with the bits read so far consumed; a tree without a root
    // returns kNoLeafSymbol. Advances the position by the bits read. It does not look
    // at the end of the buffer.
    uint32_t DecodeSymbol(const uint8_t* buffer, uint32_t& bitPosition) const;

    // Frees every node; the tree has no root afterwards.
    void Destroy();
    // Forgets every node but keeps their memory for the next build.
    void Clear();

    const CodeTreeNode* root() const { return root_; }
    // The tree's nodes as one array in the order they were made, the root first, when
    // they lie in one (as every tree BuildFromEntries makes does); else null.
    const CodeTreeNode* NodeArray(size_t* count) const;
    // Depth of the deepest leaf (0 when the root has no children).
    uint32_t maxDepth() const { return maxDepth_; }
    // Number of symbol leaves (the root of a childless tree is not one).
    size_t leafCount() const { return leafCount_; }

private:
    struct Chunk;
    CodeTreeNode* NewNode(CodeTreeNode* parent, uint32_t value, uint32_t weight);
    CodeTreeNode* TakeNode(CodeTreeNode* parent, uint32_t value, uint32_t weight);
    bool Reserve(size_t nodes);
    void Descend(uint32_t symbol, uint32_t weight);

    CodeTreeNode* root_ = nullptr;
    uint32_t maxDepth_ = 0;
    size_t leafCount_ = 0;
    Chunk* chunks_ = nullptr;  // node memory; the first chunk is the one being filled
};

// Lookup table of a code tree: entry i holds the result of walking the low `rootBits`
// bits of i from the root. An entry is one 32-bit word:
//   bits 0-7   the number of bits the entry consumes (at most rootBits)
//   bits 8-29  its value (below)
//   bits 30-31 its kind: kLeaf (the value is the symbol), kNoLeaf (the walk met a
//              missing child: the symbol is kNoLeafSymbol), kLink (the walk reached a
//              node, links()[value], from which it goes on bit by bit)
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

    DecodeTable() = default;
    ~DecodeTable();
    DecodeTable(const DecodeTable&) = delete;
    DecodeTable& operator=(const DecodeTable&) = delete;

    // Derives the table of `tree` (which must outlive the table's use), looking up
    // `rootBits` bits at once (at most kMaxRootBits). The 2^rootBits entries go to
    // `storage` when given (so that a decoder can keep several tables at fixed places
    // in one array), else to memory of the table's own. Returns false when memory
    // cannot be had. The symbols of the table's leaves are kept as symbol & valueMask
    // (a decoder that uses only some bits of a symbol has them without masking; walks
    // beyond the table give the whole symbol).
    bool Build(const CodeTree& tree, uint32_t rootBits, uint32_t* storage = nullptr,
               uint32_t valueMask = ~0u);

    uint32_t rootBits() const { return rootBits_; }
    uint32_t mask() const { return (1u << rootBits_) - 1u; }
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

    // One whole decode at `bitPosition`, bounded like Finish. The buffer must be
    // readable for 8 bytes from byte bitPosition / 8.
    bool Decode(const uint8_t* buffer, uint32_t& bitPosition, uint32_t limitBits,
                uint32_t* symbol) const;

private:
    void Fill(const CodeTreeNode* node, uint32_t depth, uint32_t code);
    void FillFromArray(const CodeTreeNode* nodes, size_t count);
    void FillStrided(uint32_t first, uint32_t depth, uint32_t entry);
    uint32_t LinkTo(const CodeTreeNode* node, uint32_t depth);

    uint32_t* entries_ = nullptr;  // the table: own memory or the caller's storage
    uint32_t* own_ = nullptr;
    size_t ownCapacity_ = 0;
    const CodeTreeNode** links_ = nullptr;
    size_t linkCapacity_ = 0;
    uint32_t linkCount_ = 0;
    uint32_t rootBits_ = 0;
    uint32_t fillBits_ = 0;
    uint32_t valueMask_ = ~0u;
    bool plain_ = false;  // the low bits that decide an entry: min(deepest leaf, rootBits_)
};

}  // namespace vorx
