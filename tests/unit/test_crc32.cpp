// CRC-32: published check values, and every length and alignment against a plain
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

TEST(Crc32, PublishedValues) {
    EXPECT_EQ(Crc32::Of("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(Crc32::Of("", 0), 0u);
    EXPECT_EQ(Crc32::Of("a", 1), 0xE8B7BE43u);
    EXPECT_EQ(Crc32::Of("The quick brown fox jumps over the lazy dog", 43), 0x414FA339u);
    const Bytes zeros(32, 0);
    EXPECT_EQ(Crc32::Of(zeros.data(), zeros.size()), 0x190A55ADu);
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

}  // namespace
}  // namespace vorx
