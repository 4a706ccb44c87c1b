#include "writer/compressor.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

#include "codec/bit_writer.h"
#include "codec/code_tree.h"
#include "writer/code_design.h"

namespace vorx {
namespace {

// ---------------------------------------------------------------------------
// Costs, in sixteenths of a bit.

using Cost = uint32_t;
constexpr Cost kCostScale = 16;
constexpr uint32_t kMaxMatchLength = 65535;  // at most 65535 distinct length symbols
constexpr uint32_t kLengthCostTableSize = 1024;

Cost BitsToCost(double bits) { return static_cast<Cost>(std::lround(bits * kCostScale)); }

struct CostModel {
    Cost literal[256];
    Cost flag[2];  // 0 literal, 1 match
    Cost selector[4];
    Cost length[kLengthCostTableSize];
    Cost longLengthBase;  // lengths beyond the table: base + escape-code bits
    Cost bytesAverage;    // cost of one byte of the block on average

    Cost LengthCost(uint32_t len) const {
        if (len < kLengthCostTableSize) return length[len];
        return longLengthBase + BitWriter::EscapedNumberBits(len) * kCostScale;
    }
    Cost MatchCost(uint32_t slot, uint32_t len) const {
        return flag[1] + selector[slot] + LengthCost(len);
    }
    Cost LiteralCost(uint8_t byte) const { return flag[0] + literal[byte]; }
};

// A first guess for a block nothing is known about: literals priced by the block's own
// byte frequencies, short matches cheap and long ones growing slowly.
void DefaultModel(const uint8_t* data, size_t n, CostModel* m) {
    uint64_t counts[256] = {};
    for (size_t i = 0; i < n; ++i) ++counts[data[i]];
    for (int b = 0; b < 256; ++b) {
        const double p = (static_cast<double>(counts[b]) + 0.5) / (static_cast<double>(n) + 128.0);
        m->literal[b] = BitsToCost(std::min(16.0, -std::log2(p)));
    }
    m->flag[0] = BitsToCost(0.6);
    m->flag[1] = BitsToCost(1.6);
    for (Cost& c : m->selector) c = BitsToCost(1.8);
    for (uint32_t len = 0; len < kLengthCostTableSize; ++len)
        m->length[len] = BitsToCost(2.0 + 1.6 * std::log2(static_cast<double>(len) + 1.0));
    m->longLengthBase = BitsToCost(8.0);
    m->bytesAverage = BitsToCost(3.0);
}

// ---------------------------------------------------------------------------
// The context table as the decoder keeps it. Positions are stored plus one (0 is an
// empty slot). A generation per bucket clears the table in constant time.

struct Bucket {
    uint32_t position[4];
    uint32_t stamp[4];
};

struct UndoRecord {
    uint32_t index;
    uint32_t generation;
    Bucket bucket;
};

class Contexts {
public:
    static constexpr uint32_t kBuckets = 65536;

    Contexts() : buckets_(kBuckets), generation_(kBuckets, 0) {}

    void Clear() {
        if (++current_ == 0) {
            std::fill(generation_.begin(), generation_.end(), 0);
            current_ = 1;
        }
        counter_ = 100;
    }

    // The bucket the decoder selects at position p (p >= 3).
    uint32_t Select(const uint8_t* d, size_t p) {
        const uint32_t b0 = d[p - 3], b1 = d[p - 2], b2 = d[p - 1];
        const uint32_t h3 = ((((b0 << 4) ^ b1) << 7) ^ b2) & 0xFFFF;
        if (Peek(h3).position[0] != 0) return h3;
        return (b1 << 7) ^ b2;
    }

    const Bucket& Peek(uint32_t index) const {
        static const Bucket kEmpty{};
        return generation_[index] == current_ ? buckets_[index] : kEmpty;
    }

    // The step at position p: stamps the slot a match copies from (slot < 4), then puts
    // p into the slot of the smallest stamp (lowest slot among equals).
    void Update(uint32_t index, size_t p, uint32_t matchedSlot) {
        if (logging_) undo_.push_back(UndoRecord{index, generation_[index], buckets_[index]});
        Bucket& b = Touch(index);
        if (matchedSlot < 4) b.stamp[matchedSlot] = counter_++;
        uint32_t j = 0;
        for (uint32_t k = 1; k < 4; ++k)
            if (b.stamp[k] < b.stamp[j]) j = k;
        b.position[j] = static_cast<uint32_t>(p) + 1;
        b.stamp[j] = 0;
    }

