// The context table: the one-byte slot orders must replace exactly the slots that the
// stamps of the format replace and know exactly which slots are empty, and clearing
// the table must empty every bucket.
#include <gtest/gtest.h>

#include <random>

#include "codec/context_table.h"

using vorx::ContextTable;
namespace SlotOrder = vorx::SlotOrder;

namespace {

// Four stamps as the format keeps them: a match stamps its slot with a counter that
// starts at 100; the slot of the smallest stamp (lowest slot among equals) then takes
// the position and stamp 0.
struct Stamps {
    uint32_t stamp[4] = {0, 0, 0, 0};
    bool filled[4] = {false, false, false, false};
    uint32_t counter = 100;
    int Step(int selector) {
        if (selector >= 0) stamp[selector] = counter++;
        int victim = 0;
        for (int i = 1; i < 4; ++i)
            if (stamp[i] < stamp[victim]) victim = i;
        stamp[victim] = 0;
        filled[victim] = true;
        return victim;
    }
};

}  // namespace

// Random steps from an unwritten bucket; a match from an empty slot (which ends a
// block as corrupt) must be refused by the order and is not taken.
TEST(SlotOrder, ReplacesTheSlotsTheStampsReplaceAndRefusesEmptySlots) {
    std::mt19937 rng(9);
    int refused = 0;
    for (int run = 0; run < 2000; ++run) {
        Stamps stamps;
        uint8_t order = SlotOrder::kUnwritten;
        for (int step = 0; step < 200; ++step) {
            const int selector = rng() % 3 == 0 ? -1 : static_cast<int>(rng() % 4);
            if (selector >= 0 && !stamps.filled[selector]) {
                ASSERT_EQ(SlotOrder::kMatch[order][selector], SlotOrder::kEmptySlot) << "run " << run;
                ++refused;
                continue;
            }
            const int expected = stamps.Step(selector);
            if (selector >= 0) {
                order = SlotOrder::kMatch[order][selector];
            } else if (order == SlotOrder::kUnwritten) {
                order = SlotOrder::kInitial;
            }
            const int victim = static_cast<int>(SlotOrder::FirstSlot(order));
            ASSERT_EQ(victim, expected) << "run " << run << " step " << step;
            ASSERT_NE(victim, selector);
        }
    }
    EXPECT_GT(refused, 1000);
}

TEST(ContextTable, SelectsTheTwoByteBucketUntilTheThreeByteOneIsWritten) {
    ContextTable* table = vorx::CreateContextTable();
    ASSERT_NE(table, nullptr);
    table->Clear();
    // 01 'a' 'b' and 'q' 'b' share a bucket index: ((1 << 11) ^ ('a' << 7) ^ 'b') == ('q' << 7) ^ 'b'.
    const uint32_t ab = table->Select(1, 'a', 'b');
    EXPECT_EQ(ab, static_cast<uint32_t>(('a' << 7) ^ 'b'));
    const uint32_t qb = table->Select('X', 'q', 'b');
    EXPECT_EQ(qb, static_cast<uint32_t>(('q' << 7) ^ 'b'));
    table->order[qb] = SlotOrder::kInitial;  // a step writes the bucket it selected
    EXPECT_EQ(table->Select(1, 'a', 'b'), qb);
    // A three-byte index of 32768 or more is never written: bit 4 of the first byte.
    EXPECT_EQ(table->Select(0x10, 'q', 'b'), qb);
    EXPECT_EQ(table->Select(0x10, 'a', 'b'), ab);
    // Clearing empties every bucket, the last one included.
    table->order[ContextTable::kBucketCount - 1] = SlotOrder::kInitial;
    table->Clear();
    for (uint32_t i = 0; i < ContextTable::kIndexCount; ++i) ASSERT_EQ(table->order[i], SlotOrder::kUnwritten) << i;
    EXPECT_EQ(table->Select(1, 'a', 'b'), ab);
    vorx::ReleaseContextTable(table);
}
