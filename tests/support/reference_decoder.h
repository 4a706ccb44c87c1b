// A literal, slow implementation of the block format for the tests: its own code trees
// (linked nodes walked one bit at a time), its own context model (a full table cleared
// by a fill, the look-ahead before the slot update, the snapshot of the bucket), and a
// byte-by-byte match copy. The fast decoder must agree with it bit for bit.
//
// Its bounds follow the product's rules: a table field or code that consumes a bit at
// or past `limitBits` is corrupt (3), output beyond `capacity` is corrupt (3).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "library/vorx.h"

namespace reference {

constexpr uint32_t kInnerNodeMarker = 100000;
constexpr uint32_t kNoLeaf = 0xFFFFFFFFu;

struct Entry {
    uint32_t weight;
    uint32_t symbol;
};

struct Node {
    Node* parent = nullptr;
    Node* left = nullptr;
    Node* right = nullptr;
    uint32_t value = kInnerNodeMarker;
    uint32_t weight = 0;
};

// The bits of the path from the root to `node`, in stream order.
std::vector<uint8_t> PathOf(const Node* node);

// The code tree grown by insertion, exactly as the format describes it.
class Tree {
public:
    void Build(const std::vector<Entry>& table);
    // Walks one bit at a time from the root. Sets *overread (and stops) when the walk
    // would read a bit at or past limitBits.
    uint32_t Decode(const uint8_t* buffer, uint32_t& pos, uint32_t limitBits, bool* overread) const;
    const Node* root() const { return root_; }
    // Every symbol leaf, left to right.
    std::vector<const Node*> Leaves() const;

private:
    Node* NewNode(Node* parent, uint32_t value, uint32_t weight);
    void Insert(uint32_t symbol, uint32_t weight);
    void Split(Node* leaf, uint32_t symbol, uint32_t weight);

    std::vector<std::unique_ptr<Node>> nodes_;
    Node* root_ = nullptr;
};

// The context table of the format, cleared by a fill.
class ContextModel {
public:
    static constexpr int64_t kEmpty = -1;
    ContextModel();
    void Clear();
    // The bucket selected at output position p (p >= 3) of `out`.
    uint32_t Select(const uint8_t* out, uint64_t p) const;
    int64_t Position(uint32_t bucket, uint32_t slot) const { return slots_[bucket * 4 + slot].position; }
    // The slot update of a step at position p: a match (selector 0-3) first stamps its
    // slot; then the slot of the smallest stamp takes p with stamp 0.
    void Update(uint32_t bucket, uint64_t p, int selector);
    void ResetStamps() { stamp_ = 100; }

private:
    struct Slot {
        int64_t position;
        uint32_t stamp;
    };
    std::vector<Slot> slots_;
    uint32_t stamp_ = 100;
};

struct BlockResult {
    vorx_Error code = vorx_Success;
    std::vector<uint8_t> output;
    std::vector<int> progress;  // percentages reported inside the block
    uint32_t stepCount = 0;
};

// Decodes one compressed block. `body` must be readable far past limitBits (the walk is
// bounded by limitBits, but whole-word field reads touch three more bytes).
// With a non-zero blockFraction, records the progress reports of the format.
BlockResult DecodeBlock(const uint8_t* body, uint32_t bitCount, uint32_t limitBits,
                        uint64_t capacity, float startFraction = 0.0f, float blockFraction = 0.0f,
                        bool reportProgress = false);

}  // namespace reference
