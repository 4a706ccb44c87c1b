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

// A field of `width` bits from bit pos on, its first bit the least significant.
uint32_t Field(const uint8_t* buffer, uint32_t& pos, uint32_t width) {
    uint32_t value = 0;
    for (uint32_t k = 0; k < width; ++k) value |= Bit(buffer, pos++) << k;
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

}  // namespace

void Tree::Build(const std::vector<Entry>& table) {
    auto add = [this](int parent, uint32_t value, uint32_t weight) {
        nodes_.push_back(Node{parent, kNone, kNone, value, weight});
        return static_cast<int>(nodes_.size()) - 1;
    };
    nodes_.clear();
    add(kNone, kInner, 0);
    for (const Entry& e : table) {
        if (e.weight == 0) break;
        if (nodes_[0].left == kNone || nodes_[0].right == kNone) {
            const int leaf = add(0, e.symbol, e.weight);
            (nodes_[0].right == kNone ? nodes_[0].right : nodes_[0].left) = leaf;
            continue;
        }
        int at = 0;
        while (nodes_[at].left != kNone) {
            const Node& n = nodes_[at];
            at = nodes_[n.left].weight < nodes_[n.right].weight ? n.left : n.right;
        }
        const int copy = add(at, nodes_[at].value, nodes_[at].weight);
        const int added = add(at, e.symbol, e.weight);
        const bool addedLeft = e.weight <= nodes_[at].weight;
        nodes_[at].left = addedLeft ? added : copy;
        nodes_[at].right = addedLeft ? copy : added;
        nodes_[at].value = kInner;
        for (int up = at; up != kNone; up = nodes_[up].parent) nodes_[up].weight += e.weight;
    }
}

