// Bit output in the order the decoder reads: bits fill each byte from its least
// significant end, and a field of several bits is written least significant bit first.
// Bits gather in a 64-bit word and go out 32 at a time. Also writes, and measures, the
// escape-coded numbers of ReadEscapedNumber.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "codec/bit_input.h"

namespace vorx {

class BitWriter {
public:
    BitWriter() = default;
    // Writes into the memory of `storage`, whose bytes are dropped: a caller that makes
    // one stream after another keeps one buffer.
    explicit BitWriter(std::vector<uint8_t>&& storage) : bytes_(std::move(storage)) {
        bytes_.clear();
    }

    // Appends the low `width` bits of `value` (width 0 to 32).
    void WriteBits(uint32_t value, uint32_t width) {
        acc_ |= (uint64_t{value} & ((uint64_t{1} << width) - 1u)) << fill_;
        fill_ += width;
        if (fill_ >= 32) PutWord();
    }

    void WriteBit(uint32_t bit) { WriteBits(bit != 0, 1); }

    // Appends `value` (1 to kLargestEscapedNumber) as an escape-coded number. Returns
    // false (writing nothing) for a value outside that range.
    bool WriteEscapedNumber(uint32_t value) {
        if (value == 0 || value > kLargestEscapedNumber) return false;
        ForEachEscapedField(value,
                            [this](uint32_t field, uint32_t width) { WriteBits(field, width); });
        return true;
    }

    // Number of bits an escape-coded `value` takes (0 for a value outside the range).
    // The parsers price every long match with it, so it walks the field widths on its
    // own: through ForEachEscapedField the optimal parse costs 1% more instructions.
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

    uint64_t bitCount() const { return bytes_.size() * 8 + fill_; }

    // The bytes written so far, the last one filled up with zero bits.
    std::vector<uint8_t> bytes() const {
        std::vector<uint8_t> all = bytes_;
        for (uint32_t at = 0; at < fill_; at += 8) all.push_back(static_cast<uint8_t>(acc_ >> at));
        return all;
    }

    // The same, moved out: the writer is empty afterwards.
    std::vector<uint8_t> TakeBytes() {
        for (uint32_t at = 0; at < fill_; at += 8)
            bytes_.push_back(static_cast<uint8_t>(acc_ >> at));
        acc_ = 0;
        fill_ = 0;
        return std::move(bytes_);
    }

private:
    // Moves the 32 oldest pending bits into the bytes.
    void PutWord() {
        const uint32_t word = static_cast<uint32_t>(acc_);
        const uint8_t out[4] = {static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8),
                                static_cast<uint8_t>(word >> 16), static_cast<uint8_t>(word >> 24)};
        bytes_.insert(bytes_.end(), out, out + 4);
        acc_ >>= 32;
        fill_ -= 32;
    }

    // The escape code of `value` (1 to kLargestEscapedNumber): all-ones fields of widths
    // 2, 3, 5, 8, 12, 17 as needed, then the field that holds the rest. Calls
    // field(bits, width) for each, first to last.
    template <class Field>
    static void ForEachEscapedField(uint32_t value, Field&& field) {
        uint32_t rest = value - 1, width = 2, step = 1;
        for (;;) {
            const uint32_t allOnes = (1u << width) - 1u;
            const bool last = rest < allOnes;
            field(last ? rest : allOnes, width);
            if (last) return;
            rest -= allOnes;
            width += step;
            step += 1;
        }
    }

    std::vector<uint8_t> bytes_;  // whole 32-bit words
    uint64_t acc_ = 0;            // the bits not yet in bytes_, fill_ of them
    uint32_t fill_ = 0;
};

}  // namespace vorx
