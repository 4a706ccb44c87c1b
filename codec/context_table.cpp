#include "codec/context_table.h"

#include <cstring>
#include <new>

#include "codec/decoder_state.h"
#include "platform/platform.h"

namespace vorx {

// Only the lower half of the bitmap is ever set: a bucket is marked when it is emptied
// as a two-byte context's, whose index is below kBucketCount.
void ContextTable::Clear() { std::memset(filled, 0, kBucketCount / 8); }

// Fresh pages read as zeros: an empty bitmap.
ContextTable* CreateContextTable() {
    void* memory = platform::PageAlloc(sizeof(ContextTable));
    return memory ? new (memory) ContextTable : nullptr;
}

void ReleaseContextTable(ContextTable* table) {
    if (table) platform::PageFree(table, sizeof(ContextTable));
}

DecoderState* CreateDecoderState() { return new (std::nothrow) DecoderState; }

void ReleaseDecoderState(DecoderState* state) { delete state; }

}  // namespace vorx
