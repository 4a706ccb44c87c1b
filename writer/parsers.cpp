#include "writer/parsers.h"

#include <algorithm>

namespace vorx {
namespace {

struct Choice {
    uint32_t slot = kLiteralSlot;
    uint32_t length = 1;
    int64_t gain = 0;  // over literals, in cost units
};

// Literal prices summed from the block's start, so that a run is priced at once.
void LiteralSums(const Prices& prices, const uint8_t* d, size_t n, std::vector<uint64_t>* sums) {
    sums->resize(n + 1);
    uint64_t sum = 0;
    (*sums)[0] = 0;
    for (size_t i = 0; i < n; ++i) (*sums)[i + 1] = sum += prices.LiteralMean(d[i]);
}

// Of the matches at p of the given lengths (0: none), the one that saves most over
// literals, or a literal.
Choice BestMatch(const uint32_t lengths[4], const Prices& prices, const uint64_t* sums, size_t p) {
    Choice best;
    for (uint32_t k = 0; k < 4; ++k) {
        const uint32_t len = lengths[k];
        if (!len) continue;
        const int64_t gain = static_cast<int64_t>(sums[p + len] - sums[p]) -
                             static_cast<int64_t>(prices.MatchMean(k, len));
        if (gain > best.gain) best = Choice{k, len, gain};
    }
    return best;
}

// What every parse starts with: an empty model and step list, the literal price sums of
// the block, and the three literal steps a block begins with. Returns the sums; `*p` is
// the first position left to parse.
const uint64_t* BeginParse(MatchModel& model, const Prices& prices, const uint8_t* d, size_t n,
                           std::vector<Step>* steps, std::vector<uint64_t>* scratch, size_t* p) {
    steps->clear();
    model.Clear(d, n);
    LiteralSums(prices, d, n, scratch);
    for (*p = 0; *p < n && *p < 3; ++*p) steps->push_back(0);
    return scratch->data();
}

}  // namespace

void GreedyParse(MatchModel& model, const Prices& prices, const uint8_t* d, size_t n,
                 const ParseOptions& options, std::vector<Step>* steps,
                 std::vector<uint64_t>* scratch) {
    size_t p;
    const uint64_t* sums = BeginParse(model, prices, d, n, steps, scratch, &p);
    while (p < n) {
        const uint32_t selected = model.Select(p);
        uint32_t lengths[4];
        model.Lengths(selected, p, std::min<size_t>(n - p, options.longest), lengths);
        const Choice c = BestMatch(lengths, prices, sums, p);
        model.Step(selected, p, c.slot);
        steps->push_back(c.slot < 4 ? MatchStep(c.slot, c.length) : 0);
        p += c.length;
    }
}

void LazyParse(MatchModel& model, const Prices& prices, const uint8_t* d, size_t n,
               const ParseOptions& options, std::vector<Step>* steps,
               std::vector<uint64_t>* scratch) {
    size_t p;
    const uint64_t* sums = BeginParse(model, prices, d, n, steps, scratch, &p);
    // The best match at p when a look ahead from p - 1 found it already.
    bool known = false;
    Choice c;
    while (p < n) {
        const uint32_t selected = model.Select(p);
        if (!known) {
            uint32_t lengths[4];
            model.Lengths(selected, p, std::min<size_t>(n - p, options.longest), lengths);
            c = BestMatch(lengths, prices, sums, p);
        }
        known = false;
        if (c.slot < 4 && c.length < options.nice && p + 1 < n) {
            // The table as a literal here would leave it: only the selected bucket
            // changes, its first slot in order taking p.
            const ContextIndices keys = IndicesAt(d, p + 1);
            const bool threeWritten =
                keys.threeByte == selected ||
                (keys.threeByte < kContextBuckets && model.Written(keys.threeByte));
            const uint32_t nextIndex = threeWritten ? keys.threeByte : keys.twoByte;
            const size_t limit = std::min<size_t>(n - p - 1, options.longest);
            uint32_t lengths[4];
            model.Lengths(nextIndex, p + 1, limit, lengths);
            if (nextIndex == selected) {
                const uint32_t victim = Victim(model.Order(selected), kLiteralSlot);
                lengths[victim] = CommonLength(d, p, p + 1, limit);
            }
            const Choice later = BestMatch(lengths, prices, sums, p + 1);
            if (later.slot < 4) {
                const size_t horizon = std::max(p + c.length, p + 1 + later.length);
                const uint64_t costHere = prices.MatchMean(c.slot, c.length) +
                                          uint64_t{prices.byteMean} * (horizon - p - c.length);
                const uint64_t costLater =
                    prices.LiteralMean(d[p]) + prices.MatchMean(later.slot, later.length) +
                    uint64_t{prices.byteMean} * (horizon - p - 1 - later.length);
                if (costLater < costHere) {
                    model.Step(selected, p, kLiteralSlot);
                    steps->push_back(0);
                    ++p;
                    c = later;
                    known = true;
                    continue;
                }
            }
        }
        model.Step(selected, p, c.slot);
        steps->push_back(c.slot < 4 ? MatchStep(c.slot, c.length) : 0);
        p += c.length;
    }
}

// ---------------------------------------------------------------------------
// Optimal parsing

void OptimalParser::Reach(size_t index) {
    if (index < reached_) return;
    if (index >= nodes_.size()) nodes_.resize(std::max(index + 1, nodes_.size() * 2));
    for (size_t i = reached_; i <= index; ++i) {
        nodes_[i].cost = kUnreached;
        nodes_[i].selected = kNoBucket;
    }
    reached_ = index + 1;
}

uint8_t OptimalParser::NextFlags(uint8_t flags, uint32_t slot) {
    const uint32_t count = flags >> 3, bits = flags & 7u;
    const uint32_t flag = slot < 4 ? 1u : 0u;
    return count == 3 ? 0 : static_cast<uint8_t>(((count + 1) << 3) | bits | (flag << count));
}

uint8_t OptimalParser::NextPending(uint8_t pending, uint32_t slot) {
    return slot < 4 ? (pending ? 0 : static_cast<uint8_t>(1 + slot)) : pending;
}

void OptimalParser::Relax(uint32_t from, size_t to, uint32_t cost, uint32_t slot, uint32_t length) {
    Reach(to);
    Node& t = nodes_[to];
    if (cost >= t.cost) return;
    const Node& f = nodes_[from];
    t.cost = cost;
    t.parent = from;
    t.length = length;
    t.slot = static_cast<uint8_t>(slot);
    t.flags = NextFlags(f.flags, slot);
    t.pending = NextPending(f.pending, slot);
}

ModelBucket OptimalParser::BucketAt(uint32_t at, uint32_t index) const {
    // Most buckets no step of the window has selected: the committed table holds them.
    if (!((touched_[index >> 6] >> (index & 63)) & 1u)) return model_->Get(index);
    // Steps before the first node that selected it leave it alone too.
    const uint32_t first = firstTouch_[index];
    for (uint32_t j = at; j > first;) {
        const Node& child = nodes_[j];
        const Node& step = nodes_[child.parent];
        if (step.selected == index) return step.before.After(child.slot, start_ + child.parent);
        j = child.parent;
    }
    return model_->Get(index);
}

uint32_t OptimalParser::EvictionCost(const ModelBucket& bucket, uint32_t victim, size_t p) const {
    const uint32_t v = bucket.position[victim];
    if (!v || p >= options_.keepUntil[v - 1]) return 0;
    return options_.keepValue[v - 1];
}

void OptimalParser::Expand(uint32_t at, LongMatch* longMatch) {
    // Relax may grow nodes_: no reference into it is held across a call.
    const Node node = nodes_[at];
    const size_t p = start_ + at;
    const Prices& pr = *prices_;
    const uint32_t count = node.flags >> 3, bits = node.flags & 7u;
    if (p < 3) {
        Relax(at, at + 1, node.cost + pr.flag[count][bits][0] + pr.literal[d_[p]], kLiteralSlot, 1);
        return;
    }

    const ContextIndices keys = IndicesAt(d_, p);
    ModelBucket bucket{};
    uint32_t selected = keys.twoByte;
    if (keys.threeByte < kContextBuckets) {
        bucket = BucketAt(at, keys.threeByte);
        if (bucket.position[0]) selected = keys.threeByte;
    }
    if (selected == keys.twoByte) bucket = BucketAt(at, keys.twoByte);
    nodes_[at].selected = selected;
    nodes_[at].before = bucket;
    uint64_t& word = touched_[selected >> 6];
    if (!(word & (uint64_t{1} << (selected & 63)))) {
        word |= uint64_t{1} << (selected & 63);
        touchedList_.push_back(selected);
        firstTouch_[selected] = at;
    }
    uint32_t literalCost = node.cost + pr.flag[count][bits][0] + pr.literal[d_[p]];
    if (options_.keepValue)
        literalCost += EvictionCost(bucket, Victim(bucket.order, kLiteralSlot), p);
    Relax(at, at + 1, literalCost, kLiteralSlot, 1);

    const size_t limit = std::min<size_t>(n_ - p, options_.longest);
    const uint32_t matchBase = node.cost + pr.flag[count][bits][1];
    for (uint32_t k = 0; k < 4; ++k) {
        if (!bucket.position[k]) continue;
        const uint32_t len = CommonLength(d_, bucket.position[k] - 1, p, limit);
        if (!len) continue;
        uint32_t base = matchBase + pr.selector[node.pending][k];
        if (options_.keepValue) base += EvictionCost(bucket, Victim(bucket.order, k), p);
        if (len >= options_.nice) {
            // Taken at once (below); the shorter lengths need no pricing.
            if (len > longMatch->length) *longMatch = LongMatch{at, len, k};
            continue;
        }
        for (uint32_t l = 1; l <= len; ++l) Relax(at, at + l, base + pr.LengthCost(l), k, l);
    }
}

void OptimalParser::Commit(uint32_t from, uint32_t slot, uint32_t length,
                           std::vector<Step>* steps) {
    // The table already holds every committed step before this one, so the bucket is
    // in the state `before` that the window found.
    const Node& step = nodes_[from];
    if (step.selected != kNoBucket) model_->Step(step.selected, start_ + from, slot);
    steps->push_back(slot < 4 ? MatchStep(slot, length) : 0);
}

void OptimalParser::Run(MatchModel& model, const Prices& prices, const uint8_t* data, size_t n,
                        const ParseOptions& options, std::vector<Step>* steps) {
    model_ = &model;
    prices_ = &prices;
    d_ = data;
    n_ = n;
    options_ = options;
    steps->clear();
    model.Clear(data, n);
    touched_.assign(kContextBuckets / 64, 0);
    firstTouch_.resize(kContextBuckets);
    touchedList_.clear();
    uint8_t flags = 0, pending = 0;
    start_ = 0;
    while (start_ < n) {
        const size_t window = std::min<size_t>(options.window, n - start_);
        reached_ = 0;
        for (uint32_t index : touchedList_) touched_[index >> 6] = 0;
        touchedList_.clear();
        Reach(0);
        nodes_[0].cost = 0;
        nodes_[0].flags = flags;
        nodes_[0].pending = pending;
        LongMatch longMatch{0, 0, 0};
        for (size_t at = 0; at < window && longMatch.length == 0; ++at)
            Expand(static_cast<uint32_t>(at), &longMatch);

        // The end of the path to keep, and how much of it.
        size_t end;
        size_t keep;
        if (longMatch.length) {
            // A long match ends the window: the way to it, then the match.
            end = longMatch.at;
            keep = end + 1;
        } else if (start_ + window == n) {
            end = window;
            keep = end;
        } else {
            // Among the nodes at or beyond the window's end, the cheapest once the
            // bytes the others cover beyond it are priced at the block's mean.
            end = window;
            uint64_t best = UINT64_MAX;
            for (size_t i = window; i < reached_; ++i) {
                if (nodes_[i].cost == kUnreached) continue;
                const uint64_t score =
                    nodes_[i].cost + uint64_t{prices.byteMean} * (reached_ - 1 - i);
                if (score < best) {
                    best = score;
                    end = i;
                }
            }
            keep = std::min<size_t>(options.commit, window);
        }

        path_.clear();
        for (uint32_t j = static_cast<uint32_t>(end); j != 0; j = nodes_[j].parent)
            path_.push_back(j);
        // Commit the steps that start before `keep` (at least one).
        size_t committed = 0;
        for (size_t i = path_.size(); i-- > 0;) {
            const Node& arrive = nodes_[path_[i]];
            const uint32_t from = arrive.parent;
            if (from >= keep && committed > 0) break;
            Commit(from, arrive.slot, arrive.length, steps);
            flags = arrive.flags;
            pending = arrive.pending;
            committed = path_[i];
        }
        if (longMatch.length) {
            Commit(longMatch.at, longMatch.slot, longMatch.length, steps);
            flags = NextFlags(flags, longMatch.slot);
            pending = NextPending(pending, longMatch.slot);
            committed = longMatch.at + longMatch.length;
        }
        start_ += committed;
    }
}

// ---------------------------------------------------------------------------
// Worth of keeping positions in the table, for the optimal parser's later passes

void FutureValues(const uint8_t* d, size_t n, const std::vector<Step>& steps, const Prices& prices,
                  uint32_t depth, std::vector<uint32_t>* value, std::vector<uint32_t>* until) {
    value->assign(n, 0);
    until->assign(n, 0);
    std::vector<uint32_t> head(kContextBuckets, UINT32_MAX);
    std::vector<uint32_t> previous(n, UINT32_MAX);
    // The buckets the parse's steps have selected so far: the decoder's choice of the
    // three-byte bucket depends on them.
    std::vector<uint64_t> written(kContextBuckets / 64, 0);
    size_t p = 0;
    for (Step s : steps) {
        const uint32_t len = StepLength(s);
        if (p >= 3) {
            const ContextIndices keys = IndicesAt(d, p);
            const bool three = keys.threeByte < kContextBuckets &&
                               ((written[keys.threeByte >> 6] >> (keys.threeByte & 63)) & 1u);
            const uint32_t context = three ? keys.threeByte : keys.twoByte;
            written[context >> 6] |= uint64_t{1} << (context & 63);
            const uint32_t covered = IsMatch(s) ? len : 0;
            const size_t limit = std::min<size_t>(n - p, 4096);
            uint32_t best = 0, bestAt = UINT32_MAX;
            uint32_t q = head[context];
            for (uint32_t k = 0; k < depth && q != UINT32_MAX; ++k, q = previous[q]) {
                const uint32_t l = CommonLength(d, q, p, limit);
                if (l > best) {
                    best = l;
                    bestAt = q;
                }
            }
            if (best > covered && until->at(bestAt) == 0) {
                const Cost gain = static_cast<Cost>((best - covered) * uint64_t{prices.byteMean});
                const Cost overhead =
                    covered ? 0
                            : prices.flagMean[1] + prices.selectorMean[0] + prices.LengthCost(best);
                if (gain > overhead) {
                    (*value)[bestAt] = gain - overhead;
                    (*until)[bestAt] = static_cast<uint32_t>(p + 1);
                }
            }
            previous[p] = head[context];
            head[context] = static_cast<uint32_t>(p);
        }
        p += len;
    }
}

}  // namespace vorx
