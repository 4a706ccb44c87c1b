// The decoder's context table as the compressor runs it.
//
// A match names one of the four slots of the bucket that the bytes before the current
// position select, so the compressor keeps the same table, step for step, and only
// ever emits a match whose slot holds, when the decoder gets there, the position the
// compressor copies from. The table follows the decoder's rules exactly:
//
//   - At a position p >= 3 with bytes b0 b1 b2 before it, the three-byte index
//     ((b0 << 11) ^ (b1 << 7) ^ b2) & 0xFFFF selects its bucket when that bucket's
//     slot 0 holds a position; otherwise the two-byte index (b1 << 7) ^ b2 does.
//   - Every step at p >= 3 puts p into the selected bucket: a match first makes the
//     slot it copies from the most recently used, then p replaces the slot that comes
//     first in the replacement order (slots never used by a match, lowest first, then
//     the least recently used).
//
// Only buckets below 32768 are ever written (a bucket is written only when selected,
// and a three-byte index is selected only when already written), so the model keeps
// that half. Slots hold positions plus one, 0 marking an empty slot; a bitmap of the
// buckets written so far empties the table for a new block (a bucket is emptied when
// it is first selected).
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include <array>

namespace vorx {

// A bucket's stamps matter only through their order: a new position replaces the slot
// of the smallest stamp (the lowest slot among equals) and gets stamp 0; a match first
// gives the slot it copies from a stamp above all others. So the stamps of a bucket
// are one of 24 x 5 replacement orders (the slots from the first to be replaced to the
// last, and how many of the first ones have stamp 0), and each step's change is a
// table look-up made at compile time.
namespace StampOrder {

struct Change {
    uint8_t next;    // the order afterwards
    uint8_t victim;  // the slot that takes the step's position
};

namespace detail {

struct Order {
    uint8_t slot[4];  // first to be replaced first
    uint8_t zeros;    // how many of the first slots have stamp 0
};

constexpr std::array<std::array<uint8_t, 4>, 24> Permutations() {
    std::array<std::array<uint8_t, 4>, 24> all{};
    int n = 0;
    for (uint8_t a = 0; a < 4; ++a)
        for (uint8_t b = 0; b < 4; ++b)
            for (uint8_t c = 0; c < 4; ++c)
                for (uint8_t d = 0; d < 4; ++d)
                    if (a != b && a != c && a != d && b != c && b != d && c != d)
                        all[n++] = {a, b, c, d};
    return all;
}
inline constexpr auto kPermutations = Permutations();

constexpr uint8_t Key(const Order& o) {
    for (uint8_t i = 0; i < 24; ++i) {
        const auto& p = kPermutations[i];
        if (p[0] == o.slot[0] && p[1] == o.slot[1] && p[2] == o.slot[2] && p[3] == o.slot[3])
            return static_cast<uint8_t>(i * 5 + o.zeros);
    }
    return 0;
}

constexpr Order FromKey(uint8_t key) {
    const auto& p = kPermutations[key / 5];
    return Order{{p[0], p[1], p[2], p[3]}, static_cast<uint8_t>(key % 5)};
}

// The first slot in order takes the new position and stamp 0: if it had the stamp of
// a match, it becomes the only slot of stamp 0 (its place in the order stays first).
constexpr Change Place(Order o) {
    if (o.zeros == 0) o.zeros = 1;
    return Change{Key(o), o.slot[0]};
}

// A match from `selector`: that slot gets the newest stamp (it moves last and leaves
// the slots of stamp 0 if it was one), then the step's position is placed.
constexpr Change AfterMatch(Order o, uint8_t selector) {
    int at = 0;
    while (o.slot[at] != selector) ++at;
    if (at < o.zeros) --o.zeros;
    for (int i = at; i < 3; ++i) o.slot[i] = o.slot[i + 1];
    o.slot[3] = selector;
    return Place(o);
}

constexpr std::array<Change, 120> LiteralTable() {
    std::array<Change, 120> t{};
    for (uint8_t k = 0; k < 120; ++k) t[k] = Place(FromKey(k));
    return t;
}

constexpr std::array<std::array<Change, 4>, 120> MatchTable() {
    std::array<std::array<Change, 4>, 120> t{};
    for (uint8_t k = 0; k < 120; ++k)
        for (uint8_t s = 0; s < 4; ++s) t[k][s] = AfterMatch(FromKey(k), s);
    return t;
}

}  // namespace detail

// All four slots of stamp 0: 0, 1, 2, 3.
inline constexpr uint8_t kInitial = detail::Key(detail::Order{{0, 1, 2, 3}, 4});
// A literal step: the first slot in order takes the position.
inline constexpr std::array<Change, 120> kLiteral = detail::LiteralTable();
// A match from slot `selector`: that slot becomes the newest, then the first slot in
// order takes the position (never the selected one).
inline constexpr std::array<std::array<Change, 4>, 120> kMatch = detail::MatchTable();

}  // namespace StampOrder

// The slot number of a literal step in the compressor's step records.
constexpr uint32_t kLiteralSlot = 4;

struct ModelBucket {
    uint32_t position[4];  // position + 1; 0 is an empty slot
    uint8_t order;         // StampOrder key: the slots' replacement order

    static ModelBucket Empty() { return ModelBucket{{0, 0, 0, 0}, StampOrder::kInitial}; }

