#include "codec/context_table.h"

#include <cstring>
#include <new>

#include "platform/platform.h"

namespace vorx {
namespace {

// One page allocation holds the table object, the generations and the buckets.
constexpr size_t kHeaderBytes = 64;
constexpr size_t kGenerationBytes = ContextTable::kBucketCount * sizeof(uint16_t);
constexpr size_t kBucketBytes = ContextTable::kBucketCount * sizeof(ContextBucket);
constexpr size_t kTableBytes = kHeaderBytes + kGenerationBytes + kBucketBytes;
static_assert(sizeof(ContextTable) <= kHeaderBytes);
static_assert(sizeof(ContextBucket) == 32);

}  // namespace

void ContextTable::Clear() {
    if (++current == 0) {
        std::memset(generation, 0, kGenerationBytes);
        current = 1;
    }
}

ContextTable* CreateContextTable() {
    auto* memory = static_cast<uint8_t*>(platform::PageAlloc(kTableBytes));
    if (!memory) return nullptr;
    // Fresh pages read as zeros: every bucket is of generation 0, older than any block.
    auto* table = new (memory) ContextTable;
    table->generation = reinterpret_cast<uint16_t*>(memory + kHeaderBytes);
    table->buckets = reinterpret_cast<ContextBucket*>(memory + kHeaderBytes + kGenerationBytes);
    table->current = 0;
    return table;
}

void ReleaseContextTable(ContextTable* table) {
    if (table) platform::PageFree(table, kTableBytes);
}

}  // namespace vorx
