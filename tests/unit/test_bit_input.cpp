// Bit fields and escape-coded numbers: the bit order of the format and the ranges of
// each escape width, read back from what the shared bit writer writes.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "codec/bit_input.h"
#include "codec/bit_writer.h"

using vorx::BitWriter;
using vorx::ReadBits;
using vorx::ReadEscapedNumber;

namespace {

// Bits as the format numbers them: bit p is bit p % 8 of byte p / 8.
uint32_t SlowField(const std::vector<uint8_t>& bytes, uint32_t pos, uint32_t width) {
    uint32_t v = 0;
    for (uint32_t i = 0; i < width; ++i) v |= ((bytes[(pos + i) / 8] >> ((pos + i) % 8)) & 1u) << i;
    return v;
}

}  // namespace

TEST(ReadBits, IsExactForEveryWidthUpTo25AtEveryShift) {
    std::mt19937 rng(7);
    std::vector<uint8_t> bytes(64);
    for (auto& b : bytes) b = static_cast<uint8_t>(rng());
    for (uint32_t pos = 0; pos < 200; ++pos) {
        for (uint32_t width = 0; width <= 25; ++width) {
            ASSERT_EQ(ReadBits(bytes.data(), pos, width), SlowField(bytes, pos, width)) << pos << " " << width;
        }
    }
}

TEST(ReadEscapedNumber, EveryRangeBoundaryRoundTripsWithItsFieldWidths) {
    struct Range { uint32_t first, last, bits; };
    const Range ranges[] = {{1, 3, 2},          {4, 10, 5},          {11, 41, 10},
                            {42, 296, 18},      {297, 4391, 30},     {4392, 135462, 47},
                            {135463, 8524069, 70}};
    for (const Range& r : ranges) {
        for (uint32_t v : {r.first, r.first + 1, r.last - 1, r.last}) {
            for (uint32_t offset : {0u, 3u, 7u}) {
                BitWriter w;
                w.WriteBits(0x55, offset);
                ASSERT_TRUE(w.WriteEscapedNumber(v));
                w.WriteBits(0x2A5, 10);  // whatever follows must not leak in
                EXPECT_EQ(w.bitCount(), offset + r.bits + 10) << v;
                EXPECT_EQ(BitWriter::EscapedNumberBits(v), r.bits) << v;
                std::vector<uint8_t> bytes = w.bytes();
                bytes.resize(bytes.size() + 8, 0);
                uint32_t pos = offset;
                EXPECT_EQ(ReadEscapedNumber(bytes.data(), pos), v);
                EXPECT_EQ(pos, offset + r.bits) << v;
                EXPECT_EQ(ReadBits(bytes.data(), pos, 10), 0x2A5u);
            }
        }
    }
}

TEST(ReadEscapedNumber, ACodeBeyondTheLargestFieldIsRefusedWithZero) {
    // All-ones fields of every width up to 23 announce a 30-bit field: outside the format.
    BitWriter w;
    for (uint32_t width : {2u, 3u, 5u, 8u, 12u, 17u, 23u}) w.WriteBits((1u << width) - 1u, width);
    std::vector<uint8_t> bytes = w.bytes();
    bytes.resize(bytes.size() + 8, 0);
    uint32_t pos = 0;
    EXPECT_EQ(ReadEscapedNumber(bytes.data(), pos), 0u);
    // The writer refuses what the reader cannot carry.
    BitWriter refused;
    EXPECT_FALSE(refused.WriteEscapedNumber(0));
    EXPECT_FALSE(refused.WriteEscapedNumber(vorx::kLargestEscapedNumber + 1));
    EXPECT_EQ(refused.bitCount(), 0u);
}