    // The bucket after a step at `p`: a literal (slot kLiteralSlot) or a match that
    // copies from `slot`.
    ModelBucket After(uint32_t slot, size_t p) const {
        const StampOrder::Change c =
            slot < 4 ? StampOrder::kMatch[order][slot] : StampOrder::kLiteral[order];
        ModelBucket b = *this;
        b.position[c.victim] = static_cast<uint32_t>(p) + 1;
        b.order = c.next;
        return b;
    }
};

// The two indices a position's bytes give.
struct BucketKeys {
    uint32_t threeByte;  // below 32768 only when it can be selected at all
    uint32_t twoByte;
};

inline BucketKeys KeysAt(const uint8_t* d, size_t p) {
    const uint32_t b0 = d[p - 3], b1 = d[p - 2], b2 = d[p - 1];
    const uint32_t two = (b1 << 7) ^ b2;
    return BucketKeys{((b0 << 11) ^ two) & 0xFFFFu, two};
}

// Number of equal bytes at d + s and d + p, at most `limit` (s < p; the ranges may
// overlap, as the decoder's byte-by-byte copy allows).
inline uint32_t CommonLength(const uint8_t* d, size_t s, size_t p, size_t limit) {
    size_t len = 0;
    while (len + 8 <= limit) {
        uint64_t a, b;
        std::memcpy(&a, d + s + len, 8);
        std::memcpy(&b, d + p + len, 8);
        if (a != b)
            return static_cast<uint32_t>(len +
                                         (static_cast<unsigned>(std::countr_zero(a ^ b)) >> 3));
        len += 8;
    }
    while (len < limit && d[s + len] == d[p + len]) ++len;
    return static_cast<uint32_t>(len);
}

class MatchModel {
public:
    static constexpr uint32_t kBuckets = 32768;

    MatchModel() : written_(kBuckets / 64, 0), lines_(kBuckets), orders_(kBuckets) {}

    // Empties every bucket for a new block of `n` bytes at `data`. A 4 KiB bitmap says
    // which buckets hold anything, so that the look-ups stay near the processor.
    void Clear(const uint8_t* data, size_t n) {
        std::fill(written_.begin(), written_.end(), uint64_t{0});
        data_ = data;
        n_ = n;
    }

    // The replacement order of a written bucket.
    uint8_t Order(uint32_t index) const { return orders_[index]; }

    bool Written(uint32_t index) const {
        return index < kBuckets && ((written_[index >> 6] >> (index & 63)) & 1u);
    }

    ModelBucket Get(uint32_t index) const {
        if (!Written(index)) return ModelBucket::Empty();
        ModelBucket b;
        std::memcpy(b.position, lines_[index].position, sizeof b.position);
        b.order = orders_[index];
        return b;
    }

    // The step at p in bucket `index`: a literal (slot kLiteralSlot) or a match that
    // copies from `slot`.
    void Step(uint32_t index, size_t p, uint32_t slot) {
        Line& line = lines_[index];
        uint8_t& order = orders_[index];
        if (!Written(index)) {
            line = Line{};
            order = StampOrder::kInitial;
            written_[index >> 6] |= uint64_t{1} << (index & 63);
        }
        const StampOrder::Change c =
            slot < 4 ? StampOrder::kMatch[order][slot] : StampOrder::kLiteral[order];
        line.position[c.victim] = static_cast<uint32_t>(p) + 1;
        line.check[c.victim] = Word(p);
        order = c.next;
    }

    // The bucket the decoder selects at p (p >= 3).
    uint32_t Select(size_t p) const {
        const BucketKeys k = KeysAt(data_, p);
        return Written(k.threeByte) ? k.threeByte : k.twoByte;
    }

    // The match length at p (at most `limit`) of each slot of bucket `index` (0 for an
    // empty slot). The first four bytes of every position in the table are kept beside
    // it, so that most candidates are judged without reading the block far away.
    void Lengths(uint32_t index, size_t p, size_t limit, uint32_t out[4]) const {
        if (!Written(index)) {
            out[0] = out[1] = out[2] = out[3] = 0;
            return;
        }
        const Line& line = lines_[index];
        const uint32_t here = Word(p);
        for (uint32_t k = 0; k < 4; ++k) {
            const uint32_t pos = line.position[k];
            const uint32_t x = line.check[k] ^ here;
            size_t len;
            if (!pos)
                len = 0;
            else if (x)
                len = static_cast<size_t>(std::countr_zero(x) >> 3);
            else
                len = limit > 4 ? 4 + CommonLength(data_, pos - 1 + 4, p + 4, limit - 4) : 4;
            out[k] = static_cast<uint32_t>(std::min(len, limit));
        }
    }

private:
    // The four bytes at q (zeros past the block's end), least significant first.
    uint32_t Word(size_t q) const {
        if (q + 4 <= n_) {
            uint32_t w;
            std::memcpy(&w, data_ + q, 4);
            return w;
        }
        uint32_t w = 0;
        for (size_t i = 0; q + i < n_; ++i) w |= uint32_t{data_[q + i]} << (8 * i);
        return w;
    }

    struct alignas(32) Line {
        uint32_t position[4];
        uint32_t check[4];  // the four bytes at each position
    };
    std::vector<uint64_t> written_;
    std::vector<Line> lines_;
    std::vector<uint8_t> orders_;
    const uint8_t* data_ = nullptr;
    size_t n_ = 0;
};

}  // namespace vorx