bool Tree::Decode(const uint8_t* buffer, uint32_t& pos, uint32_t limitBits, uint32_t* value) const {
    int at = 0;
    while (at != kNone && (nodes_[at].left != kNone || nodes_[at].right != kNone)) {
        if (pos >= limitBits) return false;
        at = Bit(buffer, pos++) ? nodes_[at].right : nodes_[at].left;
    }
    *value = at == kNone ? kMissingChild : nodes_[at].value;
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
        if (n.left == kNone && n.right == kNone && at != 0) leaves.push_back(Leaf{n.value, path});
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
    uint32_t pos = 0;
    const uint32_t head1 = Field(body, pos, 32), head2 = Field(body, pos, 32);
    const uint32_t stepCount = (head1 & 0xFFFFFF) | ((head2 >> 28) << 24);
    const uint32_t literalCount = (head1 >> 24) + 1;
    const uint32_t lengthCount = head2 & 0xFFFF;
    const uint32_t flagCount = ((head2 >> 16) & 15) + 1;
    const uint32_t literalWidth = (head2 >> 20) & 15;
    const uint32_t slotCount = ((head2 >> 24) & 15) + 1;

    // The four tables, in this order: each entry is its symbol (a field of symbolWidth
    // bits, or escape-coded when symbolWidth < 0) then its escape-coded weight; a table
    // ends early where the block's bits end.
    auto readTable = [&](Tree& tree, uint32_t count, int symbolWidth) {
        std::vector<Entry> table(count, Entry{0, 0});
        for (Entry& e : table) {
            if (pos >= bitCount) break;
            e.symbol = symbolWidth < 0 ? Escaped(body, pos)
                                       : Field(body, pos, static_cast<uint32_t>(symbolWidth));
            e.weight = Escaped(body, pos);
            if ((symbolWidth < 0 && e.symbol == 0) || e.weight == 0) return false;
        }
        tree.Build(table);
        return true;
    };
    Tree flags, literals, lengths, slots;
    if (!readTable(flags, flagCount, 4) ||
        !readTable(literals, literalCount, static_cast<int>(literalWidth)) ||
        !readTable(lengths, lengthCount, -1) || !readTable(slots, slotCount, 4) || pos >= bitCount)
        return corrupt();

    // The context table: 65536 buckets of four slots, each a position (every slot empty
    // at the start of a block) and a stamp.
    std::vector<std::pair<int64_t, uint32_t>> contexts(65536 * 4, {kEmpty, 0});
    uint32_t stamp = 100;
    std::vector<uint8_t>& out = r.output;
    uint32_t flagSymbol = 0, flagIndex = 4, slotSymbol = 0, selectorIndex = 4, bucket = 0;
    int64_t snapshot[4] = {kEmpty, kEmpty, kEmpty, kEmpty};
    auto code = [&](const Tree& tree, uint32_t* value) {
        return tree.Decode(body, pos, limitBits, value);
    };
    // Reports about every hundredth of the entry: the steps of a hundredth are
    // 0.01 / (blockFraction / stepCount), truncated; a report comes at the first step and
    // then at every step after that many steps without one, saying
    // (s x blockFraction / stepCount + startFraction) x 100 percent, truncated and kept
    // within 0 to 100. Every operation is single precision.
    const float perStep =
        ToSingle(double{blockFraction} / double{static_cast<float>(std::max(stepCount, 1u))});
    // Past the range of a step counter (or infinite) it never comes.
    const double hundredth = std::trunc(ToSingle(double{0.01f} / perStep));
    uint64_t sinceReport = 0;

    // A step: its flag (four to a flag symbol) says a literal or a match; a match is its
    // length then its selector (two to a slot symbol), which names the slot of the bucket
    // as it was before the step.
    for (uint64_t s = 0; s < stepCount; ++s) {
        const size_t p = out.size();
        if (p >= 3) {
            // The bucket of the three bytes before p, or of the two bytes before it when
            // the first one's slot 0 is empty.
            const uint32_t b0 = out[p - 3], b1 = out[p - 2], b2 = out[p - 1];
            const uint32_t three = ((((b0 << 4) ^ b1) << 7) ^ b2) & 0xFFFF;
            bucket = contexts[three * 4].first != kEmpty ? three : (b1 << 7) ^ b2;
            for (uint32_t i = 0; i < 4; ++i) snapshot[i] = contexts[bucket * 4 + i].first;
        }
        if (reportProgress && static_cast<double>(sinceReport) < hundredth) {
            ++sinceReport;
        } else if (reportProgress) {
            sinceReport = 0;
            const float done = ToSingle(double{ToSingle(static_cast<double>(s))} * perStep);
            const float percent = ToSingle(double{ToSingle(double{done} + startFraction)} * 100.0);
            const double whole = std::trunc(percent);
            r.progress.push_back(
                std::isnan(whole) ? 0 : static_cast<int>(std::clamp(whole, 0.0, 100.0)));
        }
        if (flagIndex == 4 && !code(flags, &flagSymbol)) return corrupt();
        if (flagIndex == 4) flagIndex = 0;
        const bool match = (flagSymbol >> flagIndex++) & 1u;
        uint32_t value = 0;  // the literal's symbol or the match's length
        if (!code(match ? lengths : literals, &value)) return corrupt();
        uint32_t selector = 0;
        if (match) {
            if (selectorIndex == 4 && !code(slots, &slotSymbol)) return corrupt();
            if (selectorIndex == 4) selectorIndex = 0;
            selector = (slotSymbol >> selectorIndex) & 3u;
            selectorIndex += 2;
        }
        // From position 3 on, a step updates the bucket: a match first stamps its slot;
        // then the slot of the smallest stamp (the lowest among equals) takes p, stamp 0.
        if (p >= 3) {
            auto* slot = &contexts[bucket * 4];
            if (match) slot[selector].second = stamp++;
            *std::min_element(slot, slot + 4, [](const auto& a, const auto& b) {
                return a.second < b.second;
            }) = {static_cast<int64_t>(p), 0};
        }
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
