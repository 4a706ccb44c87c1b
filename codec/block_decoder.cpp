#include "codec/block_decoder.h"

#include <cstring>

#include "codec/bit_input.h"

namespace vorx {
namespace {

// Where each alphabet's lookup table lies in the scratch's array, and the bits it takes.
constexpr uint32_t kFlagsAt = BlockScratch::kOffset[BlockScratch::kFlags];
constexpr uint32_t kLiteralsAt = BlockScratch::kOffset[BlockScratch::kLiterals];
constexpr uint32_t kLengthsAt = BlockScratch::kOffset[BlockScratch::kLengths];
constexpr uint32_t kSlotsAt = BlockScratch::kOffset[BlockScratch::kSlots];
constexpr uint32_t kFlagsMask = (1u << BlockScratch::kRootBits[BlockScratch::kFlags]) - 1u;
constexpr uint32_t kLiteralsMask = (1u << BlockScratch::kRootBits[BlockScratch::kLiterals]) - 1u;
constexpr uint32_t kLengthsMask = (1u << BlockScratch::kRootBits[BlockScratch::kLengths]) - 1u;
constexpr uint32_t kSlotsMask = (1u << BlockScratch::kRootBits[BlockScratch::kSlots]) - 1u;

// Pending flags and selectors are kept above a sentinel bit: a register holding just
// the sentinel is used up and takes a new symbol (a flag symbol gives four flags, least
// significant first; a slot symbol two 2-bit selectors).
constexpr uint32_t kUsedUp = 1;
inline uint32_t PendingFlags(uint32_t symbol) { return (symbol & 15u) | 16u; }
inline uint32_t PendingSelectors(uint32_t symbol) { return (symbol & 15u) | 16u; }
// Block positions are kept in 32 bits as position + 1 (0 marks an empty slot), which
// bounds one block's output.
constexpr uint64_t kPositionLimit = 0xFFFFFFFEu;

// The output room of one block: the target's capacity, bounded by what the entry may
// still produce. The target is asked first, so that its own limit (the file window's
// 64 MiB) decides before the entry's size does.
class Room {
public:
    Room(OutputTarget& target, uint64_t entryRemaining)
        : target_(target),
          remaining_(entryRemaining < kPositionLimit ? entryRemaining : kPositionLimit) {}

    uint64_t limit() const { return target_.capacity < remaining_ ? target_.capacity : remaining_; }

