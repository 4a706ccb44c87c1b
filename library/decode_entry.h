// The entry pipeline of the library: one entry's blocks read from the archive file one
// by one, decrypted when the entry is encrypted, decoded by the codec, checked with
// CRC-32 and handed to memory or, block by block, to an output sink; progress
// reported and cancel requests honoured between blocks.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/block_decoder.h"
#include "library/vorx.h"

struct vorx_Stream;

namespace vorx {

// Takes one block's decoded bytes during a file extraction. Returns 0, or the code
// that ends the decode (15 when the bytes could not all be written).
using OutputSink = vorx_Error (*)(vorx_Stream* handle, const uint8_t* data, size_t length);

// Decodes the entry whose 40-byte record lies at file offset `recordPosition` and whose
// file information is `info` (as LocateEntry gives them) into `target`:
//  - without a sink, target is the caller's memory for the whole entry: each block's
//    output is placed behind the previous one (target.base and capacity advance);
//  - with a sink, each block is decoded at target.base and then handed to the sink.
// The entry may produce at most its uncompressedSize bytes; more is corrupt data (3).
// Reads from the handle its file, password, progress callback, user data and cancel
// flag. What the decoder keeps between entries (context table, working buffer, block
// tables) is made at the handle's first decode and kept in it.
// Returns 0; 2 cancelled at a block start; 3 corrupt data; 9 CRC-32 mismatch;
// 11 out of memory; the target's or the sink's refusal.
vorx_Error DecodeLocatedEntry(vorx_Stream* handle, const vorx_FileInfo& info,
                              uint64_t recordPosition, OutputTarget* target, OutputSink sink);

}  // namespace vorx
