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
// that half. Slots hold positions plus one, 0 marking an empty slot; a generation per
// bucket empties the table for a new block in constant time.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "codec/context_table.h"

namespace vorx {

// The slot number of a literal step in the compressor's step records.
constexpr uint32_t kLiteralSlot = 4;

struct ModelBucket {
    uint32_t position[4];  // position + 1; 0 is an empty slot
    uint8_t order;         // SlotOrder key: the slots' replacement order

    static ModelBucket Empty() { return ModelBucket{{0, 0, 0, 0}, SlotOrder::kInitial}; }

    // The bucket after a step at `p`: a literal (slot kLiteralSlot) or a match that
    // copies from `slot`.
    ModelBucket After(uint32_t slot, size_t p) const {
        const SlotOrder::Change c = slot < 4 ? SlotOrder::kMatch[order][slot] : SlotOrder::kLiteral[order];
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

class MatchModel {
public:
    static constexpr uint32_t kBuckets = 32768;

    MatchModel() : written_(kBuckets / 64, 0), positions_(kBuckets), orders_(kBuckets) {}

    // Empties every bucket (a new block): a 4 KiB bitmap says which buckets hold
    // anything, so that the look-ups stay near the processor.
    void Clear() { std::fill(written_.begin(), written_.end(), uint64_t{0}); }

    bool Written(uint32_t index) const {
        return index < kBuckets && ((written_[index >> 6] >> (index & 63)) & 1u);
    }

    ModelBucket Get(uint32_t index) const {
        if (!Written(index)) return ModelBucket::Empty();
        ModelBucket b;
        std::memcpy(b.position, positions_[index].p, sizeof b.position);
        b.order = orders_[index];
        return b;
    }

    void Put(uint32_t index, const ModelBucket& b) {
        written_[index >> 6] |= uint64_t{1} << (index & 63);
        std::memcpy(positions_[index].p, b.position, sizeof b.position);
        orders_[index] = b.order;
    }

    // The bucket the decoder selects at p (p >= 3).
    uint32_t Select(const uint8_t* d, size_t p) const {
        const BucketKeys k = KeysAt(d, p);
        return Written(k.threeByte) ? k.threeByte : k.twoByte;
    }

    // The step at p in bucket `index`.
    void Step(uint32_t index, size_t p, uint32_t slot) { Put(index, Get(index).After(slot, p)); }

private:
    struct alignas(16) Positions {
        uint32_t p[4];
    };
    std::vector<uint64_t> written_;
    std::vector<Positions> positions_;
    std::vector<uint8_t> orders_;
};

// Number of equal bytes at d + s and d + p, at most `limit` (s < p; the ranges may
// overlap, as the decoder's byte-by-byte copy allows).
inline uint32_t CommonLength(const uint8_t* d, size_t s, size_t p, size_t limit) {
    size_t len = 0;
    while (len + 8 <= limit) {
        uint64_t a, b;
        std::memcpy(&a, d + s + len, 8);
        std::memcpy(&b, d + p + len, 8);
        if (a != b) return static_cast<uint32_t>(len + (static_cast<unsigned>(std::countr_zero(a ^ b)) >> 3));
        len += 8;
    }
    while (len < limit && d[s + len] == d[p + len]) ++len;
    return static_cast<uint32_t>(len);
}

}  // namespace vorx
