#include "tests/support/reference_decoder.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace reference {
namespace {

// The value of the root and of every inner node; a walk that meets a missing child
// yields all ones.
constexpr uint32_t kInner = 100000;
constexpr uint32_t kMissingChild = 0xFFFFFFFFu;
constexpr int64_t kEmpty = -1;  // a context slot that holds no position

// Bit p of the stream is bit p % 8 of byte p / 8.
uint32_t Bit(const uint8_t* buffer, uint32_t p) { return (buffer[p / 8] >> (p % 8)) & 1u; }

// A field of `width` bits from bit p on, its first bit the least significant.
uint32_t Field(const uint8_t* buffer, uint32_t p, uint32_t width) {
    uint32_t value = 0;
    for (uint32_t k = 0; k < width; ++k) value |= Bit(buffer, p + k) << k;
    return value;
}

// An escape-coded number: fields of the widths below, each read while the one before
// was all ones; the number is the last field plus the all-ones fields before it, plus
// 1. All ones in the 23-bit field would announce a field no stream holds: 0.
uint32_t Escaped(const uint8_t* buffer, uint32_t& pos) {
    static constexpr uint32_t kWidths[] = {2, 3, 5, 8, 12, 17, 23};
    uint32_t sum = 0;
    for (uint32_t width : kWidths) {
        const uint32_t field = Field(buffer, pos, width);
        pos += width;
        if (field != (1u << width) - 1u) return sum + field + 1;
        sum += field;
    }
    return 0;
}

// A single-precision operation done in double and rounded once: a double carries more
// than twice a float's digits, so the result is the correctly rounded single one. The
// volatile store is where the rounding happens, also for x87 code that would keep
// more digits in its registers.
float ToSingle(double value) {
    volatile float rounded = static_cast<float>(value);
    return rounded;
}

// The context table: 65536 buckets of four slots with stamps, every slot empty at the
// start of a block.
class ContextModel {
public:
    ContextModel() : slots_(65536 * 4, Slot{kEmpty, 0}) {}

    // The bucket of the three bytes before position p >= 3, or of the two bytes before
    // it when the first one's slot 0 is empty.
    uint32_t Select(const std::vector<uint8_t>& out, size_t p) const {
        const uint32_t b0 = out[p - 3], b1 = out[p - 2], b2 = out[p - 1];
        const uint32_t three = ((((b0 << 4) ^ b1) << 7) ^ b2) & 0xFFFF;
        return slots_[three * 4].position != kEmpty ? three : (b1 << 7) ^ b2;
    }
    int64_t Position(uint32_t bucket, uint32_t slot) const {
        return slots_[bucket * 4 + slot].position;
    }
    // A step at p: a match (selector 0-3) first stamps its slot; then the slot of the
    // smallest stamp (the lowest among equals) takes p with stamp 0.
    void Update(uint32_t bucket, size_t p, int selector) {
        Slot* s = &slots_[bucket * 4];
        if (selector >= 0) s[selector].stamp = stamp_++;
        Slot* oldest = std::min_element(
            s, s + 4, [](const Slot& a, const Slot& b) { return a.stamp < b.stamp; });
        *oldest = Slot{static_cast<int64_t>(p), 0};
    }

private:
    struct Slot {
        int64_t position;
        uint32_t stamp;
    };
    std::vector<Slot> slots_;
    uint32_t stamp_ = 100;
};

// Reports about every hundredth of the entry: the steps of a hundredth are
// 0.01 / (blockFraction / stepCount), truncated; a report comes at the first step and
// then at every step after that many steps without one, saying
// (s x blockFraction / stepCount + startFraction) x 100 percent, truncated and kept
// within 0 to 100. Every operation is single precision.
class Progress {
public:
    Progress(bool on, uint32_t stepCount, float startFraction, float blockFraction)
        : on_(on && stepCount > 0), start_(startFraction) {
        if (!on_) return;
        perStep_ = ToSingle(double{blockFraction} / double{static_cast<float>(stepCount)});
        // Past the range of a step counter (or infinite) it never comes.
        hundredth_ = std::trunc(ToSingle(double{0.01f} / perStep_));
    }
    void Step(uint64_t s, std::vector<int>* reports) {
        if (!on_) return;
        if (static_cast<double>(sinceReport_) < hundredth_) {
            ++sinceReport_;
            return;
        }
        sinceReport_ = 0;
        const float done = ToSingle(double{ToSingle(static_cast<double>(s))} * perStep_);
        const float percent = ToSingle(double{ToSingle(double{done} + start_)} * 100.0);
        const double whole = std::trunc(percent);
        reports->push_back(std::isnan(whole) ? 0 : static_cast<int>(std::clamp(whole, 0.0, 100.0)));
    }

private:
    bool on_;
    float start_;
    float perStep_ = 0.0f;
    double hundredth_ = 0.0;
    uint64_t sinceReport_ = 0;
};

}  // namespace

