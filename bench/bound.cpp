#include "bench/bound.h"

#include <algorithm>
#include <array>

#include "container/format.h"
#include "writer/block_plan.h"
#include "writer/match_model.h"
#include "writer/compressor.h"
#include "writer/prices.h"

namespace vorx::bench {
namespace {

struct DeflateMatch {
    uint32_t at, source, length;
};

// The deflate-style lazy parse of one block (zlib's level-9 rules).
class DeflateParser {
public:
    void Run(const uint8_t* d, size_t n, std::vector<DeflateMatch>* out) {
        d_ = d;
        n_ = n;
        out->clear();
        head_.assign(kHashSize, -1);
        prev_.assign(n, -1);
        size_t i = 0;
        uint32_t matchLength = kMin - 1, matchStart = 0;
        while (i < n) {
            const int32_t candidate = Insert(i);
            const uint32_t prevLength = matchLength, prevMatch = matchStart;
            matchLength = kMin - 1;
            if (candidate >= 0 && prevLength < kMax && i - static_cast<size_t>(candidate) <= kMaxDistance) {
                matchLength = Longest(i, candidate, prevLength, &matchStart);
                if (matchLength == kMin && i - matchStart > kTooFar) matchLength = kMin - 1;
            }
            if (prevLength >= kMin && matchLength <= prevLength) {
                // The match found one position back wins over the one here.
                out->push_back(DeflateMatch{static_cast<uint32_t>(i - 1), prevMatch, prevLength});
                const size_t end = i - 1 + prevLength;
                for (size_t k = i + 1; k < end; ++k) Insert(k);
                i = end;
                matchLength = kMin - 1;
            } else {
                ++i;
            }
        }
    }

private:
    static constexpr uint32_t kMin = 3, kMax = 258, kChain = 4096, kGood = 32;
    static constexpr size_t kWindow = 32768, kMaxDistance = kWindow - 262, kTooFar = 4096;
    static constexpr uint32_t kHashSize = 1u << 15;

    int32_t Insert(size_t i) {
        if (i + kMin > n_) return -1;
        const uint32_t h = ((uint32_t{d_[i]} << 10) ^ (uint32_t{d_[i + 1]} << 5) ^ d_[i + 2]) & (kHashSize - 1);
        const int32_t before = head_[h];
        prev_[i] = before;
        head_[h] = static_cast<int32_t>(i);
        return before;
    }

    // The longest match at i longer than `best` along the chain from `candidate`.
    uint32_t Longest(size_t i, int32_t candidate, uint32_t best, uint32_t* start) const {
        uint32_t chain = best >= kGood ? kChain / 4 : kChain;
        const size_t limit = i > kMaxDistance ? i - kMaxDistance : 0;
        const size_t most = std::min<size_t>(kMax, n_ - i);
        if (best >= most) return best;
        for (int32_t c = candidate; c >= 0 && static_cast<size_t>(c) >= limit && chain-- > 0; c = prev_[c]) {
            const size_t s = static_cast<size_t>(c);
            if (d_[s + best] != d_[i + best]) continue;
            const uint32_t len = CommonLength(d_, s, i, most);
            if (len > best) {
                best = len;
                *start = static_cast<uint32_t>(s);
                if (len >= most) break;
            }
        }
        return best;
    }

