#include "codec/context_table.h"

#include <new>

#include "codec/decoder_state.h"

#include <new>

#include "platform/platform.h"

namespace vorx {
namespace {

// One page allocation holds the table object and its buckets.
constexpr size_t kHeaderBytes = 64;
constexpr size_t kBucketBytes = (ContextTable::kBucketCount + 1) * sizeof(ContextBucket);
constexpr size_t kTableBytes = kHeaderBytes + kBucketBytes;
static_assert(sizeof(ContextTable) <= kHeaderBytes);

}  // namespace

void ContextTable::Clear() {
    if (++current == 0) {
        for (uint32_t i = 0; i <= kBucketCount; ++i) buckets[i].generation = 0;
        current = 1;
    }
}

ContextTable* CreateContextTable() {
    auto* memory = static_cast<uint8_t*>(platform::PageAlloc(kTableBytes));
    if (!memory) return nullptr;
    // Fresh pages read as zeros: every bucket is of generation 0, which no block uses.
    auto* table = new (memory) ContextTable;
    table->buckets = reinterpret_cast<ContextBucket*>(memory + kHeaderBytes);
    table->current = 0;
    return table;
}

void ReleaseContextTable(ContextTable* table) {
    if (table) platform::PageFree(table, kTableBytes);
}

DecoderState* CreateDecoderState() { return new (std::nothrow) DecoderState; }

void ReleaseDecoderState(DecoderState* state) { delete state; }

}  // namespace vorx
