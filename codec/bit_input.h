// Bit input of a block body: bits are numbered from the least significant bit of the
// first byte; a field of several bits has its least significant bit first.
//
// Neither reader looks at the end of its buffer: every buffer they read must have at
// least three readable bytes behind the last byte a field touches (ReadBits loads a
// whole 32-bit word). The block decoder guarantees this with zeroed slack behind each
// body and checks positions against the body's end itself.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace vorx {

static_assert(std::endian::native == std::endian::little,
              "the bit readers load little-endian words directly");

// Four bytes at `p` as a little-endian word, at any alignment.
inline uint32_t LoadLe32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Eight bytes at `p` as a little-endian word, at any alignment.
inline uint64_t LoadLe64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// The field of `width` bits that starts at `bitPosition`: the 32-bit word at byte
// bitPosition / 8, shifted right by bitPosition % 8, masked to width % 32 bits (so a
// width of 0 gives 0). Exact for widths up to 25. The position is not changed.
inline uint32_t ReadBits(const uint8_t* buffer, uint32_t bitPosition, uint32_t width) {
    const uint32_t word = LoadLe32(buffer + (bitPosition >> 3)) >> (bitPosition & 7);
    return word & ((1u << (width & 31)) - 1u);
}

// The largest number an escape-coded field can carry: its last field is at most 23 bits.
constexpr uint32_t kLargestEscapedNumber = 8524069;

// Reads an escape-coded number (at least 1) and advances the position past it.
// Fields of widths 2, 3, 5, 8, 12, 17, 23 follow one another for as long as the field
// just read is all ones; the value is the last field plus the sum of the all-ones
// fields before it, plus 1.
//
// A 23-bit field of all ones would announce a 30-bit field, which no 32-bit read can
// deliver exactly; a stream never holds such a code. It gives 0 (no valid code does),
// with the position advanced past the 23-bit field. Callers treat 0 as corrupt.
inline uint32_t ReadEscapedNumber(const uint8_t* buffer, uint32_t& bitPosition) {
    uint32_t width = 2;
    uint32_t step = 1;
    uint32_t sum = 0;
    uint32_t x = ReadBits(buffer, bitPosition, width);
    bitPosition += width;
    while (x == (1u << width) - 1u) {
        if (width == 23) return 0;
        width += step;
        sum += x;
        step += 1;
        x = ReadBits(buffer, bitPosition, width);
        bitPosition += width;
    }
    return x + sum + 1;
}

// The escape-coded numbers of at most three fields (2, 3 and 5 bits: the values 1 to
// 41), looked up by the stream's next 10 bits: the value and the bits it takes, or 0
// bits for a longer code. Block heads carry hundreds of such numbers, most of them
// small; one lookup replaces a load and a test per field.
struct EscapedPrefix {
    uint8_t value;
    uint8_t bits;
};
inline constexpr auto kEscapedPrefixes = [] {
    struct {
        EscapedPrefix at[1024];
    } t{};
    for (uint32_t i = 0; i < 1024; ++i) {
        const uint32_t x2 = i & 3u, x3 = (i >> 2) & 7u, x5 = (i >> 5) & 31u;
        if (x2 != 3) {
            t.at[i] = EscapedPrefix{static_cast<uint8_t>(x2 + 1), 2};
        } else if (x3 != 7) {
            t.at[i] = EscapedPrefix{static_cast<uint8_t>(3 + x3 + 1), 5};
        } else if (x5 != 31) {
            t.at[i] = EscapedPrefix{static_cast<uint8_t>(3 + 7 + x5 + 1), 10};
        }
    }
    return t;
}();

// ReadEscapedNumber, the short codes by one lookup.
inline uint32_t ReadEscapedNumberQuickly(const uint8_t* buffer, uint32_t& bitPosition) {
    const EscapedPrefix e = kEscapedPrefixes.at[ReadBits(buffer, bitPosition, 10)];
    if (e.bits == 0) return ReadEscapedNumber(buffer, bitPosition);
    bitPosition += e.bits;
    return e.value;
}

}  // namespace vorx
