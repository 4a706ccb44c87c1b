// A literal, slow decoder of compressed blocks for the tests, written from the block's
// rules and sharing no code with the product: its own bit reading (one bit at a time),
// escape codes (a list of field widths), code trees (nodes in a vector, walked one bit
// at a time), context model (a full table of stamps, filled afresh for every block,
// and the snapshot of the bucket), progress arithmetic (in double, rounded to single
// precision per operation) and byte-by-byte match copy. The fast decoder must agree
// with it bit for bit.
//
// Its bounds follow the product's rules: a table field or code that consumes a bit at
// or past `limitBits` is corrupt (3), output beyond `capacity` is corrupt (3).
#pragma once

#include <cstdint>
#include <vector>

#include "library/vorx.h"

namespace reference {

struct Entry {
    uint32_t weight, symbol;
};

// A code tree grown by insertion: each symbol of the table, up to the first of weight
// 0, hangs from the root while the root lacks a child (right first), else splits the
// leaf reached by stepping to the lighter child (ties right), going left when it weighs
// no more than that leaf.
class Tree {
public:
    void Build(const std::vector<Entry>& table);
    // Walks one bit at a time from the root into *value; false when the walk would read
    // a bit at or past limitBits.
    bool Decode(const uint8_t* buffer, uint32_t& pos, uint32_t limitBits, uint32_t* value) const;

    struct Leaf {
        uint32_t symbol;
        std::vector<uint8_t> path;  // the bits from the root, in stream order
    };
    // Every symbol leaf, left to right.
    std::vector<Leaf> Leaves() const;

private:
    static constexpr int kNone = -1;
    struct Node {
        int parent, left, right;
        uint32_t value, weight;
    };
    std::vector<Node> nodes_;  // nodes_[0] is the root
};

struct BlockResult {
    vorx_Error code = vorx_Success;
    std::vector<uint8_t> output;
    std::vector<int> progress;  // percentages reported inside the block
};

// Decodes one compressed block. `body` must be readable far past limitBits (the walk is
// bounded by limitBits, but table fields may be read beyond it, as the product may).
// With `reportProgress`, records the reports a block makes about every hundredth of
// its entry: the block starts at `startFraction` of the entry's compressed size and
// takes `blockFraction` of it.
BlockResult DecodeBlock(const uint8_t* body, uint32_t bitCount, uint32_t limitBits,
                        uint64_t capacity, float startFraction = 0.0f, float blockFraction = 0.0f,
                        bool reportProgress = false);

}  // namespace reference
