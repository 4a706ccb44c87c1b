// The decoder's context table as the compressor runs it.
//
// A match names one of the four slots of the bucket that the bytes before the current
// position select, so the compressor keeps the same table, step for step, by the rules
// of codec/context_rules.h, and only ever emits a match whose slot holds, when the
// decoder gets there, the position the compressor copies from.
//
// Slots hold positions plus one, 0 marking an empty slot; a bitmap of the buckets
// written so far empties the table for a new block (a bucket is emptied when it is
// first selected).
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "codec/context_rules.h"

namespace vorx {

// The slot number of a literal step in the compressor's step records.
constexpr uint32_t kLiteralSlot = 4;

// The order of a bucket after a step: a literal (slot kLiteralSlot) or a match that
// copies from `slot`, which must be filled.
inline uint8_t OrderAfter(uint8_t order, uint32_t slot) {
    return slot < 4 ? SlotOrder::kMatch[order][slot] : SlotOrder::kLiteral[order];
}

// The slot that takes a step's position.
inline uint32_t Victim(uint8_t order, uint32_t slot) {
    return SlotOrder::FirstSlot(OrderAfter(order, slot));
}

struct ModelBucket {
    uint32_t position[4];  // position + 1; 0 is an empty slot
    uint8_t order;         // the slots' replacement order (SlotOrder)

    static ModelBucket Empty() { return ModelBucket{{0, 0, 0, 0}, SlotOrder::kUnwritten}; }

    // The bucket after a step at `p`: a literal (slot kLiteralSlot) or a match that
    // copies from `slot`.
    ModelBucket After(uint32_t slot, size_t p) const {
        ModelBucket b = *this;
        b.order = OrderAfter(order, slot);
        b.position[SlotOrder::FirstSlot(b.order)] = static_cast<uint32_t>(p) + 1;
        return b;
    }
};

// The two indices the bytes before position p >= 3 give.
inline ContextIndices IndicesAt(const uint8_t* d, size_t p) {
    return IndicesOf(d[p - 3], d[p - 2], d[p - 1]);
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
    MatchModel()
        : written_(kContextBuckets / 64, 0), lines_(kContextBuckets), orders_(kContextBuckets) {}

    // Empties every bucket for a new block of `n` bytes at `data`. A 4 KiB bitmap says
    // which buckets hold anything, so that the look-ups stay near the processor.
    void Clear(const uint8_t* data, size_t n) {
        std::fill(written_.begin(), written_.end(), uint64_t{0});
        data_ = data;
        n_ = n;
    }

    // The replacement order of a bucket.
    uint8_t Order(uint32_t index) const {
        return Written(index) ? orders_[index] : SlotOrder::kUnwritten;
    }

    bool Written(uint32_t index) const {
        return index < kContextBuckets && ((written_[index >> 6] >> (index & 63)) & 1u);
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
            order = SlotOrder::kUnwritten;
            written_[index >> 6] |= uint64_t{1} << (index & 63);
        }
        order = OrderAfter(order, slot);
        const uint32_t victim = SlotOrder::FirstSlot(order);
        line.position[victim] = static_cast<uint32_t>(p) + 1;
        line.check[victim] = Word(p);
    }

    // The bucket the decoder selects at p (p >= 3).
    uint32_t Select(size_t p) const {
        const ContextIndices k = IndicesAt(data_, p);
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
