#include "codec/context_table.h"

#include <cstring>
#include <new>

#include "codec/decoder_state.h"
#include "platform/platform.h"

namespace vorx {

void ContextTable::Clear() { std::memset(filled, 0, sizeof filled); }

// Fresh pages read as zeros: no bucket written.
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