    // Trial steps: every Update between BeginTrial and EndTrial is undone by EndTrial.
    void BeginTrial() {
        logging_ = true;
        undo_.clear();
        savedCounter_ = counter_;
    }
    void EndTrial() {
        for (size_t i = undo_.size(); i-- > 0;) {
            const UndoRecord& u = undo_[i];
            generation_[u.index] = u.generation;
            buckets_[u.index] = u.bucket;
        }
        undo_.clear();
        counter_ = savedCounter_;
        logging_ = false;
    }

private:
    Bucket& Touch(uint32_t index) {
        if (generation_[index] != current_) {
            generation_[index] = current_;
            buckets_[index] = Bucket{};
        }
        return buckets_[index];
    }

    std::vector<Bucket> buckets_;
    std::vector<uint32_t> generation_;
    uint32_t current_ = 0;
    uint32_t counter_ = 100;
    bool logging_ = false;
    uint32_t savedCounter_ = 0;
    std::vector<UndoRecord> undo_;
};

inline uint32_t CommonLength(const uint8_t* d, size_t s, size_t p, size_t limit) {
    size_t len = 0;
    while (len + 8 <= limit) {
        uint64_t a, b;
        std::memcpy(&a, d + s + len, 8);
        std::memcpy(&b, d + p + len, 8);
        if (a != b) return static_cast<uint32_t>(len + (std::countr_zero(a ^ b) >> 3));
        len += 8;
    }
    while (len < limit && d[s + len] == d[p + len]) ++len;
    return static_cast<uint32_t>(len);
}

// A step as the parser records it: 0 for a literal, else length << 2 | slot.
using Step = uint32_t;
inline Step MatchStep(uint32_t slot, uint32_t len) { return (len << 2) | slot; }
inline uint32_t StepLength(Step s) { return s >> 2; }
inline uint32_t StepSlot(Step s) { return s & 3; }

struct Move {
    uint32_t slot;  // 4 for a literal
    uint32_t length;
};

struct LevelParams {
    int passes;
    int search;      // 0 greedy, 1 lazy, 2 trials
    uint32_t reach;  // trials run to this many bytes beyond the longest first step
    int shorter;     // how many shortened lengths a trial also tries per slot
    int effort;      // table design effort
    uint32_t nice;   // a match this long is taken without looking further
};

LevelParams ParamsFor(int level) {
    switch (level) {
        case 1: return {1, 0, 0, 0, 0, 32};
        case 2: return {1, 0, 0, 0, 1, 32};
        case 3: return {1, 1, 0, 0, 1, 32};
        case 4: return {2, 1, 0, 0, 1, 48};
        case 5: return {2, 1, 0, 0, 1, 64};
        case 6: return {2, 1, 0, 0, 2, 128};
        case 7: return {2, 2, 1, 0, 2, 128};
        case 8: return {2, 2, 1, 1, 2, 256};
        default: return {3, 2, 1, 3, 2, 512};
    }
}

// ---------------------------------------------------------------------------
// Parsing.

class Parser {
public:
    Parser(Contexts& contexts, const CostModel& model, const LevelParams& params,
           const uint8_t* data, size_t n)
        : ctx_(contexts), m_(model), params_(params), d_(data), n_(n) {
        // Prefix sums of the literal costs, so a run of literals is priced at once.
        literalSum_.resize(n + 1);
        literalSum_[0] = 0;
        for (size_t i = 0; i < n; ++i) literalSum_[i + 1] = literalSum_[i] + m_.LiteralCost(d_[i]);
    }

    void Run(std::vector<Step>* steps) {
        steps->clear();
        ctx_.Clear();
        size_t p = 0;
        while (p < n_ && p < 3) {
            steps->push_back(0);
            ++p;
        }
        while (p < n_) {
            const uint32_t bucket = ctx_.Select(d_, p);
            Move move = params_.search == 0   ? Greedy(bucket, p)
                        : params_.search == 1 ? Lazy(bucket, p)
                                              : Search(bucket, p);
            ctx_.Update(bucket, p, move.slot);
            if (move.slot < 4) {
                steps->push_back(MatchStep(move.slot, move.length));
                p += move.length;
            } else {
                steps->push_back(0);
                p += 1;
            }
        }
    }

private:
    Cost LiteralRun(size_t p, size_t len) const {
        return static_cast<Cost>(literalSum_[p + len] - literalSum_[p]);
    }

