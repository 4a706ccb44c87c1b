// The decoder's working buffer: whole pages from the platform's page allocator, so
// fresh memory reads as zeros. It only ever grows, and growing does not keep the old
// contents. It owns its memory and is never copied.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vorx {

class PageBuffer {
public:
    // A size n becomes the next multiple of 4096 at or above it; 0 stays 0.
    static size_t RoundToPage(size_t n);

    PageBuffer() = default;
    // Allocates `size` bytes rounded to whole pages. On failure data() is null.
    explicit PageBuffer(size_t size);
    ~PageBuffer() { Release(); }
    PageBuffer(const PageBuffer&) = delete;
    PageBuffer& operator=(const PageBuffer&) = delete;

    // Makes at least `n` bytes usable. Nothing happens when the capacity already
    // suffices; otherwise the old memory is released and new memory of n rounded to
    // pages is allocated (its contents are zeros, not the old bytes). Returns false
    // when the memory cannot be had; the buffer is then empty (null, capacity 0).
    bool EnsureCapacity(size_t n);

    // Frees the memory, if any.
    void Release();

    uint8_t* data() const { return pointer_; }
    size_t capacity() const { return capacity_; }

private:
    uint8_t* pointer_ = nullptr;
    size_t capacity_ = 0;
};

}  // namespace vorx
