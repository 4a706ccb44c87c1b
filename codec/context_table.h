// The decoder's context table: buckets of four slots. A slot remembers a position of
// the current block's output that followed the bucket's context; the slots' stamps
// decide which slot a new position replaces.
//
// The format speaks of 65536 buckets, selected by the three bytes before the current
// position, or by the two bytes before it (an index below 32768) when the three-byte
// bucket's slot 0 is empty. A bucket is written only when it is selected, and a
// three-byte index is selected only when its bucket already holds a position, so by
// induction no bucket at 32768 or above ever holds one: the table keeps the lower
// half, and a three-byte index at or above 32768 is always empty.
//
// Stamps matter only through their order. A new position replaces the slot of the
// smallest stamp (the lowest slot among equals) and gets stamp 0; a match first gives
// the slot it copies from a stamp above all others. So the state of a bucket's stamps
// is the replacement order of its slots: first the slots of stamp 0 by slot number,
// then the others from the oldest match to the newest. That order is one byte, and
// its changes come from small tables made at compile time.
//
// Every compressed block starts with an empty table. A byte per bucket says whether
// the current block has written it (every selected bucket takes a position in the
// same step, so a bucket is written exactly when it has been selected); a bucket whose
// byte is clear reads as empty and is emptied when it is first selected. Clearing the
// table is clearing those 32 KiB, where a fill of the buckets would cost more than the
// whole decode of most entries (most are a few KiB). Bytes rather than bits: a step
// tests two of them, and a bit costs several instructions more to test each time.
//
// The table is laid out for the cache: the written marks and the slot orders (32 KiB
// each) stay near the processor, and the positions (512 KiB) are touched once per
// step, where buckets of 32 bytes with their generation made two lines of a megabyte
// per step.
#pragma once

#include <array>
#include <cstdint>

namespace vorx {

// Replacement orders of four slots and how a step changes them. An order lists the
// slots from the first to be replaced to the last: those of stamp 0 by slot number,
// then the others from the oldest match to the newest. Every step gives its own
// position stamp 0, so some slot always has stamp 0 (the initial order has four) and a
// literal step never changes the order: it replaces the first slot, which stays first.
// Only a match changes it. The 41 orders that occur are numbered, and an order is kept
// as (number << 2) | its first slot, so that a literal finds its slot without a table.
namespace SlotOrder {

namespace detail {

struct Order {
    uint8_t slot[4];
    uint8_t zeros;  // how many of the first slots have stamp 0 (at least 1)
};

constexpr bool Same(const Order& a, const Order& b) {
    return a.zeros == b.zeros && a.slot[0] == b.slot[0] && a.slot[1] == b.slot[1] && a.slot[2] == b.slot[2] &&
           a.slot[3] == b.slot[3];
}

// A match from `selector`: that slot gets the newest stamp (moves last; it leaves the
// slots of stamp 0 if it was one), then the first slot takes the position and stamp 0
// (if it had the stamp of a match, it becomes the only slot of stamp 0).
constexpr Order AfterMatch(Order o, uint8_t selector) {
    int at = 0;
    while (o.slot[at] != selector) ++at;
    if (at < o.zeros) --o.zeros;
    for (int i = at; i < 3; ++i) o.slot[i] = o.slot[i + 1];
    o.slot[3] = selector;
    if (o.zeros == 0) o.zeros = 1;
    return o;
}

inline constexpr Order kStart = {{0, 1, 2, 3}, 4};

struct Orders {
    Order list[64];
    int count;
};

// Every order reachable from the start by matches.
constexpr Orders Reachable() {
    Orders r{};
    r.list[0] = kStart;
    r.count = 1;
    for (int i = 0; i < r.count; ++i) {
        for (uint8_t s = 0; s < 4; ++s) {
            const Order next = AfterMatch(r.list[i], s);
            bool known = false;
            for (int k = 0; k < r.count; ++k) known = known || Same(r.list[k], next);
            if (!known) r.list[r.count++] = next;
        }
    }
    return r;
}
inline constexpr Orders kOrders = Reachable();
static_assert(kOrders.count == 41);

constexpr uint8_t Key(const Order& o) {
    for (int i = 0; i < kOrders.count; ++i)
        if (Same(kOrders.list[i], o)) return static_cast<uint8_t>((i << 2) | o.slot[0]);
    return 0;
}

constexpr std::array<std::array<uint8_t, 4>, 256> MatchTable() {
    std::array<std::array<uint8_t, 4>, 256> t{};
    for (int i = 0; i < kOrders.count; ++i)
        for (uint8_t s = 0; s < 4; ++s) t[Key(kOrders.list[i])][s] = Key(AfterMatch(kOrders.list[i], s));
    return t;
}

}  // namespace detail

// The order of a bucket whose slots all have stamp 0: 0, 1, 2, 3.
inline constexpr uint8_t kInitial = detail::Key(detail::kStart);

// The slot a step replaces in a bucket of order `order` (the first in order). A
// literal step leaves the order as it is.
inline uint32_t FirstSlot(uint8_t order) { return order & 3u; }

// The order after a match from slot `selector`; the step's position then goes to
// FirstSlot of it (never the selected slot, which is now the newest).
inline constexpr std::array<std::array<uint8_t, 4>, 256> kMatch = detail::MatchTable();

}  // namespace SlotOrder

struct ContextTable {
    static constexpr uint32_t kBucketCount = 32768;  // the buckets that can be written
    static constexpr uint32_t kIndexCount = 65536;   // the indices a context can select

    // Per bucket: output offset in the block + 1 of each slot; 0 marks an empty slot.
    uint32_t positions[kBucketCount][4];
    // Per bucket: 1 when the current block has written it.
    uint8_t filled[kBucketCount];
    // Per bucket: the replacement order of its slots (see SlotOrder).
    uint8_t order[kBucketCount];

    // Empties every slot (clears the written marks).
    void Clear();

    // The bucket of the three bytes b0 b1 b2 before the current position, or of b1 b2
    // when the first one's slot 0 is empty (its mark is clear), made current: emptied
    // when the current block has not written it yet.
    uint32_t Select(uint32_t b0, uint32_t b1, uint32_t b2);
};

// Without a branch on which bucket it is (that follows the data). A three-byte index of
// 32768 or more (bit 4 of b0 set) is never written: it counts as empty whatever the
// mark at its lower 15 bits.
inline uint32_t ContextTable::Select(uint32_t b0, uint32_t b1, uint32_t b2) {
    const uint32_t twoByte = (b1 << 7) ^ b2;
    const uint32_t threeByte = ((b0 << 11) ^ twoByte) & 0xFFFFu;
    const uint32_t threeFilled = filled[threeByte & (kBucketCount - 1)] & ((threeByte >> 15) ^ 1u);
    const uint32_t bucket = threeFilled ? threeByte : twoByte;
    if (!filled[bucket]) {
        filled[bucket] = 1;
        positions[bucket][0] = positions[bucket][1] = positions[bucket][2] = positions[bucket][3] = 0;
        order[bucket] = SlotOrder::kInitial;
    }
    return bucket;
}

// Makes a table (all buckets empty) or returns null when memory cannot be had.
ContextTable* CreateContextTable();
// Frees a table made by CreateContextTable (null allowed).
void ReleaseContextTable(ContextTable* table);

}  // namespace vorx
