// A planned block's bits: head, tables and step codes, in the order the decoder reads.
#pragma once

#include <cstdint>
#include <vector>

#include "writer/block_plan.h"

namespace vorx {

// Writes the block body: head, tables, step codes. `out` receives ceil(bits / 8) bytes;
// returns the bit count (plan.totalBits). Fills the unused flags of the last flag
// symbol and the unused selector of the last slot symbol with what costs least.
uint64_t WriteBlock(const uint8_t* data, const std::vector<Step>& steps, BlockPlan& plan,
                    std::vector<uint8_t>* out);

}  // namespace vorx