int Tree::Add(int parent, uint32_t value, uint32_t weight) {
    nodes_.push_back(Node{parent, kNone, kNone, value, weight});
    return static_cast<int>(nodes_.size()) - 1;
}

void Tree::Build(const std::vector<Entry>& table) {
    nodes_.clear();
    Add(kNone, kInner, 0);
    for (const Entry& e : table) {
        if (e.weight == 0) break;
        if (nodes_[0].left == kNone || nodes_[0].right == kNone) {
            const int leaf = Add(0, e.symbol, e.weight);
            (nodes_[0].right == kNone ? nodes_[0].right : nodes_[0].left) = leaf;
            continue;
        }
        int at = 0;
        while (nodes_[at].left != kNone) {
            const Node& n = nodes_[at];
            at = nodes_[n.left].weight < nodes_[n.right].weight ? n.left : n.right;
        }
        const int copy = Add(at, nodes_[at].value, nodes_[at].weight);
        const int added = Add(at, e.symbol, e.weight);
        const bool addedLeft = e.weight <= nodes_[at].weight;
        nodes_[at].left = addedLeft ? added : copy;
        nodes_[at].right = addedLeft ? copy : added;
        nodes_[at].value = kInner;
        for (int up = at; up != kNone; up = nodes_[up].parent) nodes_[up].weight += e.weight;
    }
}

bool Tree::Decode(const uint8_t* buffer, uint32_t& pos, uint32_t limitBits, uint32_t* value) const {
    int at = 0;
    while (nodes_[at].left != kNone || nodes_[at].right != kNone) {
        if (pos >= limitBits) return false;
        at = Bit(buffer, pos++) ? nodes_[at].right : nodes_[at].left;
        if (at == kNone) {
            *value = kMissingChild;
            return true;
        }
    }
    *value = nodes_[at].value;
    return true;
}

std::vector<Tree::Leaf> Tree::Leaves() const {
    std::vector<Leaf> leaves;
    // Depth first, the left child before the right, each node with its path.
    std::vector<std::pair<int, std::vector<uint8_t>>> pending{{0, {}}};
    while (!pending.empty()) {
        auto [at, path] = std::move(pending.back());
        pending.pop_back();
        const Node& n = nodes_[at];
        if (n.left == kNone && n.right == kNone) {
            if (at != 0) leaves.push_back(Leaf{n.value, path});
            continue;
        }
        for (const auto& [child, bit] : {std::pair{n.right, 1}, std::pair{n.left, 0}}) {
            if (child == kNone) continue;
            pending.emplace_back(child, path);
            pending.back().second.push_back(static_cast<uint8_t>(bit));
        }
    }
    return leaves;
}

