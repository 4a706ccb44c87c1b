// CRC-32: published check values, the table against its bit-by-bit definition, and
// every input shape (lengths, alignments, piecewise feeding) against a plain
// bit-at-a-time reference, which covers both the table loop and the folding path.
#include <gtest/gtest.h>

#include <cstring>

#include "container/crc32.h"
#include "tests/support/test_support.h"

namespace vorx {
namespace {

// The register shifted one bit at a time through the reflected polynomial.
uint32_t ReferenceCrc(const uint8_t* p, size_t n) {
    uint32_t reg = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        reg ^= p[i];
        for (int b = 0; b < 8; ++b) reg = (reg & 1) ? (reg >> 1) ^ 0xEDB88320u : reg >> 1;
    }
    return reg ^ 0xFFFFFFFFu;
}

uint32_t Reflect(uint32_t v, int bits) {
    uint32_t r = 0;
    for (int i = 0; i < bits; ++i) r |= ((v >> i) & 1u) << (bits - 1 - i);
    return r;
}

TEST(Crc32, PublishedValues) {
    EXPECT_EQ(Crc32::Of("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(Crc32::Of("", 0), 0u);
    EXPECT_EQ(Crc32::Of("a", 1), 0xE8B7BE43u);
    EXPECT_EQ(Crc32::Of("The quick brown fox jumps over the lazy dog", 43), 0x414FA339u);
    const Bytes zeros(32, 0);
    EXPECT_EQ(Crc32::Of(zeros.data(), zeros.size()), 0x190A55ADu);
}

// Entry i: the reversal of i placed in the top byte, shifted left 8 times through the
// normal polynomial 0x04C11DB7, then reversed.
TEST(Crc32, TableMatchesItsDefinition) {
    const uint32_t* table = Crc32::ByteTable();
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t word = Reflect(i, 8) << 24;
        for (int k = 0; k < 8; ++k) word = (word & 0x80000000u) ? (word << 1) ^ 0x04C11DB7u : word << 1;
        ASSERT_EQ(table[i], Reflect(word, 32)) << i;
    }
}

TEST(Crc32, EveryLengthAndAlignmentMatchesTheReference) {
    const Bytes data = test::RandomBytes(4096 + 64, 7);
    for (size_t offset = 0; offset < 16; ++offset) {
        for (size_t length : {0, 1, 15, 16, 17, 63, 64, 65, 255, 256, 257, 300, 1000, 1024, 4095}) {
            ASSERT_EQ(Crc32::Of(data.data() + offset, length), ReferenceCrc(data.data() + offset, length))
                << "offset " << offset << " length " << length;
        }
    }
    for (size_t length = 0; length < 700; ++length)
        ASSERT_EQ(Crc32::Of(data.data() + 3, length), ReferenceCrc(data.data() + 3, length)) << length;
}

TEST(Crc32, PiecewiseFeedingGivesTheSameValue) {
    const Bytes data = test::RandomBytes(20000, 11);
    const uint32_t whole = ReferenceCrc(data.data(), data.size());
    for (size_t piece : {1, 3, 16, 100, 255, 256, 257, 4096, 9999}) {
        Crc32 crc;
        for (size_t at = 0; at < data.size(); at += piece)
            crc.Update(data.data() + at, std::min(piece, data.size() - at));
        EXPECT_EQ(crc.Final(), whole) << "pieces of " << piece;
    }
}

TEST(Crc32, FinalLeavesTheRegisterAndResetStartsOver) {
    Crc32 crc;
    crc.Update("1234", 4);
    const uint32_t partial = crc.Final();
    EXPECT_EQ(partial, Crc32::Of("1234", 4));
    crc.Update("56789", 5);
    EXPECT_EQ(crc.Final(), 0xCBF43926u);
    crc.Update("", 0);
    EXPECT_EQ(crc.Final(), 0xCBF43926u);
    crc.Reset();
    EXPECT_EQ(crc.Final(), 0u);
    crc.Update("123456789", 9);
    EXPECT_EQ(crc.Final(), 0xCBF43926u);
}

}  // namespace
}  // namespace vorx
