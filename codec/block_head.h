// What the block decoder and the compressor share about a compressed block: the size
// of block the writer makes, and the 64-bit head, two 32-bit words, each stored as two
// 16-bit fields, low half first. The block decoder parses it, the compressor encodes it.
//   word 1: bits 0-23 step count (low part), bits 24-31 literal count - 1
//   word 2: bits 0-15 length count, 16-19 flag count - 1, 20-23 literal width,
//           24-27 slot count - 1, 28-31 step count (bits 24-27)
#pragma once

#include <cstddef>
#include <cstdint>

namespace vorx {

// Bytes per block the writer makes (an entry's last block may be shorter): the unit
// the context table and the code trees span, far below the 64 MiB a reader accepts.
// A reader that knows it sizes its room for a block before decoding it.
constexpr size_t kWriterBlockSize = 4u << 20;

struct BlockHead {
    uint32_t stepCount;     // 0 to 2^28 - 1
    uint32_t literalCount;  // 1 to 256
    uint32_t lengthCount;   // 0 to 65535
    uint32_t flagCount;     // 1 to 16
    uint32_t literalWidth;  // 0 to 15
    uint32_t slotCount;     // 1 to 16

    static BlockHead Parse(uint32_t head1, uint32_t head2) {
        BlockHead h;
        h.stepCount = (head1 & 0xFFFFFFu) | ((head2 >> 28) << 24);
        h.literalCount = (head1 >> 24) + 1;
        h.lengthCount = head2 & 0xFFFFu;
        h.flagCount = ((head2 >> 16) & 0xFu) + 1;
        h.literalWidth = (head2 >> 20) & 0xFu;
        h.slotCount = ((head2 >> 24) & 0xFu) + 1;
        return h;
    }

    // The two words of a head whose fields are in their ranges.
    void Encode(uint32_t* head1, uint32_t* head2) const {
        *head1 = (stepCount & 0xFFFFFFu) | ((literalCount - 1) << 24);
        *head2 = lengthCount | ((flagCount - 1) << 16) | (literalWidth << 20) |
                 ((slotCount - 1) << 24) | ((stepCount >> 24) << 28);
    }
};

}  // namespace vorx
