// Compressed block bodies laid down by hand for the edge cases: a block's head, tables
// and any sequence of codes, or the steps of a chosen parse.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "codec/bit_writer.h"
#include "tests/support/reference_decoder.h"

namespace streams {

using reference::Entry;

// What a block's head and tables say. Tables are written in the order given, each
// entry as its symbol then its weight.
struct BlockPlan {
    uint32_t stepCount = 0;
    uint32_t literalWidth = 8;
    // A flag, literal or slot count cannot be 0: an empty one is written as (1, 0).
    std::vector<Entry> flags, literals, lengths, slots;
};

class BlockWriter {
public:
    explicit BlockWriter(const BlockPlan& plan);

    // Appends the code of `symbol` in table `table`'s tree (0 flags, 1 literals, 2 lengths,
    // 3 slots; the symbol must be a leaf of it).
    void Code(int table, uint32_t symbol);
    void Flag(uint32_t symbol) { Code(0, symbol); }
    void Literal(uint32_t symbol) { Code(1, symbol); }
    void Length(uint32_t symbol) { Code(2, symbol); }
    void Slot(uint32_t symbol) { Code(3, symbol); }
    vorx::BitWriter& bits() { return bits_; }
    // The body padded with zeros to a multiple of 16 bytes. *bitCount receives the bits
    // written, at least one beyond the tables (a block needs a bit past its tables).
    std::vector<uint8_t> Finish(uint32_t* bitCount) const;

private:
    vorx::BitWriter bits_;
    uint32_t tablesEnd_ = 0;
    // Per table, the code of each symbol in the tree the decoder builds from the table.
    std::map<uint32_t, std::vector<uint8_t>> codes_[4];
};

// One decode step: a literal byte, or a match of `length` bytes from slot `selector`.
struct Step {
    bool match;
    uint32_t value;     // the literal's table symbol (its low 8 bits are the byte), or the length
    uint32_t selector;  // 0 to 3, for a match
};

// Builds a block that decodes to `steps`: tables of the symbols' frequencies (heaviest
// first), flags packed four to a flag symbol, selectors two to a slot symbol.
std::vector<uint8_t> EncodeSteps(const std::vector<Step>& steps, uint32_t* bitCount);

// A block as an entry's data area holds it: its head (size field and type), then the body
// padded with zeros to a multiple of 16 bytes.
std::vector<uint8_t> RawBlock(uint32_t type, uint32_t sizeField, const std::vector<uint8_t>& body);

// A compressed block as an entry's data area holds it that decodes to `total` (at least 4)
// bytes 'a': four literals, then matches of one byte back.
std::vector<uint8_t> RunOfA(uint64_t total);

}  // namespace streams