    Result Need(uint64_t needed) {
        if (needed > target_.capacity) {
            const Result e = target_.reserve(&target_, needed);
            if (e != kSuccess) return e;
        }
        return needed > remaining_ ? kCorruptArchive : kSuccess;
    }

private:
    OutputTarget& target_;
    uint64_t remaining_;
};

inline uint64_t Peek(const uint8_t* body, uint32_t bitPosition) {
    return LoadLe64(body + (bitPosition >> 3)) >> (bitPosition & 7);
}

// Records `mark` (p + 1 of the step's position p) in the slot a literal step
// replaces.
inline void RecordLiteral(uint32_t* slots, uint8_t order, uint32_t mark) { slots[SlotOrder::FirstSlot(order)] = mark; }

// Stamps the selected slot of a match step and records `mark`.
inline void RecordMatch(uint32_t* slots, uint8_t* order, uint32_t selector, uint32_t mark) {
    const uint8_t next = SlotOrder::kMatch[*order][selector];
    slots[SlotOrder::FirstSlot(next)] = mark;
    *order = next;
}

// Period that is a multiple of `distance` (1 to 7) and at least 8, for copying a short
// repeating pattern eight bytes at a time.
constexpr uint8_t kPatternPeriod[8] = {0, 8, 8, 9, 8, 10, 12, 14};

// Copies `length` bytes from s to d (s < d), byte by byte in meaning: a source closer
// than `length` repeats the bytes just written. `room` bytes at d may be written; when
// at least 16 of them lie beyond the match, whole words are copied and the bytes after
// the match are scribbled on (later steps overwrite them).
inline void CopyMatch(uint8_t* d, const uint8_t* s, uint64_t length, uint64_t room) {
    const uint64_t distance = static_cast<uint64_t>(d - s);
    if (room - length >= 16) {
        if (distance >= length && length > 64) {
            std::memcpy(d, s, static_cast<size_t>(length));
        } else if (distance >= 16) {
            uint8_t* const end = d + length;
            do {
                std::memcpy(d, s, 16);
                d += 16;
                s += 16;
            } while (d < end);
        } else if (distance >= 8) {
            uint8_t* const end = d + length;
            do {
                std::memcpy(d, s, 8);
                d += 8;
                s += 8;
            } while (d < end);
        } else if (distance > 0) {
            // The pattern repeats with a period of `distance`: lay down its first eight
            // bytes (each reading one written just before), then copy eight at a time
            // from a whole number of periods back.
            for (int i = 0; i < 8; ++i) d[i] = s[i];
            const uint64_t period = kPatternPeriod[distance];
            for (uint64_t i = 8; i < length; i += 8) std::memcpy(d + i, d + i - period, 8);
        } else {
            for (uint64_t i = 0; i < length; ++i) d[i] = s[i];
        }
        return;
    }
    if (distance >= length) {
        std::memcpy(d, s, static_cast<size_t>(length));
    } else {
        for (uint64_t i = 0; i < length; ++i) d[i] = s[i];
    }
}

// A percentage for the callback, truncated toward zero and kept within 0 to 100 (a
// damaged archive whose block is longer than its entry would give more).
int Percent(float value) {
    if (!(value > 0.0f)) return 0;
    if (value >= 100.0f) return 100;
    return static_cast<int>(value);
}

// Reads one table of the block into a fresh table of `size` entries: up to `entries`
// (symbol, weight) pairs, stopping once the position reaches the block's bit count. A
// symbol is an escape-coded number when `escapedSymbols` is set, else `width` plain
// bits. A code beyond the format (ReadEscapedNumber's 0) is corrupt data.
Result ReadTable(SymbolTable& table, int32_t size, uint32_t entries, bool escapedSymbols,
                 uint32_t width, const uint8_t* body, uint32_t bitCount, uint32_t& pos) {
    if (!table.Create(size)) return kOutOfMemory;
    for (uint32_t i = 0; i < entries && pos < bitCount; ++i) {
        uint32_t symbol;
        if (escapedSymbols) {
            symbol = ReadEscapedNumber(body, pos);
            if (symbol == 0) return kCorruptArchive;
        } else {
            symbol = ReadBits(body, pos, width);
            pos += width;
        }
        const uint32_t weight = ReadEscapedNumber(body, pos);
        if (weight == 0) return kCorruptArchive;
        table[i] = SymbolEntry{weight, symbol};
    }
    return kSuccess;
}

// Decodes one symbol of alphabet A inside a step: the fast case takes the bits from
// the peeked word `w`; anything else walks on, bounded by limitBits, and peeks anew.
#define VORX_DECODE(A, symbolOut)                                                        \
    do {                                                                                 \
        const uint32_t entry_ = lookup[k##A##At + (w & k##A##Mask)];                     \
        if (DecodeTable::IsPlainLeaf(entry_)) {                                          \
            const uint32_t bits_ = entry_ & DecodeTable::kBitsMask;                      \
            pos += bits_;                                                                \
            w >>= bits_;                                                                 \
            (symbolOut) = entry_ >> DecodeTable::kValueShift;                            \
        } else {                                                                         \
            const uint64_t r_ = tables[BlockScratch::k##A].Finish(entry_, body, pos, limitBits); \
            if (r_ == DecodeTable::kWalkPastLimit) {                                     \
                e = kCorruptArchive;                                                 \
                goto stop;                                                               \
            }                                                                            \
            pos = static_cast<uint32_t>(r_ >> 32);                                       \
            (symbolOut) = static_cast<uint32_t>(r_);                                     \
            w = Peek(body, pos);                                                         \
        }                                                                                \
    } while (0)

}  // namespace

Result DecodeCompressedBlock(const uint8_t* body, uint32_t bitCount, uint32_t bodyBytes,
                             ContextTable& contexts, BlockScratch& scratch,
                             OutputTarget& target, uint64_t entryRemaining,
                             const BlockProgress* progress, uint64_t* produced) {
    *produced = 0;
    contexts.Clear();
    const uint32_t limitBits = (bodyBytes + static_cast<uint32_t>(kBodySlackBytes)) * 8;

    // Head and tables. Each table entry starts below the bit count, so none reads more
    // than 140 bits past it: well inside the zeroed slack and overread bytes.
    const uint32_t head1 = ReadBits(body, 0, 16) | (ReadBits(body, 16, 16) << 16);
    const uint32_t head2 = ReadBits(body, 32, 16) | (ReadBits(body, 48, 16) << 16);
    const BlockHead head = BlockHead::Parse(head1, head2);
    uint32_t at = 64;
    Result e;
    if ((e = ReadTable(scratch.tables[BlockScratch::kFlags], 16, head.flagCount, false, 4, body,
                       bitCount, at)) != kSuccess ||
        (e = ReadTable(scratch.tables[BlockScratch::kLiterals], 256, head.literalCount, false,
                       head.literalWidth, body, bitCount, at)) != kSuccess ||
        (e = ReadTable(scratch.tables[BlockScratch::kLengths], static_cast<int32_t>(head.lengthCount),
                       head.lengthCount, true, 0, body, bitCount, at)) != kSuccess ||
        (e = ReadTable(scratch.tables[BlockScratch::kSlots], 16, head.slotCount, false, 4, body,
                       bitCount, at)) != kSuccess)
        return e;
    if (at >= bitCount) return kCorruptArchive;

    for (int a = 0; a < BlockScratch::kAlphabets; ++a) {
        if (!scratch.trees[a].BuildFromTable(scratch.tables[a]) ||
            !scratch.lookup[a].Build(scratch.trees[a], BlockScratch::kRootBits[a],
                                     scratch.entries + BlockScratch::kOffset[a]))
            return kOutOfMemory;
    }
    // The hot state lives in locals whose address is never taken, so that the byte
    // stores of the output (which may alias anything) do not force it back to memory.
    const DecodeTable* const tables = scratch.lookup;
    const uint32_t* const lookup = scratch.entries;

    // Progress inside the block: the step counter of the format reports at steps
    // interval, 2 x interval + 1, 3 x interval + 2, ... (every step when it is 0).
    const uint64_t stepCount = head.stepCount;
    uint64_t nextReport = UINT64_MAX;
    uint64_t interval = 0;
    float stepFraction = 0.0f;
    if (progress && progress->callback && stepCount > 0) {
        stepFraction = SinglePrecision(progress->blockFraction / static_cast<float>(head.stepCount));
        const float perHundredth = SinglePrecision(0.01f / stepFraction);
        interval = perHundredth >= 1.8e19f ? UINT64_MAX : static_cast<uint64_t>(perHundredth);
        nextReport = interval;
    }

    Room room(target, entryRemaining);
    uint8_t* const out = target.base;
    uint64_t limit = room.limit();
    uint64_t p = 0;
    uint32_t pos = at;
    uint32_t flags = kUsedUp;
    uint32_t selectors = kUsedUp;
    uint64_t s = 0;
    // A slot holds p + 1 for a position p of this block (0 is an empty slot).
    const uint32_t marks = 1;
    uint8_t* op = out;

    while (s < stepCount) {
        if (s == nextReport) {
            float t = SinglePrecision(static_cast<float>(s) * stepFraction);
            t = SinglePrecision(t + progress->startFraction);
            t = SinglePrecision(t * 100.0f);
            progress->callback(progress->userData, Percent(t));
            nextReport = interval >= UINT64_MAX - s ? UINT64_MAX : s + interval + 1;
        }
        const uint64_t chunkEnd = stepCount < nextReport ? stepCount : nextReport;

        if (p < 3) {
            // The first positions of a block have no context: no bucket is selected,
            // no position is recorded, and a match finds its slot empty.
            uint64_t w = Peek(body, pos);
            if (flags == kUsedUp) {
                uint32_t symbol;
                VORX_DECODE(Flags, symbol);
                flags = PendingFlags(symbol);
            }
            const uint32_t flag = flags & 1u;
            flags >>= 1;
            if (flag == 0) {
                uint32_t literal;
                VORX_DECODE(Literals, literal);
                if (pos > limitBits) goto corrupt;
                if (p >= limit) {
                    if ((e = room.Need(p + 1)) != kSuccess) goto stop;
                    limit = room.limit();
                }
                out[p++] = static_cast<uint8_t>(literal);
            } else {
                // The codes are read (and may reach past the body) before the match
                // fails for want of a slot; both are corrupt data.
                [[maybe_unused]] uint32_t length, symbol;
                VORX_DECODE(Lengths, length);
                if (selectors == kUsedUp) VORX_DECODE(Slots, symbol);
                goto corrupt;
            }
            ++s;
            continue;
        }

        // The steps at positions of 3 or more, on an output pointer; a position is
        // recorded as its mark, markBias + the pointer's low 32 bits (p + 1).
        op = out + p;
        uint8_t* opEnd = out + limit;
        const uint32_t markBias = marks - static_cast<uint32_t>(reinterpret_cast<uintptr_t>(out));
        for (uint64_t n = chunkEnd - s; n > 0; --n) {
            // Context: the bucket of the three bytes before op, or of the two bytes
            // before it when the first one's slot 0 is empty.
            const uint32_t bucket = contexts.Select(op[-3], op[-2], op[-1]);
            uint32_t* const slots = contexts.positions[bucket];
            const uint32_t mark = markBias + static_cast<uint32_t>(reinterpret_cast<uintptr_t>(op));

            uint64_t w = Peek(body, pos);
            if (flags == kUsedUp) {
                uint32_t symbol;
                VORX_DECODE(Flags, symbol);
                if ((symbol & 15u) == 0 && n >= 4 && opEnd - op >= 4) {
                    // Four literal steps. Their codes follow in the word peeked (a flag
                    // code and four literal codes from the tables take at most 48 of its
                    // 57 bits), and the room and the body's end are checked once for the
                    // four: a code that reads past the end is corrupt data whichever of
                    // them it is, and nothing the steps do in between can be seen.
                    uint32_t literal;
                    VORX_DECODE(Literals, literal);
                    RecordLiteral(slots, contexts.order[bucket], mark);
                    *op++ = static_cast<uint8_t>(literal);
                    for (int i = 1; i < 4; ++i) {
                        const uint32_t next = contexts.Select(op[-3], op[-2], op[-1]);
                        VORX_DECODE(Literals, literal);
                        RecordLiteral(contexts.positions[next], contexts.order[next],
                                      markBias + static_cast<uint32_t>(reinterpret_cast<uintptr_t>(op)));
                        *op++ = static_cast<uint8_t>(literal);
                    }
                    if (pos > limitBits) goto corrupt;
                    n -= 3;
                    continue;
                }
                flags = PendingFlags(symbol);
            }
            const uint32_t flag = flags & 1u;
            flags >>= 1;
            if (flag == 0) {
                uint32_t literal;
                VORX_DECODE(Literals, literal);
                if (pos > limitBits) goto corrupt;
                if (op >= opEnd) {
                    if ((e = room.Need(static_cast<uint64_t>(op - out) + 1)) != kSuccess) goto stop;
                    opEnd = out + room.limit();
                }
                RecordLiteral(slots, contexts.order[bucket], mark);
                *op++ = static_cast<uint8_t>(literal);
            } else {
                uint32_t length;
                VORX_DECODE(Lengths, length);
                if (selectors == kUsedUp) {
                    uint32_t symbol;
                    VORX_DECODE(Slots, symbol);
                    selectors = PendingSelectors(symbol);
                }
                const uint32_t selector = selectors & 3u;
                selectors >>= 2;
                if (pos > limitBits) goto corrupt;
                // The source is the slot as it was before this step's update, which
                // never replaces the slot just stamped: that one is the newest.
                const uint32_t source = slots[selector];
                RecordMatch(slots, &contexts.order[bucket], selector, mark);
                if (source == 0) goto corrupt;
                if (length > static_cast<uint64_t>(opEnd - op)) {
                    if ((e = room.Need(static_cast<uint64_t>(op - out) + length)) != kSuccess) goto stop;
                    opEnd = out + room.limit();
                }
                CopyMatch(op, op - (mark - source), length, static_cast<uint64_t>(opEnd - op));
                op += length;
            }
        }
        p = static_cast<uint64_t>(op - out);
        limit = static_cast<uint64_t>(opEnd - out);
        s = chunkEnd;
    }
    *produced = p;
    return kSuccess;

corrupt:
    e = kCorruptArchive;
stop:
    return e;
}

#undef VORX_DECODE

}  // namespace vorx
