// CRC-32: published check values (the folding path of long inputs is checked by every
// entry of the conformance sample, whose CRCs come from another writer).
#include <gtest/gtest.h>

#include <cstring>

#include "container/crc32.h"
#include "tests/support/test_support.h"

namespace vorx {
namespace {

TEST(Crc32, PublishedValues) {
    EXPECT_EQ(Crc32::Of("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(Crc32::Of("", 0), 0u);
    EXPECT_EQ(Crc32::Of("a", 1), 0xE8B7BE43u);
    EXPECT_EQ(Crc32::Of("The quick brown fox jumps over the lazy dog", 43), 0x414FA339u);
    const Bytes zeros(32, 0);
    EXPECT_EQ(Crc32::Of(zeros.data(), zeros.size()), 0x190A55ADu);
}

}  // namespace
}  // namespace vorx
