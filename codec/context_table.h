// The decoder's context table: buckets of four slots. A slot remembers a position of
// the current block's output that followed the bucket's context; the slots' stamps
// decide which slot a new position replaces.
//
// The format speaks of 65536 buckets, selected by the three bytes before the current
// position, or by the two bytes before it (an index below 32768) when the three-byte
// bucket's slot 0 is empty. A bucket is written only when it is selected, and a
// three-byte index is selected only when its bucket already holds a position, so by
// induction no bucket at 32768 or above ever holds one: the table keeps the lower
// half, and a three-byte index at or above 32768 is known empty without a look.
//
// Stamps matter only through their order. A new position replaces the slot of the
// smallest stamp (the lowest slot among equals) and gets stamp 0; a match first gives
// the slot it copies from a stamp above all others. So the state of a bucket's stamps
// is the replacement order of its slots: first the slots of stamp 0 by slot number,
// then the others from the oldest match to the newest. That order is one byte, and
// its changes come from small tables made at compile time.
//
// Every compressed block starts with an empty table. Each bucket carries the
// generation of the block that last wrote it, and a bucket of another generation reads
// as empty, so clearing the table costs one increment rather than a fill of its
// megabyte (most entries are a few KiB; a fill would cost more than their decode).
#pragma once

#include <array>
#include <cstdint>

namespace vorx {

struct alignas(32) ContextBucket {
    uint32_t position[4];  // output offset in the block + 1; 0 marks an empty slot
    uint16_t generation;   // block generation that last wrote the bucket
    uint8_t order;         // replacement order of the slots (see SlotOrder)
    uint8_t unused[13];
};
static_assert(sizeof(ContextBucket) == 32);

// Replacement orders of four slots and how a step changes them. An order is a
// permutation of the slots and the number of them that have stamp 0 (they come first,
// by slot number); it is kept as permutation index x 5 + that number, below 120.
namespace SlotOrder {

struct Change {
    uint8_t next;    // the order afterwards
    uint8_t victim;  // the slot that takes the step's position
};

namespace detail {

struct Order {
    uint8_t slot[4];
    uint8_t zeros;
};

constexpr std::array<std::array<uint8_t, 4>, 24> Permutations() {
    std::array<std::array<uint8_t, 4>, 24> all{};
    int n = 0;
    for (uint8_t a = 0; a < 4; ++a)
        for (uint8_t b = 0; b < 4; ++b)
            for (uint8_t c = 0; c < 4; ++c)
                for (uint8_t d = 0; d < 4; ++d)
                    if (a != b && a != c && a != d && b != c && b != d && c != d) all[n++] = {a, b, c, d};
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

// The order of a bucket whose slots all have stamp 0: 0, 1, 2, 3.
inline constexpr uint8_t kInitial = detail::Key(detail::Order{{0, 1, 2, 3}, 4});
// A step without a match (a literal): the first slot in order takes the position.
inline constexpr std::array<Change, 120> kLiteral = detail::LiteralTable();
// A match from slot `selector`: that slot becomes the newest, then the first slot in
// order takes the position (never the selected one).
inline constexpr std::array<std::array<Change, 4>, 120> kMatch = detail::MatchTable();

}  // namespace SlotOrder

struct ContextTable {
    static constexpr uint32_t kBucketCount = 32768;  // the buckets that can be written

    ContextBucket* buckets;  // kBucketCount buckets and a spare one that stays empty
    uint16_t current;        // generation of the block being decoded (never 0)

    // Empties every slot: starts a new generation. When the counter wraps, the
    // generations are reset for real, once every 65535 blocks.
    void Clear();

    // The bucket of the three bytes b0 b1 b2 before the current position, or of b1 b2
    // when the first one's slot 0 is empty, made current (emptied when an earlier
    // block wrote it).
    ContextBucket* Select(uint32_t b0, uint32_t b1, uint32_t b2);
};

// ContextTable::Select on a table's buckets and current generation (which a decoder
// keeps in registers).
inline ContextBucket* SelectBucket(ContextBucket* buckets, uint16_t current, uint32_t b0, uint32_t b1,
                                   uint32_t b2) {
    const uint32_t twoByte = (b1 << 7) ^ b2;
    const uint32_t threeByte = ((b0 << 11) ^ twoByte) & 0xFFFFu;
    // Without branches (which bucket holds a position follows the data): a three-byte
    // index at or above kBucketCount looks at the spare bucket, which no block writes.
    // A bucket of the current generation has its slot 0 filled, since every selected
    // bucket takes a position in the same step.
    // Both generations are loaded at once, so that their latencies overlap.
    const uint32_t probe = threeByte < ContextTable::kBucketCount ? threeByte : ContextTable::kBucketCount;
    const bool probeFilled = buckets[probe].generation == current;
    const bool twoByteCurrent = buckets[twoByte].generation == current;
    ContextBucket* const b = &buckets[twoByte ^ ((probe ^ twoByte) & (0u - static_cast<uint32_t>(probeFilled)))];
    if (!(probeFilled | twoByteCurrent)) {
        b->position[0] = b->position[1] = b->position[2] = b->position[3] = 0;
        b->generation = current;
        b->order = SlotOrder::kInitial;
    }
    return b;
}

inline ContextBucket* ContextTable::Select(uint32_t b0, uint32_t b1, uint32_t b2) {
    return SelectBucket(buckets, current, b0, b1, b2);
}

// Makes a table (all buckets empty) or returns null when memory cannot be had.
ContextTable* CreateContextTable();
// Frees a table made by CreateContextTable (null allowed).
void ReleaseContextTable(ContextTable* table);

}  // namespace vorx
