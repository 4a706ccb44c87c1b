// The Blowfish initial values: 18 P-array words followed by the four 256-word S-boxes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vorx {

constexpr size_t kBlowfishInitialWords = 18 + 4 * 256;
extern const uint32_t kBlowfishInitialValues[kBlowfishInitialWords];

}  // namespace vorx
