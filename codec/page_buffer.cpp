#include "codec/page_buffer.h"

#include "platform/platform.h"

namespace vorx {

size_t PageBuffer::RoundToPage(size_t n) {
    const size_t mask = platform::kPageSize - 1;
    if ((n & mask) == 0) return n;
    return (n & ~mask) + platform::kPageSize;
}

PageBuffer::PageBuffer(size_t size) {
    const size_t rounded = RoundToPage(size);
    if (rounded == 0 || rounded < size) return;
    pointer_ = static_cast<uint8_t*>(platform::PageAlloc(rounded));
    if (pointer_) capacity_ = rounded;
}

bool PageBuffer::EnsureCapacity(size_t n) {
    if (pointer_ && capacity_ >= n) return true;
    const size_t rounded = RoundToPage(n);
    Release();
    // A request near the top of the address space rounds past it: refuse it.
    if (rounded < n) return false;
    if (rounded == 0) return true;
    pointer_ = static_cast<uint8_t*>(platform::PageAlloc(rounded));
    if (!pointer_) return false;
    capacity_ = rounded;
    return true;
}

void PageBuffer::Release() {
    if (pointer_) platform::PageFree(pointer_, capacity_);
    pointer_ = nullptr;
    capacity_ = 0;
}

}  // namespace vorx