    // Longest match of each slot of the bucket at p.
    void Candidates(uint32_t bucket, size_t p, uint32_t lengths[4]) const {
        const Bucket& b = ctx_.Peek(bucket);
        const size_t limit = std::min<size_t>(n_ - p, kMaxMatchLength);
        for (uint32_t k = 0; k < 4; ++k) {
            const uint32_t pos = b.position[k];
            lengths[k] = pos ? CommonLength(d_, pos - 1, p, limit) : 0;
        }
    }

    // The best whole match at p by gain over literals, or a literal.
    Move Greedy(uint32_t bucket, size_t p) const {
        uint32_t lengths[4];
        Candidates(bucket, p, lengths);
        return BestOf(lengths, p, nullptr);
    }

    Move BestOf(const uint32_t lengths[4], size_t p, int64_t* gainOut) const {
        Move best{4, 1};
        int64_t bestGain = 0;
        for (uint32_t k = 0; k < 4; ++k) {
            if (!lengths[k]) continue;
            const int64_t gain = static_cast<int64_t>(LiteralRun(p, lengths[k])) -
                                 static_cast<int64_t>(m_.MatchCost(k, lengths[k]));
            if (gain > bestGain) {
                bestGain = gain;
                best = Move{k, lengths[k]};
            }
        }
        if (gainOut) *gainOut = bestGain;
        return best;
    }

    // Greedy, except that a literal wins when the match at p + 1 (with p recorded in
    // the table as a literal step would record it) covers more for less.
    Move Lazy(uint32_t bucket, size_t p) {
        uint32_t lengths[4];
        Candidates(bucket, p, lengths);
        int64_t gain;
        const Move here = BestOf(lengths, p, &gain);
        if (here.slot == 4 || here.length >= params_.nice || p + 1 >= n_) return here;

        ctx_.BeginTrial();
        ctx_.Update(bucket, p, 4);
        const uint32_t nextBucket = ctx_.Select(d_, p + 1);
        uint32_t nextLengths[4];
        Candidates(nextBucket, p + 1, nextLengths);
        ctx_.EndTrial();
        int64_t nextGain;
        const Move next = BestOf(nextLengths, p + 1, &nextGain);
        if (next.slot == 4) return here;

        const size_t horizon = std::max(p + here.length, p + 1 + next.length);
        const uint64_t costHere = m_.MatchCost(here.slot, here.length) +
                                  uint64_t{m_.bytesAverage} * (horizon - p - here.length);
        const uint64_t costNext = m_.LiteralCost(d_[p]) + m_.MatchCost(next.slot, next.length) +
                                  uint64_t{m_.bytesAverage} * (horizon - p - 1 - next.length);
        return costNext < costHere ? Move{4, 1} : here;
    }

