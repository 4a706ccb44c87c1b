// How far the matches a deflate-style compressor finds carry into our format.
//
// A parse like zlib's at level 9 (hash chains over three-byte strings, a 32 KiB
// window, chains of at most 4096, lengths 3 to 258, lazy evaluation) is run on every
// block of every file. Its matches are then judged three ways:
//
//   - all: as if our table held every source (what the parse costs in our codes);
//   - oracle: a match is kept only when our format could name its source at all with
//     the table managed perfectly: source and target select the same two-byte bucket
//     (directly, or after the first one or two bytes of the match are sent as
//     literals), and no bucket ever needs more than four sources at once (sources
//     assigned to slots earliest use first, each kept from its insertion to its last
//     use). Steps are assumed to begin wherever a source is wanted, and the decoder's
//     choice of a three-byte bucket and its stamp rules are ignored: a generous bound;
//   - table: the decoder's table run over the parse's own steps; a match is kept when
//     one of the four slots then holds a source at least as long.
//
// Beside them, a parse of our own (not deflate's) with a table of unlimited slots:
// every earlier position in the bucket of the two bytes before, or in the one of the
// three bytes before, is a source; the cheapest path over the block priced by the
// codes of a first such parse. It says roughly what the four-slot limit and the
// table's management cost.
//
// And where our own level-9 parse loses its matches: at every literal step, the longest
// copy that an earlier step start of the selected bucket would give (as if the bucket
// kept them all) against what the four slots give. A copy of four bytes or more that
// the slots miss is a lost source, counted once per run of literals it would have
// covered, with how it left the table: replaced as the bucket's unused slot (a slot no
// match has copied from) by a later step of that bucket, or pushed out of the slots
// that matches keep. A source replaced as the unused slot survives only if the step
// that replaces it copies from it instead: whether that step could have (its bytes
// agree for at least one) says what planning which positions the slots keep can win.
//
// A match not kept is sent as literals. Each variant's steps are planned by the
// compressor's own table design (real code lengths and table costs, a stored block
// where smaller) and summed over the corpus like our compressed sizes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vorx::bench {

struct BoundFigures {
    uint64_t inputBytes = 0;
    uint64_t matches = 0, matchBytes = 0;  // of the deflate-style parse
    uint64_t sameContext = 0;              // source and target in one bucket, as they stand
    uint64_t sourceAtStep = 0;             // ... and the source begins a step of the parse
    uint64_t oracleMatches = 0, oracleBytes = 0;
    uint64_t tableMatches = 0, tableBytes = 0;
    uint64_t sizeAll = 0, sizeOracle = 0, sizeTable = 0;  // bytes, blocks as stored
    uint64_t sizeUnlimited = 0;  // our own parse with a table of unlimited slots
    // Sources our level-9 parse loses (see above): copies and their bytes.
    uint64_t lost = 0, lostBytes = 0;
    uint64_t lostUnused = 0;        // replaced as the unused slot
    uint64_t lostRefreshable = 0, lostRefreshableBytes = 0;  // ... by a step that could copy it
    uint64_t lostByMatchStart = 0;  // ... by a step that begins a match
    uint64_t lostNextStep = 0;      // ... by the very next step of that bucket
    uint64_t parseBytes = 0;        // that parse's compressed bytes, blocks as stored
};

// Adds one file's figures (cut into blocks of `blockSize`).
void AddBound(const uint8_t* data, size_t n, size_t blockSize, BoundFigures* figures);

}  // namespace vorx::bench
