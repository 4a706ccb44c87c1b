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
// Every compressed block starts with an empty table. The order byte of a bucket the
// current block has not written is 0 (see SlotOrder), so clearing the table is clearing
// those 32 KiB, where a fill of the slots would cost more than the whole decode of most
// entries (most are a few KiB). The same byte says which slots hold a position: a slot
// is filled exactly when the order says so, so the positions are never cleared, and
// what an earlier block left in them is never read.
//
// A step's bucket choice (Choose) loads two orders at once, those of the three-byte
// and of the two-byte index, and keeps one of them with conditional moves. Indices at
// or above 32768 read the upper half of the order array, never written: it reads 0
// (where untouched pages share one page of zeros, it takes no memory of its own). The
// positions (512 KiB) are touched once per step, in the bucket chosen.
//
// A cache simulation counts that upper half as 32 KiB of its own, and most of the
// decoder's data-cache misses on the orders and the positions. Layouts that touch
// fewer lines were measured against this one on the benchmark corpus (decode speed
// against zlib's in the same process, medians of 5 to 10 alternating runs) and none
// was faster beyond the runs' spread of a few percent: masking the three-byte index
// to the lower half (read misses 0.40 -> 0.34 per output byte, instructions 17.2 ->
// 19.0), reading the orders of all upper-half indices from one never-written byte
// through a per-byte table (same instructions, misses 0.61 -> 0.53 per byte, also with
// the upper half's pages made private, as some systems give them), and a match
// loading both candidates' positions beside their orders instead of after the choice.
#pragma once

#include <cstddef>
#include <array>
#include <cassert>
#include <cstdint>

namespace vorx {

// Replacement orders of four slots and how a step changes them. An order lists the
// slots from the first to be replaced to the last: those of stamp 0 by slot number,
// then the others from the oldest match to the newest. Every step gives its own
// position stamp 0, so some slot always has stamp 0 (the initial order has four) and a
// literal step never changes the order: it replaces the first slot, which stays first.
// Only a match changes it. The 41 orders that occur are numbered from 1, and an order
// is kept as (number << 2) | its first slot, so that a literal finds its slot without
// a table. Key 0 is a bucket the block has not written: no slot filled, slot 0 first.
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

// The slot a step replaces in a bucket of order `order` (the first in order). A
// literal step leaves the order as it is (a bucket it writes first becomes kInitial).
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

struct ContextTable {
    static constexpr uint32_t kBucketCount = 32768;  // the buckets that can be written
    static constexpr uint32_t kIndexCount = 65536;   // the indices a context can select

    // Per bucket: the low 32 bits of the output address of each slot's position (a
    // block's output is less than 4 GiB, so the distance back follows from them). Only
    // the slots the order calls filled mean anything.
    uint32_t positions[kBucketCount][4];
    // Per index: the replacement order of its slots (see SlotOrder); kUnwritten for a
    // bucket the current block has not written. The upper half is never written.
    uint8_t order[kIndexCount];
    // Copies of SlotOrder::kLiteral and SlotOrder::kMatch beside the orders, so that the
    // decoder's steps reach them from the table's own base address instead of loading
    // another (filled by CreateContextTable).
    uint8_t afterLiteral[256];
    uint8_t afterMatch[256][4];

    // Empties every bucket (sets the written half of the orders to kUnwritten).
    void Clear();

    // The bucket of the three bytes b0 b1 b2 before the current position, or of b1 b2
    // when the first one has not been written (its slot 0 is empty).
    uint32_t Select(uint32_t b0, uint32_t b1, uint32_t b2) const {
        assert(b0 <= 0xFFu && b1 <= 0xFFu && b2 <= 0xFFu);
        const uint32_t twoByte = (b1 << 7) ^ b2;
        const uint32_t threeByte = ((b0 << 11) ^ twoByte) & 0xFFFFu;
        // Without a branch: which bucket it is follows the data, and a mispredicted
        // branch would cost more than the two instructions it saves.
        const uint32_t written =
            0u - static_cast<uint32_t>(order[threeByte] != SlotOrder::kUnwritten);
        const uint32_t bucket = twoByte ^ ((threeByte ^ twoByte) & written);
        // Only the lower half is ever written, so a selected bucket lies in it.
        assert(bucket < kBucketCount);
        assert(order[bucket] < SlotOrder::kEmptySlot);
        return bucket;
    }

    // Select's bucket together with its order, for the decoder's steps. Both candidate
    // orders are loaded at once and the choice is a pair of conditional moves: neither
    // load waits for the other, and no branch follows the data.
    struct Choice {
        uintptr_t bucket;
        uintptr_t order;
    };
    Choice Choose(uint32_t b0, uint32_t b1, uint32_t b2) const {
        assert(b0 <= 0xFFu && b1 <= 0xFFu && b2 <= 0xFFu);
        const uint32_t twoByte = (b1 << 7) ^ b2;
        const uint32_t threeByte = ((b0 << 11) ^ twoByte) & 0xFFFFu;
        const uint32_t threeOrder = order[threeByte];
        const uint32_t twoOrder = order[twoByte];
        static_assert(SlotOrder::kUnwritten == 0);
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
        // Compilers turn the selection into a branch where registers are scarce, and
        // which bucket it is follows the data: a mispredicted branch costs more than the
        // step's other work. The operands are of the address width, so that the results
        // index without being widened again.
        uintptr_t bucket = twoByte;
        uintptr_t chosen = twoOrder;
        __asm__(
            "test %[three], %[three]\n\t"
            "cmovne %[threeByte], %[bucket]\n\t"
            "cmovne %[three], %[order]"
            : [bucket] "+r"(bucket), [order] "+r"(chosen)
            : [threeByte] "r"(static_cast<uintptr_t>(threeByte)), [three] "r"(
                                                                      static_cast<uintptr_t>(
                                                                          threeOrder))
            : "cc");
        const Choice c{bucket, chosen};
#else
        const bool written = threeOrder != SlotOrder::kUnwritten;
        const Choice c{written ? threeByte : twoByte, written ? threeOrder : twoOrder};
#endif
        assert(c.bucket < kBucketCount && c.order == order[c.bucket]);
        assert(c.order < SlotOrder::kEmptySlot);
        return c;
    }
};

// Makes a table (all buckets empty) or returns null when memory cannot be had.
ContextTable* CreateContextTable();
// Frees a table made by CreateContextTable (null allowed).
void ReleaseContextTable(ContextTable* table);

}  // namespace vorx
