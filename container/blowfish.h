// Blowfish (64-bit blocks, 16 rounds, the published initial P-array and S-boxes),
// keyed directly with the password bytes, used in electronic-codebook mode.
// In the archive each 8-byte cipher block stores its left half in bytes 0-3 and its
// right half in bytes 4-7, each as a little-endian 32-bit word.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vorx {

struct BlowfishContext {
    uint32_t p[18];
    uint32_t s[4][256];
};

// The standard key schedule. Exactly 72 key bytes are consumed, cycling through the
// key; a key of length 0 acts as 72 zero bytes.
void BlowfishSetKey(BlowfishContext* context, const uint8_t* key, size_t keyLength);

// Decrypts / encrypts every whole 8-byte block of `data` in place, in the archive's
// byte order. A tail of fewer than 8 bytes is left as it is.
void BlowfishDecryptBlocks(const BlowfishContext* context, uint8_t* data, size_t length);
void BlowfishEncryptBlocks(const BlowfishContext* context, uint8_t* data, size_t length);

// The most bytes of a password the reader keeps; only the first 72 enter the key, so
// cutting a longer one changes nothing.
constexpr size_t kMaxPasswordBytesKept = 255;

// Keys the context with a password: its bytes up to the terminating NUL, at most
// kMaxPasswordBytesKept of them.
void BlowfishSetPassword(BlowfishContext* context, const char* password);

}  // namespace vorx