    // Tries each choice at p (a literal, each slot's longest match and a few shorter
    // ones), follows each with greedy steps, and keeps the first step of the cheapest.
    Move Search(uint32_t bucket, size_t p) {
        uint32_t lengths[4];
        Candidates(bucket, p, lengths);
        Move choices[4 * 4 + 1];
        size_t count = 0;
        choices[count++] = Move{4, 1};
        uint32_t longest = 0;
        for (uint32_t k = 0; k < 4; ++k) {
            if (!lengths[k]) continue;
            longest = std::max(longest, lengths[k]);
            bool seen = false;
            for (size_t i = 1; i < count; ++i) seen |= choices[i].length == lengths[k];
            if (seen) continue;  // an equal match from another slot; BestOf picks the slot
            choices[count++] = Move{k, lengths[k]};
            for (int s = 1; s <= params_.shorter && lengths[k] > static_cast<uint32_t>(s); ++s)
                choices[count++] = Move{k, lengths[k] - static_cast<uint32_t>(s)};
        }
        if (count == 1) return choices[0];
        if (longest >= params_.nice) return BestOf(lengths, p, nullptr);
        // Among equal lengths, the cheapest slot.
        for (size_t i = 1; i < count; ++i) {
            for (uint32_t k = 0; k < 4; ++k)
                if (lengths[k] >= choices[i].length &&
                    m_.selector[k] < m_.selector[choices[i].slot])
                    choices[i].slot = k;
        }

        // Every trial runs until it covers the horizon: the end of the longest first
        // step plus a little. What a trial covers beyond it is credited at the
        // block's average price.
        const size_t horizon = std::min(n_, p + longest + params_.reach);
        uint64_t costs[4 * 4 + 1];
        size_t ends[4 * 4 + 1];
        size_t furthest = 0;
        for (size_t i = 0; i < count; ++i) {
            ctx_.BeginTrial();
            Trial(bucket, p, choices[i], horizon, &costs[i], &ends[i]);
            ctx_.EndTrial();
            furthest = std::max(furthest, ends[i]);
        }
        uint64_t bestScore = UINT64_MAX;
        size_t best = 0;
        for (size_t i = 0; i < count; ++i) {
            const uint64_t score = costs[i] + uint64_t{m_.bytesAverage} * (furthest - ends[i]);
            if (score < bestScore) {
                bestScore = score;
                best = i;
            }
        }
        return choices[best];
    }

    void Trial(uint32_t bucket, size_t p, Move first, size_t horizon, uint64_t* cost, size_t* end) {
        uint64_t total = first.slot == 4 ? m_.LiteralCost(d_[p]) : m_.MatchCost(first.slot, first.length);
        ctx_.Update(bucket, p, first.slot);
        size_t q = p + first.length;
        while (q < horizon) {
            const uint32_t b = ctx_.Select(d_, q);
            const Move move = Greedy(b, q);
            total += move.slot == 4 ? m_.LiteralCost(d_[q]) : m_.MatchCost(move.slot, move.length);
            ctx_.Update(b, q, move.slot);
            q += move.length;
        }
        *cost = total;
        *end = q;
    }

    Contexts& ctx_;
    const CostModel& m_;
    const LevelParams& params_;
    const uint8_t* d_;
    size_t n_;
    std::vector<uint64_t> literalSum_;
};

// ---------------------------------------------------------------------------
// Tables and the bit stream.

uint32_t FourBitSymbol(uint32_t, uint32_t) { return 4; }
uint32_t LiteralSymbol(uint32_t, uint32_t width) { return width; }
uint32_t LengthSymbol(uint32_t symbol, uint32_t) { return BitWriter::EscapedNumberBits(symbol); }

struct Alphabets {
    std::vector<uint32_t> flagSymbols;  // one per group of four steps
    std::vector<uint32_t> slotSymbols;  // one per pair of matches
    uint32_t stepsInLastFlag = 0;       // 1 to 4
    uint32_t selectorsInLastSlot = 0;   // 1 or 2 (0 when there are no matches)
    uint64_t literalCounts[256] = {};
    std::vector<SymbolCount> lengths;   // distinct lengths, ascending
    uint32_t literalWidth = 0;