BlockResult DecodeBlock(const uint8_t* body, uint32_t bitCount, uint32_t limitBits,
                        uint64_t capacity, float startFraction, float blockFraction,
                        bool reportProgress) {
    BlockResult r;
    auto corrupt = [&r]() {
        r.code = vorx_CorruptArchive;
        return r;
    };
    const uint32_t head1 = Field(body, 0, 32), head2 = Field(body, 32, 32);
    const uint32_t stepCount = (head1 & 0xFFFFFF) | ((head2 >> 28) << 24);
    const uint32_t literalCount = (head1 >> 24) + 1;
    const uint32_t lengthCount = head2 & 0xFFFF;
    const uint32_t flagCount = ((head2 >> 16) & 15) + 1;
    const uint32_t literalWidth = (head2 >> 20) & 15;
    const uint32_t slotCount = ((head2 >> 24) & 15) + 1;

    // The four tables, in this order: each entry is its symbol (a field of symbolWidth
    // bits, or escape-coded when symbolWidth < 0) then its escape-coded weight; a table
    // ends early where the block's bits end.
    uint32_t pos = 64;
    auto readTable = [&](Tree& tree, uint32_t count, int symbolWidth) {
        std::vector<Entry> table(count, Entry{0, 0});
        for (Entry& e : table) {
            if (pos >= bitCount) break;
            if (symbolWidth < 0) {
                e.symbol = Escaped(body, pos);
                if (e.symbol == 0) return false;
            } else {
                e.symbol = Field(body, pos, static_cast<uint32_t>(symbolWidth));
                pos += static_cast<uint32_t>(symbolWidth);
            }
            e.weight = Escaped(body, pos);
            if (e.weight == 0) return false;
        }
        tree.Build(table);
        return true;
    };
    Tree flags, literals, lengths, slots;
    if (!readTable(flags, flagCount, 4) ||
        !readTable(literals, literalCount, static_cast<int>(literalWidth)) ||
        !readTable(lengths, lengthCount, -1) || !readTable(slots, slotCount, 4) || pos >= bitCount)
        return corrupt();

    ContextModel contexts;
    std::vector<uint8_t>& out = r.output;
    uint32_t flagSymbol = 0, flagIndex = 4, slotSymbol = 0, selectorIndex = 4, bucket = 0;
    int64_t snapshot[4] = {kEmpty, kEmpty, kEmpty, kEmpty};
    Progress progress(reportProgress, stepCount, startFraction, blockFraction);
    auto code = [&](const Tree& tree, uint32_t* value) {
        return tree.Decode(body, pos, limitBits, value);
    };
    // A step: its flag (four to a flag symbol) says a literal or a match; a match is its
    // length then its selector (two to a slot symbol), which names the slot of the bucket
    // as it was before the step. From position 3 on, every step updates the bucket.
    for (uint64_t s = 0; s < stepCount; ++s) {
        const size_t p = out.size();
        if (p >= 3) {
            bucket = contexts.Select(out, p);
            for (uint32_t i = 0; i < 4; ++i) snapshot[i] = contexts.Position(bucket, i);
        }
        progress.Step(s, &r.progress);
        if (flagIndex == 4 && !code(flags, &flagSymbol)) return corrupt();
        if (flagIndex == 4) flagIndex = 0;
        const bool match = (flagSymbol >> flagIndex++) & 1u;
        uint32_t value = 0;  // the literal's symbol or the match's length
        if (!code(match ? lengths : literals, &value)) return corrupt();
        int selector = -1;
        if (match) {
            if (selectorIndex == 4 && !code(slots, &slotSymbol)) return corrupt();
            if (selectorIndex == 4) selectorIndex = 0;
            selector = static_cast<int>((slotSymbol >> selectorIndex) & 3u);
            selectorIndex += 2;
        }
        if (p >= 3) contexts.Update(bucket, p, selector);
        if (match && snapshot[selector] == kEmpty) return corrupt();
        // A match copies byte by byte from its source; output beyond capacity is corrupt.
        for (uint64_t i = 0; i < (match ? value : 1u); ++i) {
            if (out.size() >= capacity) return corrupt();
            out.push_back(match ? out[static_cast<size_t>(snapshot[selector] + i)]
                                : static_cast<uint8_t>(value & 0xFF));
        }
    }
    return r;
}

}  // namespace reference
