// Bit output in the order the decoder reads: bits fill each byte from its least
// significant end, and a field of several bits is written least significant bit first.
// Also writes the escape-coded numbers of ReadEscapedNumber.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/bit_input.h"

namespace vorx {

class BitWriter {
public:
    // Appends the low `width` bits of `value` (width 0 to 32).
    void WriteBits(uint32_t value, uint32_t width) {
        for (uint32_t i = 0; i < width; ++i) WriteBit((value >> i) & 1u);
    }

    void WriteBit(uint32_t bit) {
        if ((bitCount_ & 7) == 0) bytes_.push_back(0);
        if (bit) bytes_.back() |= static_cast<uint8_t>(1u << (bitCount_ & 7));
        ++bitCount_;
    }

    // Appends the `length` low bits of `code`, bit 0 first: a code as CodeTreeNode
    // records it (its first step in bit 0).
    void WriteCode(uint32_t code, uint32_t length) { WriteBits(code, length); }

    // Appends `value` (1 to kLargestEscapedNumber) as an escape-coded number: all-ones
    // fields of widths 2, 3, 5, 8, 12, 17 as needed, then the last field. Returns false
    // (writing nothing) for a value outside that range.
    bool WriteEscapedNumber(uint32_t value) {
        if (value == 0 || value > kLargestEscapedNumber) return false;
        uint32_t rest = value - 1;
        uint32_t width = 2;
        uint32_t step = 1;
        for (;;) {
            const uint32_t allOnes = (1u << width) - 1u;
            if (rest < allOnes) {
                WriteBits(rest, width);
                return true;
            }
            WriteBits(allOnes, width);
            rest -= allOnes;
            width += step;
            step += 1;
        }
    }

    // Number of bits an escape-coded `value` takes (0 for a value outside the range).
    static uint32_t EscapedNumberBits(uint32_t value) {
        if (value == 0 || value > kLargestEscapedNumber) return 0;
        uint32_t rest = value - 1, width = 2, step = 1, bits = 0;
        for (;;) {
            const uint32_t allOnes = (1u << width) - 1u;
            bits += width;
            if (rest < allOnes) return bits;
            rest -= allOnes;
            width += step;
            step += 1;
        }
    }

    uint64_t bitCount() const { return bitCount_; }
    const std::vector<uint8_t>& bytes() const { return bytes_; }
    std::vector<uint8_t>& bytes() { return bytes_; }

    // Overwrites `width` bits at `bitPosition` (already written) with `value`.
    void PatchBits(uint64_t bitPosition, uint32_t value, uint32_t width) {
        for (uint32_t i = 0; i < width; ++i, ++bitPosition) {
            const uint8_t mask = static_cast<uint8_t>(1u << (bitPosition & 7));
            uint8_t& byte = bytes_[bitPosition >> 3];
            byte = ((value >> i) & 1u) ? (byte | mask) : (byte & ~mask);
        }
    }

private:
    std::vector<uint8_t> bytes_;
    uint64_t bitCount_ = 0;
};

}  // namespace vorx
