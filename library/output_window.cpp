#include "library/output_window.h"

#include <cassert>
#include <cstddef>
#include <type_traits>

#include "platform/platform.h"

namespace vorx {

static_assert(std::is_standard_layout_v<OutputWindow::Target>);
static_assert(offsetof(OutputWindow::Target, target) == 0);

bool OutputWindow::Create(uint32_t initialUnits, uint32_t unitSize, uint32_t maximumUnits) {
    Release();
    const uint64_t unit = (static_cast<uint64_t>(unitSize) + platform::kPageSize - 1) &
                          ~static_cast<uint64_t>(platform::kPageSize - 1);
    const uint64_t reserved = unit * maximumUnits;
    const uint64_t initial = unit * initialUnits;
    if (unit == 0 || unit > UINT32_MAX || initialUnits > maximumUnits || reserved > SIZE_MAX)
        return false;
    auto* range = static_cast<uint8_t*>(platform::ReserveRange(static_cast<size_t>(reserved)));
    if (!range) return false;
    if (initial > 0 && !platform::CommitRange(range, static_cast<size_t>(initial))) {
        platform::ReleaseRange(range, static_cast<size_t>(reserved));
        return false;
    }
    base_ = range;
    commitEnd_ = range + initial;
    committedUnits_ = initialUnits;
    maximumUnits_ = maximumUnits;
    unitSize_ = static_cast<uint32_t>(unit);
    assert(unitSize_ % platform::kPageSize == 0 && committedUnits_ <= maximumUnits_);
    return true;
}

bool OutputWindow::Grow(uint32_t units) {
    if (!base_ || committedUnits_ >= maximumUnits_ || units > maximumUnits_ - committedUnits_)
        return false;
    // The usable prefix ends where the committed units end.
    assert(commitEnd_ == base_ + committedBytes());
    const size_t bytes = static_cast<size_t>(units) * unitSize_;
    if (!platform::CommitRange(commitEnd_, bytes)) return false;
    committedUnits_ += units;
    commitEnd_ += bytes;
    assert(committedUnits_ <= maximumUnits_);
    return true;
}

void OutputWindow::Release() {
    if (!base_) return;
    platform::DecommitRange(base_, static_cast<size_t>(committedBytes()));
    platform::ReleaseRange(base_, static_cast<size_t>(maximumUnits_) * unitSize_);
    base_ = nullptr;
    commitEnd_ = nullptr;
    committedUnits_ = 0;
    maximumUnits_ = 0;
}

OutputWindow::Target OutputWindow::MakeTarget() {
    assert(base_ != nullptr);  // only a created window can take output
    return Target{OutputTarget{base_, committedBytes(), &OutputWindow::Reserve}, this};
}

vorx_Error OutputWindow::Reserve(OutputTarget* target, uint64_t needed) {
    OutputWindow* window = reinterpret_cast<Target*>(target)->window;
    // Blocks are decoded at the window's base, and the capacity a decoder holds is
    // never more than the window has committed.
    assert(target->base == window->base_ && target->capacity <= window->committedBytes());
    if (needed > kLargestBlockOutput) return vorx_Unknown;
    while (window->committedBytes() < needed) {
        if (!window->Grow(kGrowthUnits)) return vorx_Unknown;
    }
    target->capacity = window->committedBytes();
    assert(target->capacity >= needed);
    return vorx_Success;
}

}  // namespace vorx
