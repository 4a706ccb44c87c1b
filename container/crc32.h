// CRC-32 of IEEE 802.3 (reflected polynomial 0xEDB88320, preset and final inversion
// with all ones): the checksum of the names table and of every entry's data.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vorx {

class Crc32 {
public:
    Crc32() : register_(0xFFFFFFFFu) {}

    void Reset() { register_ = 0xFFFFFFFFu; }
    // Feeds `length` bytes in order; a length of 0 changes nothing.
    void Update(const void* data, size_t length) { register_ = Advance(register_, data, length); }
    // The CRC-32 of everything fed since the last reset. Update may continue afterwards.
    uint32_t Final() const { return register_ ^ 0xFFFFFFFFu; }

    // One-shot convenience.
    static uint32_t Of(const void* data, size_t length) {
        Crc32 c;
        c.Update(data, length);
        return c.Final();
    }

    // The CRC-32 of two pieces one after the other, from the CRC-32 of each and the
    // length of the second: pieces checked on different threads give the checksum of
    // the whole.
    static uint32_t Combine(uint32_t first, uint32_t second, uint64_t secondLength);

private:
    // Runs `length` bytes through a raw register (no pre- or post-inversion).
    static uint32_t Advance(uint32_t reg, const void* data, size_t length);

    uint32_t register_;
};

}  // namespace vorx
