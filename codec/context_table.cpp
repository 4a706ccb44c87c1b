#include "codec/context_table.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <new>

#include "codec/decoder_state.h"
#include "platform/platform.h"

namespace vorx {

// With 16-byte stores where the processor has them: a string store instruction (what
// memset uses at this size) is counted once per byte by instruction counters, which
// would make this clear look like a third of a small entry's decode.
void ContextTable::Clear() {
#if defined(__SSE2__)
    static_assert(kContextBuckets % 64 == 0 && SlotOrder::kUnwritten == 0);
    const __m128i zero = _mm_setzero_si128();
    for (size_t i = 0; i < kContextBuckets; i += 64) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(order + i), zero);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(order + i + 16), zero);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(order + i + 32), zero);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(order + i + 48), zero);
    }
#else
    std::memset(order, SlotOrder::kUnwritten, kContextBuckets);
#endif
    // The upper half of the orders is never written: it still reads as fresh pages.
    assert(std::all_of(order + kContextBuckets, order + kContextIndices,
                       [](uint8_t o) { return o == SlotOrder::kUnwritten; }));
}

// Fresh pages read as zeros: no bucket written, in either half of the orders.
ContextTable* CreateContextTable() {
    void* memory = platform::PageAlloc(sizeof(ContextTable));
    if (!memory) return nullptr;
    ContextTable* table = new (memory) ContextTable;
    std::memcpy(table->afterLiteral, SlotOrder::kLiteral.data(), sizeof table->afterLiteral);
    for (size_t i = 0; i < SlotOrder::kMatch.size(); ++i)
        std::memcpy(table->afterMatch[i], SlotOrder::kMatch[i].data(), sizeof table->afterMatch[i]);
    return table;
}

void ReleaseContextTable(ContextTable* table) {
    if (table) platform::PageFree(table, sizeof(ContextTable));
}

DecoderState* CreateDecoderState() { return new (std::nothrow) DecoderState; }

void ReleaseDecoderState(DecoderState* state) { delete state; }

}  // namespace vorx