    const uint8_t* d_ = nullptr;
    size_t n_ = 0;
    std::vector<int32_t> head_, prev_;
};

uint32_t TwoByteKey(const uint8_t* d, size_t q) { return IndicesAt(d, q).twoByte; }

// Bytes of a block as it would be written: compressed or stored, whichever is smaller.
uint64_t BlockBytes(const uint8_t* d, size_t n, const std::vector<Step>& steps, TableDesigner& designer) {
    const uint64_t stored = kBlockHeaderSize + PadTo16(n);
    BlockPlan plan;
    if (!PlanBlock(d, steps, 2, designer, &plan)) return stored;
    return std::min<uint64_t>(stored, kBlockHeaderSize + PadTo16((plan.totalBits + 7) / 8));
}

// Steps from a list of matches (ascending, not overlapping); the bytes between are
// literals. A match is (at, slot, length).
struct Kept {
    uint32_t at, slot, length;
};
void StepsOf(const std::vector<Kept>& kept, size_t n, std::vector<Step>* steps) {
    steps->clear();
    size_t p = 0;
    for (const Kept& k : kept) {
        for (; p < k.at; ++p) steps->push_back(0);
        steps->push_back(MatchStep(k.slot, k.length));
        p += k.length;
    }
    for (; p < n; ++p) steps->push_back(0);
}

// The cheapest parse when the table holds every earlier position of the bucket (no
// four-slot limit, every position a step start, every match priced as from slot 0,
// the longest source within a chain walk of kDepth), lengths up to 258 as deflate's:
// a shortest path over the block's positions with the prices of the given codes.
class UnlimitedParser {
public:
    void Run(const uint8_t* d, size_t n, const Prices& prices, std::vector<Step>* steps) {
        head_.assign(kContextBuckets, -1);
        prev_.assign(n, -1);
        cost_.assign(n + 1, UINT64_MAX);
        step_.assign(n + 1, 0);
        cost_[0] = 0;
        const uint64_t matchBase = uint64_t{prices.flagMean[1]} + prices.selectorMean[0];
        for (size_t p = 0; p < n; ++p) {
            const uint64_t here = cost_[p];
            const uint64_t literal = here + prices.flagMean[0] + prices.literal[d[p]];
            if (literal < cost_[p + 1]) {
                cost_[p + 1] = literal;
                step_[p + 1] = 0;
            }
            if (p < 3) continue;
            const ContextIndices keys = IndicesAt(d, p);
            const uint32_t key = keys.twoByte;
            const size_t most = std::min<size_t>(kLongest, n - p);
            uint32_t best = 0;
            // The two-byte bucket, and the three-byte one the decoder may select instead.
            for (uint32_t bucket : {key, keys.threeByte}) {
                if (bucket >= kContextBuckets || (bucket == key && best)) continue;
                uint32_t depth = kDepth;
                for (int32_t c = head_[bucket]; c >= 0 && depth-- > 0 && best < most; c = prev_[c]) {
                    const size_t s = static_cast<size_t>(c);
                    if (best && d[s + best] != d[p + best]) continue;
                    best = std::max(best, CommonLength(d, s, p, most));
                }
            }
            prev_[p] = head_[key];
            head_[key] = static_cast<int32_t>(p);
            for (uint32_t l = 2; l <= best; l = l < kAllLengths || l == best ? l + 1 : best) {
                const uint64_t c = here + matchBase + prices.LengthCost(l);
                if (c < cost_[p + l]) {
                    cost_[p + l] = c;
                    step_[p + l] = MatchStep(0, l);
                }
            }
        }
        steps->clear();
        for (size_t p = n; p > 0; p -= StepLength(step_[p])) steps->push_back(step_[p]);
        std::reverse(steps->begin(), steps->end());
    }

private:
    static constexpr uint32_t kDepth = 64, kLongest = 258, kAllLengths = 64;
    std::vector<int32_t> head_, prev_;
    std::vector<uint64_t> cost_;
    std::vector<Step> step_;
};

// The unlimited table's size of a block: parsed twice, the second time with the codes
// of the first.
uint64_t UnlimitedBytes(const uint8_t* d, size_t n, TableDesigner& designer) {
    static UnlimitedParser parser;
    Prices prices;
    DefaultPrices(d, n, &prices);
    std::vector<Step> steps;
    BlockPlan plan;
    for (int pass = 0; pass < 2; ++pass) {
        parser.Run(d, n, prices, &steps);
        if (!PlanBlock(d, steps, 2, designer, &plan)) return kBlockHeaderSize + PadTo16(n);
        PricesFromPlan(plan, n, &prices);
    }
    return std::min<uint64_t>(kBlockHeaderSize + PadTo16(n), kBlockHeaderSize + PadTo16((plan.totalBits + 7) / 8));
}

// The lost sources of our level-9 parse (bench/bound.h).
void AddLostSources(const uint8_t* d, size_t n, BoundFigures* f) {
    static MatchModel model;
    static Compressor compressor(9);
    EncodedBlock block;
    if (!compressor.EncodeBlock(d, n, &block)) return;
    f->parseBytes += kBlockHeaderSize + PadTo16(block.type == BlockType::Stored
                                                    ? block.sizeField
                                                    : (uint64_t{block.sizeField} + 7) / 8);
    const std::vector<Step>& steps = compressor.lastSteps();
    if (steps.empty()) return;
    constexpr uint32_t kDepth = 64, kLongest = 258, kWorthCopying = 4;
    model.Clear(d, n);
    // Every step start by bucket (head, previous), the one after it in its bucket, and
    // whether a match began there or copied from it.
    std::vector<int32_t> head(kContextBuckets, -1), previous(n, -1), next(n, -1);
    std::vector<int32_t> last(kContextBuckets, -1);
    std::vector<uint8_t> beginsMatch(n, 0), copied(n, 0);
    size_t p = 0, counted = 0;  // literal steps below `counted` belong to a counted copy
    for (const Step s : steps) {
        if (p >= 3) {
            const uint32_t bucket = model.Select(p);
            if (IsMatch(s)) {
                copied[model.Get(bucket).position[StepSlot(s)] - 1] = 1;
            } else if (p >= counted) {
                const size_t limit = std::min<size_t>(n - p, kLongest);
                uint32_t slots[4];
                model.Lengths(bucket, p, limit, slots);
                uint32_t best = 0;
                int32_t source = -1;
                uint32_t depth = kDepth;
                for (int32_t c = head[bucket]; c >= 0 && depth-- > 0; c = previous[c]) {
                    const uint32_t len = CommonLength(d, static_cast<size_t>(c), p, limit);
                    if (len > best) {
                        best = len;
                        source = c;
                    }
                }
                if (best >= kWorthCopying && *std::max_element(slots, slots + 4) < kWorthCopying) {
                    counted = p + best;
                    ++f->lost;
                    f->lostBytes += best;
                    const int32_t replacer = next[source];
                    if (!copied[source] && replacer >= 0) {
                        ++f->lostUnused;
                        const size_t r = static_cast<size_t>(replacer);
                        if (d[r] == d[static_cast<size_t>(source)]) {
                            ++f->lostRefreshable;
                            f->lostRefreshableBytes += best;
                        }
                        if (beginsMatch[r]) ++f->lostByMatchStart;
                        if (last[bucket] == replacer) ++f->lostNextStep;
                    }
                }
            }
            model.Step(bucket, p, IsMatch(s) ? StepSlot(s) : kLiteralSlot);
            beginsMatch[p] = IsMatch(s);
            previous[p] = head[bucket];
            head[bucket] = static_cast<int32_t>(p);
            if (last[bucket] >= 0) next[last[bucket]] = static_cast<int32_t>(p);
            last[bucket] = static_cast<int32_t>(p);
        }
        p += StepLength(s);
    }
}

// The sources a bucket holds under the oracle: four slots, each with its source and
// the last use planned for it.
struct OracleSlot {
    int64_t lastUse = -1;
    int64_t source = -1;
};

void BoundOfBlock(const uint8_t* d, size_t n, BoundFigures* f) {
    static DeflateParser parser;
    static TableDesigner designer;
    static MatchModel model;
    std::vector<DeflateMatch> matches;
    parser.Run(d, n, &matches);

    std::vector<uint8_t> stepStart(n + 1, 0);
    {
        size_t p = 0;
        for (const DeflateMatch& m : matches) {
            for (; p < m.at; ++p) stepStart[p] = 1;
            stepStart[p] = 1;
            p += m.length;
        }
        for (; p < n; ++p) stepStart[p] = 1;
    }

    std::vector<Kept> all, oracle, table;
    std::vector<Step> steps;
    std::vector<std::array<OracleSlot, 4>> buckets(kContextBuckets);
    for (const DeflateMatch& m : matches) {
        ++f->matches;
        f->matchBytes += m.length;
        // All: only the first three bytes of a block must be literals.
        if (m.at >= 3) {
            all.push_back(Kept{m.at, 0, m.length});
        } else if (m.at + m.length >= 5) {
            all.push_back(Kept{3, 0, m.at + m.length - 3});
        }
        if (m.at >= 3 && m.source >= 3 && TwoByteKey(d, m.at) == TwoByteKey(d, m.source)) {
            ++f->sameContext;
            if (stepStart[m.source]) ++f->sourceAtStep;
        }
        // Oracle: the first shift at which the contexts agree (after two bytes of the
        // match they always do, and both ends need three bytes before them), then a
        // slot of that bucket free for the source.
        const uint32_t lastShift = std::max<uint32_t>(2, m.source < 3 ? 3 - m.source : 0);
        for (uint32_t k = 0; k <= lastShift && k + 3 <= m.length; ++k) {
            const size_t at = m.at + k, source = m.source + k;
            if (at < 3 || source < 3) continue;
            const uint32_t key = TwoByteKey(d, at);
            if (key != TwoByteKey(d, source)) continue;
            std::array<OracleSlot, 4>& slots = buckets[key];
            int chosen = -1;
            for (int s = 0; s < 4; ++s)
                if (slots[s].source == static_cast<int64_t>(source)) chosen = s;
            if (chosen < 0) {
                // A slot whose last use comes before the source enters the table; the
                // latest such one leaves the others for sources further back.
                for (int s = 0; s < 4; ++s)
                    if (slots[s].lastUse < static_cast<int64_t>(source) &&
                        (chosen < 0 || slots[s].lastUse > slots[chosen].lastUse))
                        chosen = s;
            }
            if (chosen >= 0) {
                slots[chosen] = OracleSlot{static_cast<int64_t>(at), static_cast<int64_t>(source)};
                oracle.push_back(Kept{static_cast<uint32_t>(at), static_cast<uint32_t>(chosen), m.length - k});
                ++f->oracleMatches;
                f->oracleBytes += m.length - k;
            }
            break;
        }
    }

    // Table: the decoder's own table over the parse's steps.
    model.Clear(d, n);
    {
        size_t mi = 0, p = 0;
        while (p < n) {
            while (mi < matches.size() && matches[mi].at < p) ++mi;
            const bool startsMatch = mi < matches.size() && matches[mi].at == p;
            if (p < 3) {
                ++p;
                continue;
            }
            const uint32_t selected = model.Select(p);
            uint32_t slot = kLiteralSlot;
            if (startsMatch) {
                uint32_t lengths[4];
                model.Lengths(selected, p, matches[mi].length, lengths);
                for (uint32_t s = 0; s < 4; ++s)
                    if (lengths[s] >= matches[mi].length) {
                        slot = s;
                        break;
                    }
            }
            model.Step(selected, p, slot);
            if (slot < 4) {
                table.push_back(Kept{static_cast<uint32_t>(p), slot, matches[mi].length});
                ++f->tableMatches;
                f->tableBytes += matches[mi].length;
                p += matches[mi].length;
            } else {
                ++p;
            }
        }
    }

    StepsOf(all, n, &steps);
    f->sizeAll += BlockBytes(d, n, steps, designer);
    StepsOf(oracle, n, &steps);
    f->sizeOracle += BlockBytes(d, n, steps, designer);
    StepsOf(table, n, &steps);
    f->sizeTable += BlockBytes(d, n, steps, designer);
    f->sizeUnlimited += UnlimitedBytes(d, n, designer);
    AddLostSources(d, n, f);
}

}  // namespace

void AddBound(const uint8_t* data, size_t n, size_t blockSize, BoundFigures* figures) {
    figures->inputBytes += n;
    for (size_t at = 0; at < n; at += blockSize) BoundOfBlock(data + at, std::min(blockSize, n - at), figures);
}

}  // namespace vorx::bench
