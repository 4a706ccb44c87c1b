// In-place decryption of an encrypted block body: Blowfish in electronic-codebook mode,
// each 8-byte group one cipher block whose halves are little-endian 32-bit words.
#pragma once

#include <cstddef>
#include <cstdint>

#include "container/blowfish.h"

namespace vorx {

// Decrypts the whole 8-byte groups of the first `length` bytes of `buffer` in place,
// with a key schedule prepared once by the caller (BlowfishSetPassword), so that the
// blocks of one entry share it. Bytes from `length` on are never touched; a trailing
// partial group (which a block body, a multiple of 16 bytes, never has) is left as it is.
void DecryptBuffer(uint8_t* buffer, size_t length, const BlowfishContext& key);

}  // namespace vorx
