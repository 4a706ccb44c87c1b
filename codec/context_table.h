// The decoder's context table: 65536 buckets of four slots. A slot remembers a
// position of the current block's output that followed the bucket's context, and a
// stamp that decides which slot a new position replaces.
//
// Every compressed block starts with an empty table. Each bucket carries the
// generation of the block that last wrote it, and a bucket of an older generation
// reads as empty, so clearing the table costs one increment rather than a fill of
// its two megabytes (most entries are a few KiB; a full clear would cost more than
// their whole decode).
#pragma once

#include <cstdint>

namespace vorx {

struct ContextBucket {
    uint32_t position[4];  // output offset in the block + 1; 0 marks an empty slot
    uint32_t stamp[4];
};

struct ContextTable {
    static constexpr uint32_t kBucketCount = 65536;

    ContextBucket* buckets;  // kBucketCount buckets
    uint16_t* generation;    // generation that last wrote each bucket
    uint16_t current;        // generation of the block being decoded (never 0)

    // Empties every slot: starts a new generation. When the counter wraps, the
    // generations are reset for real, once every 65535 blocks.
    void Clear();

    // The bucket `index` (below kBucketCount) of the current generation, emptied first
    // when an earlier generation wrote it.
    ContextBucket* Touch(uint32_t index) {
        if (generation[index] != current) {
            generation[index] = current;
            buckets[index] = ContextBucket{};
        }
        return &buckets[index];
    }
};

// Makes a table (all buckets empty) or returns null when memory cannot be had.
ContextTable* CreateContextTable();
// Frees a table made by CreateContextTable (null allowed).
void ReleaseContextTable(ContextTable* table);

}  // namespace vorx
