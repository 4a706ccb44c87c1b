// The rules of the context table, which the decoder keeps and the compressor models
// step for step: which bucket a position's bytes select, and how a step changes the
// bucket's slots.
//
// A bucket has four slots, each remembering a position of the current block's output
// that followed the bucket's context. At a position p >= 3, with b0 b1 b2 the bytes
// before it, the three-byte index ((b0 << 11) ^ (b1 << 7) ^ b2) & 0xFFFF selects its
// bucket when that bucket's slot 0 holds a position; otherwise the two-byte index
// (b1 << 7) ^ b2 (below 32768) does. A bucket is written only when it is selected, and
// a three-byte index is selected only when its bucket already holds a position, so by
// induction no bucket at 32768 or above ever holds one: only the lower half is kept,
// and a three-byte index at or above 32768 is always empty.
//
// Every step at p >= 3 records p in the selected bucket, in the slot of the smallest
// stamp (the lowest slot among equals), which gets stamp 0; a match first gives the
// slot it copies from a stamp above all others. Stamps matter only through their order,
// so a bucket's state is the replacement order of its slots (SlotOrder), one byte whose
// changes come from small tables made at compile time.
#pragma once

#include <array>
#include <cassert>
#include <cstddef>
#include <cstdint>

namespace vorx {

// The buckets that can be written, and the indices a context can select.
constexpr uint32_t kContextBuckets = 32768;
constexpr uint32_t kContextIndices = 65536;

// The two indices the bytes b0 b1 b2 before a position give.
struct ContextIndices {
    uint32_t threeByte;  // selected when its bucket's slot 0 holds a position
    uint32_t twoByte;    // selected otherwise; below kContextBuckets
};

constexpr ContextIndices IndicesOf(uint32_t b0, uint32_t b1, uint32_t b2) {
    const uint32_t twoByte = (b1 << 7) ^ b2;
    return ContextIndices{((b0 << 11) ^ twoByte) & 0xFFFFu, twoByte};
}

// Replacement orders of four slots and how a step changes them. An order lists the
// slots from the first to be replaced to the last: those of stamp 0 by slot number,
// then the others from the oldest match to the newest. Every step gives its own
// position stamp 0, so some slot always has stamp 0 (the initial order has four) and a
// literal step never changes the order: it replaces the first slot, which stays first.
// Only a match changes it. The 41 orders that occur are numbered from 1, and an order
// is kept as (number << 2) | its first slot, so that a step finds its slot without a
// table. Key 0 is a bucket the block has not written: no slot filled, slot 0 first.
//
// Which slots are filled follows from the order. Of the slots of stamp 0 only the
// first has ever been written: the first write goes to slot 0, and a slot leaves the
// stamp-0 slots only when a match copies from it, which needs it filled; the next slot
// of stamp 0, never written, then becomes first and takes that step's position. The
// slots of a match stamp have all been copied from, so they are filled. A match from
// any other slot reads an empty slot: its transition is kEmptySlot.
namespace SlotOrder {

namespace detail {

struct Order {
    uint8_t slot[4];
    uint8_t zeros;  // how many of the first slots have stamp 0 (at least 1)
};

constexpr bool Same(const Order& a, const Order& b) {
    return a.zeros == b.zeros && a.slot[0] == b.slot[0] && a.slot[1] == b.slot[1] &&
           a.slot[2] == b.slot[2] && a.slot[3] == b.slot[3];
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
        if (Same(kOrders.list[i], o)) return static_cast<uint8_t>(((i + 1) << 2) | o.slot[0]);
    return 0;
}

// Whether `slot` holds a position in a written bucket of order o (see above).
constexpr bool Filled(const Order& o, uint8_t slot) {
    for (int i = 1; i < o.zeros; ++i)
        if (o.slot[i] == slot) return false;
    return true;
}

constexpr std::array<std::array<uint8_t, 4>, 256> MatchTable(uint8_t emptySlot) {
    std::array<std::array<uint8_t, 4>, 256> t{};
    for (auto& row : t) row = {emptySlot, emptySlot, emptySlot, emptySlot};
    for (int i = 0; i < kOrders.count; ++i)
        for (uint8_t s = 0; s < 4; ++s)
            if (Filled(kOrders.list[i], s))
                t[Key(kOrders.list[i])][s] = Key(AfterMatch(kOrders.list[i], s));
    return t;
}

}  // namespace detail

// A bucket the current block has not written: every slot empty, slot 0 first.
inline constexpr uint8_t kUnwritten = 0;
// The order of a written bucket whose slots all have stamp 0: 0, 1, 2, 3 (slot 0 filled).
inline constexpr uint8_t kInitial = detail::Key(detail::kStart);
static_assert(kInitial != kUnwritten && (kInitial & 3u) == 0);
// What kMatch gives for a selector that names an empty slot (a corrupt stream).
inline constexpr uint8_t kEmptySlot = 0xFF;
static_assert(((detail::kOrders.count << 2) | 3) < kEmptySlot);

// The slot a step replaces in a bucket of order `order` (the first in order): for a
// literal the order before the step, for a match the order after it.
template <typename Order>
inline Order FirstSlot(Order order) {
    assert(order < SlotOrder::kEmptySlot);  // a stored order, never the corrupt mark
    return order & 3u;
}

// The order after a literal step: the same, but kInitial for an unwritten bucket. A
// table rather than a test, whose outcome would follow the data.
inline constexpr std::array<uint8_t, 256> kLiteral = [] {
    std::array<uint8_t, 256> t{};
    for (std::size_t i = 0; i < t.size(); ++i) t[i] = static_cast<uint8_t>(i);
    t[kUnwritten] = kInitial;
    return t;
}();

// The order after a match from slot `selector`; the step's position then goes to
// FirstSlot of it (never the selected slot, which is now the newest). kEmptySlot when
// the selected slot is empty, in an unwritten bucket every slot.
inline constexpr std::array<std::array<uint8_t, 4>, 256> kMatch = detail::MatchTable(kEmptySlot);

}  // namespace SlotOrder

}  // namespace vorx
