// The output window of a file extraction: reserved address space of which a growing
// prefix is usable memory. Each compressed block is decoded at its base; the decoder
// asks for room before it writes, and the window grows under it in fixed steps up to
// the largest output of one block.
#pragma once

#include <cstdint>

#include "codec/block_decoder.h"
#include "container/format.h"
#include "library/vorx.h"

namespace vorx {

class OutputWindow {
public:
    static constexpr uint32_t kUnitSize = 4096;
    static constexpr uint32_t kInitialUnits = 512;                    // 2 MiB usable at the start
    static constexpr uint32_t kMaximumUnits = 32768;                  // 128 MiB reserved
    static constexpr uint32_t kGrowthUnits = 128;                     // grows 512 KiB at a time
    static constexpr uint64_t kLargestBlockOutput = kMaxBlockOutput;  // 64 MiB

    OutputWindow() = default;
    ~OutputWindow() { Release(); }
    OutputWindow(const OutputWindow&) = delete;
    OutputWindow& operator=(const OutputWindow&) = delete;

    // Reserves maximumUnits x unitSize bytes (unitSize rounded up to whole pages) and
    // makes the first initialUnits of them usable. False when either fails; nothing is
    // held then.
    bool Create(uint32_t initialUnits, uint32_t unitSize, uint32_t maximumUnits);
    // Makes the next `units` units usable. False when the window is full or the
    // platform refuses.
    bool Grow(uint32_t units);
    // Returns the memory; the window is empty afterwards.
    void Release();

    uint8_t* base() const { return base_; }
    uint64_t committedBytes() const { return static_cast<uint64_t>(committedUnits_) * unitSize_; }

    // The window as a decoder's output target: room for up to 64 MiB per block, grown
    // in 512 KiB steps; 1 beyond 64 MiB or when the memory cannot be had.
    struct Target {
        OutputTarget target;  // first member: the decoder's pointer is a pointer to this
        OutputWindow* window;
    };
    Target MakeTarget();

private:
    static vorx_Error Reserve(OutputTarget* target, uint64_t needed);

    uint8_t* commitEnd_ = nullptr;
    uint8_t* base_ = nullptr;
    uint32_t committedUnits_ = 0;
    uint32_t maximumUnits_ = 0;
    uint32_t unitSize_ = 0;
};

}  // namespace vorx
