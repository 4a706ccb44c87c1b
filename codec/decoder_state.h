// What a handle keeps for its decodes between entries: the context table, the working
// buffer and the memory of the block tables and trees. Made at the handle's first
// decode and freed with the handle, so that an archive of many small entries pays for
// none of them again (a fresh working buffer alone would cost a mapping, its page
// faults and its release for every entry). Each decode uses them from start to end;
// nothing of one entry's bytes carries into the next.
#pragma once

#include "codec/block_decoder.h"
#include "codec/context_table.h"
#include "codec/page_buffer.h"

namespace vorx {

struct DecoderState {
    ContextTable* contexts = nullptr;  // made at the first compressed block
    PageBuffer work;                   // grows to the largest block body decoded
    BlockScratch scratch;

    DecoderState() = default;
    ~DecoderState() { ReleaseContextTable(contexts); }
    DecoderState(const DecoderState&) = delete;
    DecoderState& operator=(const DecoderState&) = delete;
};

// Makes an empty state, or null when memory cannot be had.
DecoderState* CreateDecoderState();
// Frees a state made by CreateDecoderState (null allowed).
void ReleaseDecoderState(DecoderState* state);

}  // namespace vorx