    AlphabetDesign flags, literals, lengthCodes, slots;
    std::vector<SymbolCount> flagCounts, literalList, slotCounts;
    uint64_t totalBits = 0;
};

std::vector<SymbolCount> CountSmall(const std::vector<uint32_t>& symbols, uint32_t alphabet) {
    std::vector<uint64_t> counts(alphabet, 0);
    for (uint32_t s : symbols) ++counts[s];
    std::vector<SymbolCount> list;
    for (uint32_t s = 0; s < alphabet; ++s)
        if (counts[s]) list.push_back(SymbolCount{s, counts[s]});
    return list;
}

bool Analyse(const uint8_t* data, const std::vector<Step>& steps, int effort, CodeTree& tree,
             Alphabets* a) {
    a->flagSymbols.assign((steps.size() + 3) / 4, 0);
    a->slotSymbols.clear();
    std::fill(std::begin(a->literalCounts), std::end(a->literalCounts), 0);
    std::vector<uint32_t> lengths;
    uint32_t selectors = 0;
    size_t p = 0;
    for (size_t i = 0; i < steps.size(); ++i) {
        const Step s = steps[i];
        if (s == 0) {
            ++a->literalCounts[data[p]];
            ++p;
            continue;
        }
        a->flagSymbols[i / 4] |= 1u << (i % 4);
        lengths.push_back(StepLength(s));
        if ((selectors & 1) == 0) a->slotSymbols.push_back(StepSlot(s));
        else a->slotSymbols.back() |= StepSlot(s) << 2;
        ++selectors;
        p += StepLength(s);
    }
    a->stepsInLastFlag = steps.empty() ? 0 : static_cast<uint32_t>((steps.size() - 1) % 4 + 1);
    a->selectorsInLastSlot = selectors == 0 ? 0 : ((selectors & 1) ? 1 : 2);

    std::sort(lengths.begin(), lengths.end());
    a->lengths.clear();
    for (uint32_t len : lengths) {
        if (!a->lengths.empty() && a->lengths.back().symbol == len) ++a->lengths.back().count;
        else a->lengths.push_back(SymbolCount{len, 1});
    }
    a->literalList.clear();
    uint32_t maxLiteral = 0;
    for (uint32_t b = 0; b < 256; ++b) {
        if (!a->literalCounts[b]) continue;
        a->literalList.push_back(SymbolCount{b, a->literalCounts[b]});
        maxLiteral = b;
    }
    a->literalWidth = static_cast<uint32_t>(std::bit_width(maxLiteral));
    a->flagCounts = CountSmall(a->flagSymbols, 16);
    a->slotCounts = CountSmall(a->slotSymbols, 16);
    // The slot table is never empty: a block without matches sends one entry.
    if (a->slotCounts.empty()) a->slotCounts.push_back(SymbolCount{0, 1});

    if (!DesignAlphabet(a->flagCounts, &FourBitSymbol, 0, effort, tree, &a->flags) ||
        !DesignAlphabet(a->literalList, &LiteralSymbol, a->literalWidth, effort, tree, &a->literals) ||
        !DesignAlphabet(a->lengths, &LengthSymbol, 0, effort, tree, &a->lengthCodes) ||
        !DesignAlphabet(a->slotCounts, &FourBitSymbol, 0, effort, tree, &a->slots))
        return false;
    a->totalBits = 64 + a->flags.tableBits + a->flags.dataBits + a->literals.tableBits +
                   a->literals.dataBits + a->lengthCodes.tableBits + a->lengthCodes.dataBits +
                   a->slots.tableBits + a->slots.dataBits;
    return true;
}

// Prices for the next parse from the codes just designed.
void ModelFromDesign(const Alphabets& a, size_t steps, size_t bytes, CostModel* m) {
    const uint32_t literalMissing = a.literals.maxLength + 1 + a.literalWidth + 4;
    for (int b = 0; b < 256; ++b) m->literal[b] = literalMissing * kCostScale;
    for (size_t i = 0; i < a.literalList.size(); ++i)
        m->literal[a.literalList[i].symbol] = a.literals.codes[i].length * kCostScale;

    // Flags and selectors travel four and two to a symbol; price each by its share.
    uint64_t matches = 0;
    for (const SymbolCount& c : a.lengths) matches += c.count;
    const double pMatch = (static_cast<double>(matches) + 0.5) / (static_cast<double>(steps) + 1.0);
    m->flag[0] = BitsToCost(-std::log2(1.0 - std::min(pMatch, 0.999)));
    m->flag[1] = BitsToCost(-std::log2(pMatch));
    uint64_t selectorCounts[4] = {};
    for (const SymbolCount& c : a.slotCounts) {
        selectorCounts[c.symbol & 3] += c.count;
        selectorCounts[c.symbol >> 2] += c.count;
    }
    const uint64_t selectorTotal = selectorCounts[0] + selectorCounts[1] + selectorCounts[2] + selectorCounts[3];
    for (int k = 0; k < 4; ++k)
        m->selector[k] = BitsToCost(std::min(
            8.0, -std::log2((static_cast<double>(selectorCounts[k]) + 0.3) /
                            (static_cast<double>(selectorTotal) + 1.2))));

    // A length without a code costs its table entry as well.
    const uint32_t lengthDepth = a.lengthCodes.maxLength + 1;
    for (uint32_t len = 1; len < kLengthCostTableSize; ++len)
        m->length[len] = (lengthDepth + 3 + BitWriter::EscapedNumberBits(len)) * kCostScale;
    m->length[0] = m->length[1];
    for (size_t i = 0; i < a.lengths.size(); ++i)
        if (a.lengths[i].symbol < kLengthCostTableSize)
            m->length[a.lengths[i].symbol] = a.lengthCodes.codes[i].length * kCostScale;
    m->longLengthBase = (lengthDepth + 3) * kCostScale;
    m->bytesAverage = static_cast<Cost>(
        std::clamp<uint64_t>(a.totalBits * kCostScale / std::max<size_t>(bytes, 1), kCostScale / 4,
                             9 * kCostScale));
}

// Code of `symbol` in a design over `counts` (which holds it).
SymbolCode CodeOf(const std::vector<SymbolCount>& counts, const AlphabetDesign& design,
                  uint32_t symbol) {
    auto it = std::lower_bound(counts.begin(), counts.end(), symbol,
                               [](const SymbolCount& c, uint32_t s) { return c.symbol < s; });
    return design.codes[static_cast<size_t>(it - counts.begin())];
}

// The cheapest symbol of a design whose low `usedBits` bits equal `value`'s.
uint32_t CheapestCompatible(const std::vector<SymbolCount>& counts, const AlphabetDesign& design,
                            uint32_t value, uint32_t usedBits) {
    const uint32_t mask = (1u << usedBits) - 1u;
    uint32_t best = value;
    uint32_t bestLength = UINT32_MAX;
    for (size_t i = 0; i < counts.size(); ++i) {
        if ((counts[i].symbol & mask) == (value & mask) && design.codes[i].length < bestLength) {
            bestLength = design.codes[i].length;
            best = counts[i].symbol;
        }
    }
    return best;
}

void WriteTable(BitWriter& w, const AlphabetDesign& design, int kind, uint32_t literalWidth) {
    for (const SymbolEntry& e : design.table) {
        if (kind == 2) w.WriteEscapedNumber(e.symbol);
        else w.WriteBits(e.symbol, kind == 1 ? literalWidth : 4);
        w.WriteEscapedNumber(e.weight);
    }
}

void WriteBlock(const uint8_t* data, const std::vector<Step>& steps, Alphabets& a, BitWriter& w) {
    // The unused flags of the last group and the unused selector of the last pair are
    // free: send the cheapest symbol that agrees with the used ones.
    if (!a.flagSymbols.empty())
        a.flagSymbols.back() = CheapestCompatible(a.flagCounts, a.flags, a.flagSymbols.back(),
                                                  a.stepsInLastFlag);
    if (!a.slotSymbols.empty())
        a.slotSymbols.back() = CheapestCompatible(a.slotCounts, a.slots, a.slotSymbols.back(),
                                                  a.selectorsInLastSlot * 2);

    const uint32_t stepCount = static_cast<uint32_t>(steps.size());
    const uint32_t head1 = (stepCount & 0xFFFFFF) |
                           ((static_cast<uint32_t>(a.literals.table.size()) - 1) << 24);
    const uint32_t head2 = static_cast<uint32_t>(a.lengthCodes.table.size()) |
                           ((static_cast<uint32_t>(a.flags.table.size()) - 1) << 16) |
                           (a.literalWidth << 20) |
                           ((static_cast<uint32_t>(a.slots.table.size()) - 1) << 24) |
                           ((stepCount >> 24) << 28);
    w.WriteBits(head1 & 0xFFFF, 16);
    w.WriteBits(head1 >> 16, 16);
    w.WriteBits(head2 & 0xFFFF, 16);
    w.WriteBits(head2 >> 16, 16);
    WriteTable(w, a.flags, 0, 0);
    WriteTable(w, a.literals, 1, a.literalWidth);
    WriteTable(w, a.lengthCodes, 2, 0);
    WriteTable(w, a.slots, 0, 0);

    // Codes by symbol for the small alphabets.
    SymbolCode flagCode[16], slotCode[16], literalCode[256];
    for (size_t i = 0; i < a.flagCounts.size(); ++i) flagCode[a.flagCounts[i].symbol] = a.flags.codes[i];
    for (size_t i = 0; i < a.slotCounts.size(); ++i) slotCode[a.slotCounts[i].symbol] = a.slots.codes[i];
    for (size_t i = 0; i < a.literalList.size(); ++i)
        literalCode[a.literalList[i].symbol] = a.literals.codes[i];

    size_t p = 0;
    size_t pair = 0;
    uint32_t selectorsLeft = 0;
    for (size_t i = 0; i < steps.size(); ++i) {
        if (i % 4 == 0) {
            const SymbolCode c = flagCode[a.flagSymbols[i / 4]];
            w.WriteCode(c.code, c.length);
        }
        const Step s = steps[i];
        if (s == 0) {
            const SymbolCode c = literalCode[data[p]];
            w.WriteCode(c.code, c.length);
            ++p;
            continue;
        }
        const SymbolCode lc = CodeOf(a.lengths, a.lengthCodes, StepLength(s));
        w.WriteCode(lc.code, lc.length);
        if (selectorsLeft == 0) {
            const SymbolCode c = slotCode[a.slotSymbols[pair++]];
            w.WriteCode(c.code, c.length);
            selectorsLeft = 2;
        }
        --selectorsLeft;
        p += StepLength(s);
    }
    // The stream must end strictly beyond the tables, also when there are no steps.
    if (steps.empty()) w.WriteBit(0);
}

}  // namespace

// ---------------------------------------------------------------------------

struct Compressor::State {
    Contexts contexts;
    CodeTree tree;
    CostModel model;
    bool haveModel = false;
    std::vector<Step> steps, bestSteps;
    Alphabets alphabets, bestAlphabets;
};

Compressor::Compressor(int level, size_t blockSize)
    : level_(std::clamp(level, kMinLevel, kMaxLevel)),
      blockSize_(std::clamp<size_t>(blockSize, 1, static_cast<size_t>(kMaxBlockOutput))) {}

Compressor::~Compressor() = default;

bool Compressor::EncodeBlock(const uint8_t* data, size_t length, EncodedBlock* block) {
    auto storeIt = [&]() {
        block->type = BlockType::Stored;
        block->sizeField = static_cast<uint32_t>(length);
        block->body.assign(data, data + length);
        return true;
    };
    if (length > kMaxBlockSizeField) return false;
    if (level_ == 0 || length == 0) return storeIt();
    if (!state_) state_ = std::make_unique<State>();
    State& st = *state_;
    const LevelParams params = ParamsFor(level_);

    // The previous block's prices serve as the first guess only when they came from
    // a block of similar nature; a fresh guess from this block's bytes is safer.
    if (!st.haveModel || length < 4096) DefaultModel(data, length, &st.model);

    uint64_t bestBits = UINT64_MAX;
    for (int pass = 0; pass < params.passes; ++pass) {
        Parser parser(st.contexts, st.model, params, data, length);
        parser.Run(&st.steps);
        if (!Analyse(data, st.steps, params.effort, st.tree, &st.alphabets)) return false;
        ModelFromDesign(st.alphabets, st.steps.size(), length, &st.model);
        if (st.alphabets.totalBits < bestBits) {
            bestBits = st.alphabets.totalBits;
            std::swap(st.steps, st.bestSteps);
            std::swap(st.alphabets, st.bestAlphabets);
        }
    }
    st.haveModel = true;

    const uint64_t compressedBody = PadTo16((bestBits + 7) / 8);
    if (!forceCompressed_ && compressedBody >= PadTo16(length)) return storeIt();
    if (bestBits > kMaxBlockSizeField) return forceCompressed_ ? false : storeIt();

    BitWriter writer;
    WriteBlock(data, st.bestSteps, st.bestAlphabets, writer);
    if (writer.bitCount() > kMaxBlockSizeField) return forceCompressed_ ? false : storeIt();
    if (!forceCompressed_ && PadTo16(writer.bytes().size()) >= PadTo16(length)) return storeIt();
    block->type = BlockType::Compressed;
    block->sizeField = static_cast<uint32_t>(writer.bitCount());
    block->body = std::move(writer.bytes());
    return true;
}

namespace {
bool EncodeWithCompressor(void* context, const uint8_t* data, size_t length, EncodedBlock* block) {
    return static_cast<Compressor*>(context)->EncodeBlock(data, length, block);
}
}  // namespace

BlockEncoder Compressor::AsBlockEncoder() {
    return BlockEncoder{&EncodeWithCompressor, this, blockSize_};
}

}  // namespace vorx
