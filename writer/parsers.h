// Parsers: how a block's bytes become steps (literals and matches).
//
// Every parser runs the decoder's context table (MatchModel) from an empty table at the
// block's start, so each match it records names a slot that holds its source when the
// decoder gets there. The first three steps of a block are literals (no context yet).
//
//   - Greedy: at each step the match that saves most over literals, else a literal.
//   - Lazy: greedy, except that a literal wins when the next position offers more.
//   - Optimal: a shortest path over the positions of a window, priced by the codes of
//     an earlier parse. Each position is reached by its cheapest step sequence, and the
//     context table at a position is the one that sequence leaves (found by walking it
//     back), so the matches a position offers are exactly those the decoder would see
//     on that path. The path is committed in part, and the next window starts there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "writer/prices.h"
#include "writer/match_model.h"

namespace vorx {

struct ParseOptions {
    uint32_t longest = kLongestMatch;  // longest match length to use
    uint32_t nice = 64;                // a match this long is taken at once
    uint32_t window = 128;             // optimal: positions priced per window
    uint32_t commit = 64;              // optimal: steps starting this far into it are kept
    // Optimal: what it costs to let a position leave the table before a later step
    // wants it (null: nothing). By position: the cost, and the step position until
    // which it applies.
    const uint32_t* keepValue = nullptr;
    const uint32_t* keepUntil = nullptr;
};

// From a parse of the block: which positions a later step would have liked to copy
// from (the best source among earlier steps of the same two-byte context) and what
// that would have saved, for ParseOptions::keepValue and keepUntil.
void FutureValues(const uint8_t* data, size_t n, const std::vector<Step>& steps,
                  const Prices& prices, uint32_t depth, std::vector<uint32_t>* value,
                  std::vector<uint32_t>* until);

// `scratch` is working memory (n + 1 sums).
void GreedyParse(MatchModel& model, const Prices& prices, const uint8_t* data, size_t n,
                 const ParseOptions& options, std::vector<Step>* steps,
                 std::vector<uint64_t>* scratch);

void LazyParse(MatchModel& model, const Prices& prices, const uint8_t* data, size_t n,
               const ParseOptions& options, std::vector<Step>* steps,
               std::vector<uint64_t>* scratch);

class OptimalParser {
public:
    OptimalParser() = default;
    OptimalParser(const OptimalParser&) = delete;
    OptimalParser& operator=(const OptimalParser&) = delete;

    void Run(MatchModel& model, const Prices& prices, const uint8_t* data, size_t n,
             const ParseOptions& options, std::vector<Step>* steps);

private:
    struct Node {
        uint32_t cost;       // of the cheapest way here from the window's start
        uint32_t parent;     // node the arriving step starts at
        uint32_t length;     // of the arriving step
        uint8_t slot;        // of the arriving step (kLiteralSlot for a literal)
        uint8_t flags;       // after the arriving step: flags taken from the current
                             // flag symbol (count << 3 | their bits)
        uint8_t pending;     // after it: 0, or 1 + the first selector of an open pair
        uint32_t selected;   // the bucket this node's step updates (kNoBucket below p 3)
        ModelBucket before;  // that bucket before this node's step, on the way here
    };
    static constexpr uint32_t kNoBucket = UINT32_MAX;
    static constexpr uint32_t kUnreached = UINT32_MAX;

    void Reach(size_t index);
    void Relax(uint32_t from, size_t to, uint32_t cost, uint32_t slot, uint32_t length);
    // The bucket `index` as the way to node `at` leaves it.
    ModelBucket BucketAt(uint32_t at, uint32_t index) const;
    struct LongMatch {
        size_t at;
        uint32_t length;  // 0: none
        uint32_t slot;
    };
    static uint8_t NextFlags(uint8_t flags, uint32_t slot);
    static uint8_t NextPending(uint8_t pending, uint32_t slot);
    // Prices the steps from node `at`; a match of at least `nice` bytes is reported
    // in `longMatch` instead (the longest one) and ends the window.
    void Expand(uint32_t at, LongMatch* longMatch);
    // Appends the step at node `from` and applies it to the table.
    void Commit(uint32_t from, uint32_t slot, uint32_t length, std::vector<Step>* steps);
    uint32_t EvictionCost(const ModelBucket& bucket, uint32_t victim, size_t p) const;

    MatchModel* model_ = nullptr;
    const Prices* prices_ = nullptr;
    const uint8_t* d_ = nullptr;
    size_t n_ = 0;
    ParseOptions options_;
    size_t start_ = 0;  // position of node 0
    std::vector<Node> nodes_;
    size_t reached_ = 0;  // nodes below this index are initialised
    std::vector<uint32_t> path_;
    // Buckets that a node of the window selects (only those need a walk back).
    std::vector<uint64_t> touched_;
    std::vector<uint32_t> touchedList_;
    std::vector<uint32_t> firstTouch_;  // by bucket: the first node that selected it
};

}  // namespace vorx
