// The decoder's context table: the buckets of codec/context_rules.h, kept for the
// steps of one block.
//
// Every compressed block starts with an empty table. The order byte of a bucket the
// current block has not written is 0 (SlotOrder::kUnwritten), so clearing the table is
// clearing those 32 KiB, where a fill of the slots would cost more than the whole
// decode of most entries (most are a few KiB). The same byte says which slots hold a
// position: a slot is filled exactly when the order says so, so the positions are
// never cleared, and what an earlier block left in them is never read.
//
// A step's bucket choice (Choose) loads two orders at once, those of the three-byte
// and of the two-byte index, and keeps one of them with conditional moves. Indices at
// or above 32768 read the upper half of the order array, never written: it reads 0
// (where untouched pages share one page of zeros, it takes no memory of its own). The
// positions (512 KiB) are touched once per step, in the bucket chosen.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>

#include "codec/context_rules.h"

namespace vorx {

struct ContextTable {
    // Per bucket: the low 32 bits of the output address of each slot's position (a
    // block's output is less than 4 GiB, so the distance back follows from them). Only
    // the slots the order calls filled mean anything.
    uint32_t positions[kContextBuckets][4];
    // Per index: the replacement order of its slots (see SlotOrder); kUnwritten for a
    // bucket the current block has not written. The upper half is never written.
    uint8_t order[kContextIndices];
    // Copies of SlotOrder::kLiteral and SlotOrder::kMatch beside the orders, so that the
    // decoder's steps reach them from the table's own base address instead of loading
    // another (filled by CreateContextTable).
    uint8_t afterLiteral[256];
    uint8_t afterMatch[256][4];

    // Empties every bucket (sets the written half of the orders to kUnwritten).
    void Clear();

    // The bucket the bytes b0 b1 b2 before a position select, with its order. Both
    // candidate orders are loaded at once and the choice is a pair of conditional
    // moves: neither load waits for the other, and no branch follows the data.
    struct Choice {
        uintptr_t bucket;
        uintptr_t order;
    };
    Choice Choose(uint32_t b0, uint32_t b1, uint32_t b2) const {
        assert(b0 <= 0xFFu && b1 <= 0xFFu && b2 <= 0xFFu);
        const ContextIndices index = IndicesOf(b0, b1, b2);
        const uint32_t threeOrder = order[index.threeByte];
        const uint32_t twoOrder = order[index.twoByte];
        static_assert(SlotOrder::kUnwritten == 0);
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
        // Compilers turn the selection into a branch where registers are scarce, and
        // which bucket it is follows the data: a mispredicted branch costs more than the
        // step's other work. The operands are of the address width, so that the results
        // index without being widened again.
        uintptr_t bucket = index.twoByte;
        uintptr_t chosen = twoOrder;
        const uintptr_t threeByte = index.threeByte;
        const uintptr_t three = threeOrder;
        __asm__(
            "test %[three], %[three]\n\t"
            "cmovne %[threeByte], %[bucket]\n\t"
            "cmovne %[three], %[order]"
            : [bucket] "+r"(bucket), [order] "+r"(chosen)
            : [threeByte] "r"(threeByte), [three] "r"(three)
            : "cc");
        const Choice c{bucket, chosen};
#else
        const bool written = threeOrder != SlotOrder::kUnwritten;
        const Choice c{written ? index.threeByte : index.twoByte, written ? threeOrder : twoOrder};
#endif
        // Only the lower half is ever written, so a chosen bucket lies in it.
        assert(c.bucket < kContextBuckets && c.order == order[c.bucket]);
        assert(c.order < SlotOrder::kEmptySlot);
        return c;
    }

    // A literal step at the output address whose low 32 bits are `mark`: the slot its
    // bucket replaces first takes it (the order stays, unless this is the bucket's
    // first write).
    void RecordLiteral(Choice c, uint32_t mark) {
        order[c.bucket] = afterLiteral[c.order];
        positions[c.bucket][SlotOrder::FirstSlot(c.order)] = mark;
    }

    // A match step from slot `selector` at `mark`: how far back the selected slot's
    // position lies, read before the step's own position goes to the slot first in the
    // new order (never the selected one). `found` is false, and nothing changes, when
    // the selected slot is empty (a corrupt stream).
    struct Source {
        uint32_t distance;
        bool found;
    };
    Source RecordMatch(Choice c, uint32_t selector, uint32_t mark) {
        const uint32_t next = afterMatch[c.order][selector];
        if (next == SlotOrder::kEmptySlot) return Source{0, false};
        const uint32_t distance = mark - positions[c.bucket][selector];
        positions[c.bucket][SlotOrder::FirstSlot(next)] = mark;
        order[c.bucket] = static_cast<uint8_t>(next);
        return Source{distance, true};
    }
};

// Makes a table (all buckets empty) or returns null when memory cannot be had.
ContextTable* CreateContextTable();
// Frees a table made by CreateContextTable (null allowed).
void ReleaseContextTable(ContextTable* table);

}  // namespace vorx
