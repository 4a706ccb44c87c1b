// The decoder's one-lookup escape codes against the field-by-field reading they stand for.
// (The tables the group loop takes as plain are judged by what they decode: the block
// fuzz target's seeds against the reference, the round trips and the conformance sample.)
#include <gtest/gtest.h>

#include "codec/bit_input.h"

namespace {

// Every 16-bit stream start: the same value and the same bits as field by field.
TEST(DecoderFastPaths, EscapeCodesByLookupReadLikeFieldByField) {
    for (uint32_t bits = 0; bits < 0x10000; ++bits) {
        // The 16 bits from bit 3 on, then ones and a fixed byte: room for every field.
        const uint8_t buffer[16] = {static_cast<uint8_t>(bits << 3 | 5),
                                    static_cast<uint8_t>(bits >> 5),
                                    static_cast<uint8_t>(bits >> 13 | 0xF8), 0x5A};
        uint32_t slow = 3, quick = 3;
        const uint32_t expected = vorx::ReadEscapedNumber(buffer, slow);
        ASSERT_EQ(vorx::ReadEscapedNumberQuickly(buffer, quick), expected) << bits;
        ASSERT_EQ(quick, slow) << bits;
    }
}

}  // namespace
