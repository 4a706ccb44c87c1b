#include "codec/block_decoder.h"

#include <cassert>
#include <cstring>

#include "codec/bit_input.h"

namespace vorx {
namespace {

// Where each alphabet's lookup table lies in the scratch's array, and the bits it takes.
constexpr uint32_t kFlagsAt = BlockScratch::kOffset[BlockScratch::kFlags];
constexpr uint32_t kLiteralsAt = BlockScratch::kOffset[BlockScratch::kLiterals];
constexpr uint32_t kLengthsAt = BlockScratch::kOffset[BlockScratch::kLengths];
constexpr uint32_t kSlotsAt = BlockScratch::kOffset[BlockScratch::kSlots];
constexpr uint32_t kFlagsValues = BlockScratch::kValueMask[BlockScratch::kFlags];
constexpr uint32_t kLiteralsValues = BlockScratch::kValueMask[BlockScratch::kLiterals];
constexpr uint32_t kLengthsValues = BlockScratch::kValueMask[BlockScratch::kLengths];
constexpr uint32_t kSlotsValues = BlockScratch::kValueMask[BlockScratch::kSlots];
// The alphabets whose tables a block's groups may take as plain (see DecodeGroups):
// length codes reach beyond their table in most large blocks, so theirs is tested
// whatever the others are.
constexpr bool kFlagsMayBePlain = true;
constexpr bool kLiteralsMayBePlain = true;
constexpr bool kLengthsMayBePlain = false;
constexpr bool kSlotsMayBePlain = true;
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
// Slots keep the low 32 bits of output addresses (see Mark), which bounds one block's
// output below 4 GiB.
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

// The bit buffer: the 64-bit word at the byte of `bitPosition`, shifted so that bit 0
// is the stream's bit at that position. At least 57 of its bits are stream bits (at
// most 7 are shifted out), so one load serves several symbols: a decode consumes from
// the bottom with one shift. The word is loaded anew where the steps may have used up
// more than 57 bits since the last load (see kBitsPerLoad).
inline uint64_t Peek(const uint8_t* body, uint32_t bitPosition) {
    return LoadLe64(body + (bitPosition >> 3)) >> (bitPosition & 7);
}
constexpr uint32_t kBitsPerLoad = 57;

// A slot's position is the low 32 bits of the output address (a block's output is less
// than 4 GiB long, so that the distance back is their difference).
inline uint32_t Mark(const uint8_t* op) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(op));
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
        if (distance >= 16) {
            // Most matches are short: one 16-byte move covers them.
            std::memcpy(d, s, 16);
            if (length <= 16) return;
            if (distance >= length && length > 64) {
                std::memcpy(d + 16, s + 16, static_cast<size_t>(length - 16));
                return;
            }
            uint8_t* const end = d + length;
            d += 16;
            s += 16;
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
        } else {
            // The pattern repeats with a period of `distance` (1 to 7): lay down its first
            // eight bytes (each reading one written just before), then copy eight at a
            // time from a whole number of periods back.
            for (int i = 0; i < 8; ++i) d[i] = s[i];
            const uint64_t period = kPatternPeriod[distance];
            for (uint64_t i = 8; i < length; i += 8) std::memcpy(d + i, d + i - period, 8);
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

// Reads one table of the block: up to `entries` (symbol, weight) pairs (at most
// `size`), stopping once the position reaches the block's bit count. A symbol is an
// escape-coded number when `escapedSymbols` is set, else `width` plain bits. An escape
// code too long to carry a number (ReadEscapedNumber's 0) is corrupt data. The table holds the
// pairs read and nothing else: the entries the stream does not send would have weight 0, and a tree
// takes none from the first of weight 0 on, so they need not be written.
Result ReadTable(SymbolTable& table, int32_t size, uint32_t entries, bool escapedSymbols,
                 uint32_t width, const uint8_t* body, uint32_t bitCount, uint32_t& pos) {
    if (!table.Allocate(size)) return kOutOfMemory;
    assert(entries <= static_cast<uint32_t>(size));
    for (uint32_t i = 0; i < entries && pos < bitCount; ++i) {
        uint32_t symbol;
        if (escapedSymbols) {
            symbol = ReadEscapedNumberQuickly(body, pos);
            if (symbol == 0) return kCorruptArchive;
        } else {
            symbol = ReadBits(body, pos, width);
            pos += width;
        }
        const uint32_t weight = ReadEscapedNumberQuickly(body, pos);
        if (weight == 0) return kCorruptArchive;
        table[i] = SymbolEntry{weight, symbol};
        table.SetCount(static_cast<int32_t>(i + 1));
    }
    return kSuccess;
}

// Tells the compiler a fact it cannot see (here: what a lookup table holds), so that it
// drops the masks that would restate it.
// Debug builds check it instead.
#if !defined(NDEBUG)
#define VORX_ASSUME(condition) assert(condition)
#elif defined(__GNUC__)
#define VORX_ASSUME(condition)                     \
    do {                                           \
        if (!(condition)) __builtin_unreachable(); \
    } while (0)
#else
#define VORX_ASSUME(condition) ((void)0)
#endif

// Decodes one symbol of alphabet A inside a step, keeping the bits of it the decoder
// uses (the table holds no others): the fast case takes the bits from
// the bit buffer `w` (loaded at bit position `loadedAt`); anything else walks on,
// bounded by limitBits, and loads the buffer anew.
#define VORX_DECODE(A, symbolOut)                                                                \
    do {                                                                                         \
        const uint32_t entry_ = lookup[k##A##At + (w & k##A##Mask)];                             \
        if ((kPlain && k##A##MayBePlain) || DecodeTable::IsPlainLeaf(entry_)) {                  \
            VORX_ASSUME(DecodeTable::IsPlainLeaf(entry_));                                       \
            const uint32_t bits_ = entry_ & DecodeTable::kBitsMask;                              \
            pos += bits_;                                                                        \
            assert(pos - loadedAt <= kBitsPerLoad);                                              \
            w >>= bits_;                                                                         \
            (symbolOut) = entry_ >> DecodeTable::kValueShift;                                    \
            VORX_ASSUME((symbolOut) <= k##A##Values);                                            \
        } else {                                                                                 \
            const uint64_t r_ = tables[BlockScratch::k##A].Finish(entry_, body, pos, limitBits); \
            if (r_ == DecodeTable::kWalkPastLimit) {                                             \
                e = kCorruptArchive;                                                             \
                goto stop;                                                                       \
            }                                                                                    \
            pos = static_cast<uint32_t>(r_ >> 32);                                               \
            (symbolOut) = static_cast<uint32_t>(r_) & k##A##Values;                              \
            w = Peek(body, loadedAt = pos);                                                      \
        }                                                                                        \
    } while (0)

// Takes the next selector of a match: the pending one, or the first of a slot symbol
// decoded now.
#define VORX_NEXT_SELECTOR(selectorOut)            \
    do {                                           \
        if (selectors == kUsedUp) {                \
            uint32_t symbol_;                      \
            VORX_DECODE(Slots, symbol_);           \
            selectors = PendingSelectors(symbol_); \
        }                                          \
        (selectorOut) = selectors & 3u;            \
        selectors >>= 2;                           \
    } while (0)

// Asks for room for `needed` bytes of output when a step lacks it: the bit position is
// checked first (a code that read past the body is corrupt whatever the room), then
// the target. Out of the hot loop's way.
[[gnu::noinline]] Result Grow(Room& room, uint64_t needed, uint32_t pos, uint32_t limitBits) {
    if (pos > limitBits) return kCorruptArchive;
    return room.Need(needed);
}

// What the steps of one block read and write besides their cursor.
struct BlockInput {
    const uint8_t* body;
    uint32_t limitBits;         // a code that reads a bit at or past it is corrupt data
    const uint32_t* lookup;     // BlockScratch::entries: the four tables at their places
    const DecodeTable* tables;  // for the walks beyond them
    ContextTable* contexts;
    Room* room;
    uint8_t* out;  // the block's first output byte
};

// The state the steps move on.
struct Cursor {
    uint8_t* op;     // the next output byte
    uint8_t* opEnd;  // the end of the room known
    uint32_t pos;    // the bit position
    uint32_t flags;  // flags pending (kUsedUp after whole groups)
    uint32_t selectors;
};

// The locals the step macros work on, from a BlockInput (a function's hot state in
// locals whose address is never taken, so that the byte stores of the output, which may
// alias anything, do not force it back to memory).
#define VORX_BLOCK_LOCALS(input)                      \
    const uint8_t* const body = (input).body;         \
    const uint32_t limitBits = (input).limitBits;     \
    const uint32_t* const lookup = (input).lookup;    \
    const DecodeTable* const tables = (input).tables; \
    ContextTable& contexts = *(input).contexts;       \
    Room& room = *(input).room;                       \
    uint8_t* const out = (input).out

// One literal step at op >= out + 3 whose output room is known: the bucket of the
// three bytes before op records op.
#define VORX_LITERAL_STEP()                                                        \
    do {                                                                           \
        contexts.RecordLiteral(contexts.Choose(op[-3], op[-2], op[-1]), Mark(op)); \
        uint32_t literal_;                                                         \
        VORX_DECODE(Literals, literal_);                                           \
        *op++ = static_cast<uint8_t>(literal_);                                    \
    } while (0)

// Match step k (0 to 3) of a group, at op >= out + 3, with a fresh bit buffer: its
// length and selector codes take at most 18 of its bits in the tables' reach. A slot
// the order calls empty (every slot of an unwritten bucket) is corrupt data.
//
// A match that leaves 16 bytes of room behind it is copied in words (most take two
// 16-byte moves), and the literals after it in the group have their room. Otherwise it
// asks for room, is copied exactly, and the group ends there: the caller takes the
// group's remaining steps one by one.
#define VORX_MATCH_STEP(k)                                                                         \
    do {                                                                                           \
        const ContextTable::Choice c_ = contexts.Choose(op[-3], op[-2], op[-1]);                   \
        w = Peek(body, loadedAt = pos);                                                            \
        uint32_t length_, selector_;                                                               \
        VORX_DECODE(Lengths, length_);                                                             \
        VORX_NEXT_SELECTOR(selector_);                                                             \
        const ContextTable::Source source_ = contexts.RecordMatch(c_, selector_, Mark(op));        \
        if (!source_.found) goto corrupt;                                                          \
        const uint32_t distance_ = source_.distance;                                               \
        const uint64_t room_ = static_cast<uint64_t>(opEnd - op);                                  \
        if (length_ <= 32 && distance_ >= 16 && (kAmple || room_ >= 48)) {                         \
            std::memcpy(op, op - distance_, 16);                                                   \
            std::memcpy(op + 16, op + 16 - distance_, 16);                                         \
            op += length_;                                                                         \
        } else if (room_ >= static_cast<uint64_t>(length_) + (kAmple ? kAmpleAfterLong : 16)) {    \
            CopyMatch(op, op - distance_, length_, room_);                                         \
            op += length_;                                                                         \
        } else {                                                                                   \
            if (length_ > room_) {                                                                 \
                if ((e = Grow(room, static_cast<uint64_t>(op - out) + length_, pos, limitBits)) != \
                    kSuccess)                                                                      \
                    goto stop;                                                                     \
                opEnd = out + room.limit();                                                        \
            }                                                                                      \
            CopyMatch(op, op - distance_, length_, static_cast<uint64_t>(opEnd - op));             \
            op += length_;                                                                         \
            flags = PendingFlags(symbol) >> ((k) + 1);                                             \
            steps = 4 * (groups - groupsLeft) + (k) + 1;                                           \
            goto partial;                                                                          \
        }                                                                                          \
    } while (0)

#define VORX_GROUP_STEP(k)          \
    do {                            \
        if ((symbol >> (k)) & 1u) { \
            VORX_MATCH_STEP(k);     \
        } else {                    \
            VORX_LITERAL_STEP();    \
        }                           \
    } while (0)

// A group's codes in the tables' reach fit the bits of one load: the flag code and four
// literal codes, or after a match's fresh load its two codes and three literal codes.
static_assert(BlockScratch::kRootBits[BlockScratch::kFlags] +
                  4 * BlockScratch::kRootBits[BlockScratch::kLiterals] <=
              kBitsPerLoad);
static_assert(BlockScratch::kRootBits[BlockScratch::kLengths] +
                  BlockScratch::kRootBits[BlockScratch::kSlots] +
                  3 * BlockScratch::kRootBits[BlockScratch::kLiterals] <=
              kBitsPerLoad);

// Room that lets a group run without looking at it: each of its four steps writes at
// most 32 bytes (a literal one, a short match its two 16-byte moves). A longer match
// keeps the group going only when the room behind it still holds the remaining steps'
// 32 bytes each and its own copy's 16 bytes of scribble.
constexpr ptrdiff_t kAmpleRoom = 4 * 32;
constexpr uint64_t kAmpleAfterLong = 3 * 32 + 16;

// Groups of four steps, each under one flag symbol, for up to `stepLimit` steps,
// starting where a flag symbol is due and op >= out + 3 (every step has its context).
// It stops where four literals would lack room, or inside a group after a match that
// lacked room (cursor.flags then holds the group's flags still pending), for the
// step-by-step path; *done says how many steps it decoded. A function of its own so
// that the compiler keeps the bit buffer, the position, op and the table bases in
// registers.
//
// One load of the bit buffer serves the flag symbol and the literal codes; a match
// loads it anew. The bit position is checked against the body's end once per group: a
// code that reads past it is corrupt data whichever step reads it, and the steps read
// at most 72 bits past it in the tables' reach (the walks beyond check for
// themselves), well inside the overread bytes. A step that must ask for room checks
// the position first.
//
// With kAmple, groups run only while kAmpleRoom bytes of room are left at their start,
// and the steps look at the room only for matches longer than 32 bytes.
//
// With kPlain, the entries of the flag, literal and slot tables are all plain leaves
// (DecodeTable::plain), and their decodes take no other case.
template <bool kAmple, bool kPlain>
[[gnu::noinline]] Result DecodeGroups(const BlockInput& input, uint64_t stepLimit, Cursor& cursor,
                                      uint64_t* done) {
    VORX_BLOCK_LOCALS(input);
    uint8_t* op = cursor.op;
    uint8_t* opEnd = cursor.opEnd;
    uint32_t pos = cursor.pos;
    uint32_t flags = kUsedUp;
    uint32_t selectors = cursor.selectors;
    const uint64_t groups = stepLimit / 4;
    uint64_t groupsLeft = groups;
    uint64_t steps;
    Result e = kSuccess;
    assert(cursor.flags == kUsedUp && op - out >= 3);
    // A group starts at op <= opStop (none when the room is short already). opEnd
    // changes only where the loop is left.
    const ptrdiff_t need = kAmple ? kAmpleRoom : 4;
    const uint8_t* const opStop = opEnd - op >= need ? opEnd - need : op - 1;
    while (groupsLeft != 0 && op <= opStop) {
        [[maybe_unused]] uint32_t loadedAt = pos;
        uint64_t w = Peek(body, pos);
        uint32_t symbol;
        VORX_DECODE(Flags, symbol);
        if ((symbol & 15u) == 0) {
            // Four literals, the commonest pattern: their codes follow the flag code
            // in the bit buffer.
            VORX_LITERAL_STEP();
            VORX_LITERAL_STEP();
            VORX_LITERAL_STEP();
            VORX_LITERAL_STEP();
        } else {
            // The compiler unrolls each test on a bit of the symbol.
            VORX_GROUP_STEP(0);
            VORX_GROUP_STEP(1);
            VORX_GROUP_STEP(2);
            VORX_GROUP_STEP(3);
        }
        if (pos > limitBits) goto corrupt;
        --groupsLeft;
    }
    // Whole groups: no flag pending.
    steps = 4 * (groups - groupsLeft);
    flags = kUsedUp;
partial:
    if (pos > limitBits) goto corrupt;
    *done = steps;
    cursor = Cursor{op, opEnd, pos, flags, selectors};
    return kSuccess;

corrupt:
    e = kCorruptArchive;
stop:
    return e;
}

// The groups that fit in the next `stepLimit` steps where a flag symbol is due and
// every step has its context: first those with ample room, then those that check it.
// Adds the steps decoded to *s.
Result DecodeGroupsWhereDue(const BlockInput& input, bool plain, uint64_t stepLimit, Cursor& cursor,
                            uint64_t* s) {
    if (cursor.flags != kUsedUp || stepLimit < 4 || cursor.op - input.out < 3) return kSuccess;
    uint64_t done = 0;
    Result e;
    if (cursor.opEnd - cursor.op >= kAmpleRoom) {
        if ((e = (plain ? DecodeGroups<true, true>
                        : DecodeGroups<true, false>)(input, stepLimit, cursor, &done)) != kSuccess)
            return e;
        *s += done;
        stepLimit -= done;
        done = 0;
    }
    if (cursor.flags == kUsedUp && stepLimit >= 4 &&
        (e = DecodeGroups<false, false>(input, stepLimit, cursor, &done)) != kSuccess)
        return e;
    *s += done;
    return kSuccess;
}

// One step with every check, for what the groups leave: the first three positions of a
// block (which have no context: no bucket is selected, no position is recorded, and a
// match finds its slot empty), flags pending from a symbol a group or a report left,
// the last steps, and output that needs room.
Result DecodeOneStep(const BlockInput& input, Cursor& cursor) {
    VORX_BLOCK_LOCALS(input);
    constexpr bool kPlain = false;  // every case of every table
    uint8_t* op = cursor.op;
    uint8_t* opEnd = cursor.opEnd;
    uint32_t pos = cursor.pos;
    uint32_t flags = cursor.flags;
    uint32_t selectors = cursor.selectors;
    Result e = kSuccess;
    {
        [[maybe_unused]] uint32_t loadedAt = pos;
        uint64_t w = Peek(body, pos);
        if (flags == kUsedUp) {
            uint32_t symbol;
            VORX_DECODE(Flags, symbol);
            flags = PendingFlags(symbol);
        }
        const uint32_t flag = flags & 1u;
        flags >>= 1;
        const bool context = op - out >= 3;
        if (flag == 0) {
            uint32_t literal;
            VORX_DECODE(Literals, literal);
            if (pos > limitBits) goto corrupt;
            if (op >= opEnd) {
                if ((e = room.Need(static_cast<uint64_t>(op - out) + 1)) != kSuccess) goto stop;
                opEnd = out + room.limit();
            }
            if (context) contexts.RecordLiteral(contexts.Choose(op[-3], op[-2], op[-1]), Mark(op));
            *op++ = static_cast<uint8_t>(literal);
        } else {
            uint32_t length, selector;
            VORX_DECODE(Lengths, length);
            VORX_NEXT_SELECTOR(selector);
            if (pos > limitBits) goto corrupt;
            // The codes are read (and may reach past the body) before a match without
            // context fails for want of a slot; both are corrupt data.
            if (!context) goto corrupt;
            const ContextTable::Source source =
                contexts.RecordMatch(contexts.Choose(op[-3], op[-2], op[-1]), selector, Mark(op));
            if (!source.found) goto corrupt;
            if (length > static_cast<uint64_t>(opEnd - op)) {
                if ((e = room.Need(static_cast<uint64_t>(op - out) + length)) != kSuccess)
                    goto stop;
                opEnd = out + room.limit();
            }
            CopyMatch(op, op - source.distance, length, static_cast<uint64_t>(opEnd - op));
            op += length;
        }
    }
    cursor = Cursor{op, opEnd, pos, flags, selectors};
    return kSuccess;
corrupt:
    return kCorruptArchive;
stop:
    return e;
}

#undef VORX_GROUP_STEP
#undef VORX_MATCH_STEP
#undef VORX_LITERAL_STEP
#undef VORX_BLOCK_LOCALS
#undef VORX_NEXT_SELECTOR
#undef VORX_DECODE
#undef VORX_ASSUME

// Reads the block's head and its four tables and builds the trees and lookup tables;
// *at is then the position of the first step. Each table entry starts below the bit
// count, so none reads more than 140 bits past it: well inside the zeroed slack and
// overread bytes.
Result ReadTables(const uint8_t* body, uint32_t bitCount, BlockScratch& scratch, BlockHead* head,
                  uint32_t* at) {
    const uint32_t head1 = ReadBits(body, 0, 16) | (ReadBits(body, 16, 16) << 16);
    const uint32_t head2 = ReadBits(body, 32, 16) | (ReadBits(body, 48, 16) << 16);
    *head = BlockHead::Parse(head1, head2);
    *at = 64;
    struct Layout {
        int32_t size;
        uint32_t entries;
        bool escapedSymbols;
        uint32_t width;
    };
    const Layout layout[BlockScratch::kAlphabets] = {
        {16, head->flagCount, false, 4},
        {256, head->literalCount, false, head->literalWidth},
        {static_cast<int32_t>(head->lengthCount), head->lengthCount, true, 0},
        {16, head->slotCount, false, 4},
    };
    for (int a = 0; a < BlockScratch::kAlphabets; ++a) {
        const Layout& l = layout[a];
        if (const Result e = ReadTable(scratch.tables[a], l.size, l.entries, l.escapedSymbols,
                                       l.width, body, bitCount, *at))
            return e;
    }
    if (*at >= bitCount) return kCorruptArchive;
    for (int a = 0; a < BlockScratch::kAlphabets; ++a) {
        if (!scratch.trees[a].Build(scratch.tables[a]) ||
            !scratch.lookup[a].Build(scratch.trees[a], BlockScratch::kRootBits[a],
                                     scratch.entries + BlockScratch::kOffset[a],
                                     BlockScratch::kValueMask[a]))
            return kOutOfMemory;
    }
    return kSuccess;
}

// Progress inside a block: reports at steps interval, 2 x interval + 1,
// 3 x interval + 2, ... (every step when the interval is 0), interval being the steps
// of a hundredth of the entry.
class ProgressSteps {
public:
    ProgressSteps(const BlockProgress* progress, uint32_t stepCount) : progress_(progress) {
        if (!progress || !progress->callback || stepCount == 0) return;
        stepFraction_ = SinglePrecision(progress->blockFraction / static_cast<float>(stepCount));
        const float perHundredth = SinglePrecision(0.01f / stepFraction_);
        interval_ = perHundredth >= 1.8e19f ? UINT64_MAX : static_cast<uint64_t>(perHundredth);
        next_ = interval_;
    }

    // The step at which the next report is due (UINT64_MAX: none).
    uint64_t next() const { return next_; }

    // Reports step s, which is next().
    void Report(uint64_t s) {
        float t = SinglePrecision(static_cast<float>(s) * stepFraction_);
        t = SinglePrecision(t + progress_->startFraction);
        t = SinglePrecision(t * 100.0f);
        progress_->callback(progress_->userData, Percent(t));
        next_ = interval_ >= UINT64_MAX - s ? UINT64_MAX : s + interval_ + 1;
    }

private:
    const BlockProgress* progress_;
    float stepFraction_ = 0.0f;
    uint64_t interval_ = 0;
    uint64_t next_ = UINT64_MAX;
};

}  // namespace

Result DecodeCompressedBlock(const uint8_t* body, uint32_t bitCount, uint32_t bodyBytes,
                             ContextTable& contexts, BlockScratch& scratch, OutputTarget& target,
                             uint64_t entryRemaining, const BlockProgress* progress,
                             uint64_t* produced) {
    *produced = 0;
    contexts.Clear();
    BlockHead head;
    uint32_t at;
    if (const Result e = ReadTables(body, bitCount, scratch, &head, &at)) return e;

    Room room(target, entryRemaining);
    const BlockInput input{body,
                           (bodyBytes + static_cast<uint32_t>(kBodySlackBytes)) * 8,
                           scratch.entries,
                           scratch.lookup,
                           &contexts,
                           &room,
                           target.base};
    // In most blocks the flag, literal and slot codes all lie in their tables' reach:
    // their groups take only that case for them.
    const bool plain = scratch.lookup[BlockScratch::kFlags].plain() &&
                       scratch.lookup[BlockScratch::kLiterals].plain() &&
                       scratch.lookup[BlockScratch::kSlots].plain();
    Cursor cursor{input.out, input.out + room.limit(), at, kUsedUp, kUsedUp};
    ProgressSteps reports(progress, head.stepCount);
    const uint64_t stepCount = head.stepCount;
    uint64_t s = 0;
    while (s < stepCount) {
        if (s == reports.next()) reports.Report(s);
        const uint64_t chunkEnd = stepCount < reports.next() ? stepCount : reports.next();
        while (s < chunkEnd) {
            Result e = DecodeGroupsWhereDue(input, plain, chunkEnd - s, cursor, &s);
            if (e == kSuccess && s < chunkEnd && (e = DecodeOneStep(input, cursor)) == kSuccess)
                ++s;
            if (e != kSuccess) return e;
        }
    }
    *produced = static_cast<uint64_t>(cursor.op - input.out);
    return kSuccess;
}

}  // namespace vorx
