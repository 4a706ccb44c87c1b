// Choosing the symbol table a block sends for one alphabet.
//
// The decoder grows each code tree from the table's entries in order (codec/code_tree.h).
// The table's order and weights are the encoder's to choose: they need not be counts,
// only give a tree whose codes are short for frequent symbols. The designer tries
// several tables (weights 2^(deepest - length) from length-limited Huffman code
// lengths, flat weights, counts scaled to small ranges), grows each tree with the
// decoder's own CodeTree, and keeps the one whose total cost is least: the codes' bits
// over the symbol counts plus the table's own bits (its symbols and escape-coded
// weights, where small weights are cheap).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/code_tree.h"

namespace vorx {

// The longest code the writer sends (a code is written as one 32-bit field).
constexpr uint32_t kMaxCodeLength = 32;

struct SymbolCount {
    uint32_t symbol;
    uint64_t count;  // at least 1
};

struct SymbolCode {
    uint32_t code = 0;    // path bits, first step in bit 0
    uint32_t length = 0;  // 0: the symbol is not in the tree
};

struct AlphabetDesign {
    std::vector<SymbolEntry> table;  // (weight, symbol) in the order sent
    std::vector<SymbolCode> codes;   // per input symbol, in the input's order
    uint64_t tableBits = 0;          // bits of the table's entries (symbols and weights)
    uint64_t dataBits = 0;           // bits of all the symbols' codes
    uint32_t maxLength = 0;
};

// Bits of one table entry's symbol field for `symbol`.
using SymbolFieldBits = uint32_t (*)(uint32_t symbol, uint32_t context);

class TableDesigner {
public:
    // Designs the table for `counts` (distinct symbols, counts of at least 1; may be
    // empty, which gives an empty table). `symbolBits(symbol, context)` prices a symbol
    // field. `effort` (0 to 2) widens the search.
    void Design(const std::vector<SymbolCount>& counts, SymbolFieldBits symbolBits,
                uint32_t context, int effort, AlphabetDesign* design);

private:
    // Grows the tree of the entries' weights (most frequent first) as the decoder
    // does, each leaf's symbol being its entry; returns the bits of all codes, or
    // UINT64_MAX when a code would be longer than kMaxCodeLength.
    uint64_t Grow(const std::vector<uint32_t>& weights);
    // The total of a candidate: its table's weight bits and its codes' bits.
    uint64_t Total(const std::vector<uint32_t>& weights);
    // The candidates' weights, the cheapest in `best`.
    void Search(int effort, std::vector<uint32_t>* best);

    CodeTree tree_;
    std::vector<SymbolEntry> entries_;  // the candidate's (weight, entry) pairs
    std::vector<uint64_t> counts_;      // by entry
    std::vector<uint32_t> order_;       // entry -> input index
};

// Code lengths of an optimal prefix code for `counts` with no code longer than
// `limit` (2^limit must exceed the symbol count). One symbol gets length 1.
std::vector<uint32_t> LimitedHuffmanLengths(const std::vector<uint64_t>& counts, uint32_t limit);

}  // namespace vorx
