// The working buffer: page rounding, growth that does not keep contents, release.
#include <gtest/gtest.h>

#include "codec/page_buffer.h"

using vorx::PageBuffer;

TEST(PageBuffer, RoundsSizesUpToWholePages) {
    EXPECT_EQ(PageBuffer::RoundToPage(0), 0u);
    EXPECT_EQ(PageBuffer::RoundToPage(1), 4096u);
    EXPECT_EQ(PageBuffer::RoundToPage(4096), 4096u);
    EXPECT_EQ(PageBuffer::RoundToPage(4097), 8192u);
    EXPECT_EQ(PageBuffer::RoundToPage(12288), 12288u);
}

TEST(PageBuffer, StartsZeroedAndKeepsItsMemoryWhileLargeEnough) {
    PageBuffer buffer(100);
    ASSERT_NE(buffer.data(), nullptr);
    EXPECT_EQ(buffer.capacity(), 4096u);
    for (size_t i = 0; i < buffer.capacity(); ++i) ASSERT_EQ(buffer.data()[i], 0) << i;
    buffer.data()[4095] = 0xAB;
    uint8_t* const before = buffer.data();
    ASSERT_TRUE(buffer.EnsureCapacity(4096));
    EXPECT_EQ(buffer.data(), before);
    EXPECT_EQ(buffer.data()[4095], 0xAB);
}

TEST(PageBuffer, GrowingReplacesTheMemoryWithoutItsContents) {
    PageBuffer buffer(4096);
    buffer.data()[0] = 0x5A;
    ASSERT_TRUE(buffer.EnsureCapacity(4097));
    EXPECT_EQ(buffer.capacity(), 8192u);
    EXPECT_EQ(buffer.data()[0], 0);
    // It never shrinks.
    ASSERT_TRUE(buffer.EnsureCapacity(10));
    EXPECT_EQ(buffer.capacity(), 8192u);
}

TEST(PageBuffer, ReleaseLeavesItEmptyAndMayBeRepeated) {
    PageBuffer buffer(4096);
    buffer.Release();
    EXPECT_EQ(buffer.data(), nullptr);
    EXPECT_EQ(buffer.capacity(), 0u);
    buffer.Release();
    ASSERT_TRUE(buffer.EnsureCapacity(1));
    EXPECT_EQ(buffer.capacity(), 4096u);
}

TEST(PageBuffer, AnImpossibleSizeIsRefused) {
    PageBuffer buffer(4096);
    EXPECT_FALSE(buffer.EnsureCapacity(SIZE_MAX - 10));
    EXPECT_EQ(buffer.data(), nullptr);
    EXPECT_EQ(buffer.capacity(), 0u);
}
