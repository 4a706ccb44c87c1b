// Blowfish block cipher: key schedule, block encryption and decryption, and the
// electronic-codebook loops over buffers in the archive's byte order.
#include "container/blowfish.h"

#include <cstring>

#include "container/blowfish_tables.h"
#include "container/format.h"

namespace vorx {
namespace {

constexpr int kRounds = 16;

inline uint32_t F(const BlowfishContext* c, uint32_t x) {
    return ((c->s[0][x >> 24] + c->s[1][(x >> 16) & 0xFF]) ^ c->s[2][(x >> 8) & 0xFF]) +
           c->s[3][x & 0xFF];
}

// One cipher block: the rounds take the P-array forward to encrypt, backward to decrypt.
template <bool kEncrypt>
inline void Cipher(const BlowfishContext* c, uint32_t& l, uint32_t& r) {
    const auto key = [c](int i) { return c->p[kEncrypt ? i : kRounds + 1 - i]; };
    for (int i = 0; i < kRounds; i += 2) {
        l ^= key(i);
        r ^= F(c, l);
        r ^= key(i + 1);
        l ^= F(c, r);
    }
    l ^= key(kRounds);
    r ^= key(kRounds + 1);
    const uint32_t t = l;
    l = r;
    r = t;
}

// Every whole 8-byte block of `data`, each half a little-endian word.
template <bool kEncrypt>
void CipherBlocks(const BlowfishContext* context, uint8_t* data, size_t length) {
    for (size_t i = 0; i + 8 <= length; i += 8) {
        uint32_t l = ReadLe32(data + i), r = ReadLe32(data + i + 4);
        Cipher<kEncrypt>(context, l, r);
        WriteLe32(data + i, l);
        WriteLe32(data + i + 4, r);
    }
}

}  // namespace

void BlowfishSetKey(BlowfishContext* context, const uint8_t* key, size_t keyLength) {
    static_assert(sizeof(BlowfishContext) == sizeof(kBlowfishInitialValues));
    std::memcpy(context->p, kBlowfishInitialValues, sizeof(context->p));
    std::memcpy(context->s, kBlowfishInitialValues + 18, sizeof(context->s));

    size_t k = 0;
    for (int i = 0; i < 18; ++i) {
        uint32_t word = 0;
        for (int j = 0; j < 4; ++j) {
            const uint8_t byte = keyLength ? key[k] : 0;
            word = (word << 8) | byte;
            if (keyLength && ++k == keyLength) k = 0;
        }
        context->p[i] ^= word;
    }

    // Then the P-array and the S-boxes, two words at a time, from the chained encryption
    // of a zero block.
    const auto word = [context](int i) -> uint32_t& {
        return i < 18 ? context->p[i] : context->s[(i - 18) / 256][(i - 18) % 256];
    };
    uint32_t l = 0, r = 0;
    for (int i = 0; i < 18 + 4 * 256; i += 2) {
        Cipher<true>(context, l, r);
        word(i) = l;
        word(i + 1) = r;
    }
}

void BlowfishDecryptBlocks(const BlowfishContext* context, uint8_t* data, size_t length) {
    CipherBlocks<false>(context, data, length);
}

void BlowfishEncryptBlocks(const BlowfishContext* context, uint8_t* data, size_t length) {
    CipherBlocks<true>(context, data, length);
}

void BlowfishSetPassword(BlowfishContext* context, const char* password) {
    size_t length = 0;
    while (length < kMaxPasswordBytesKept && password[length] != '\0') ++length;
    BlowfishSetKey(context, reinterpret_cast<const uint8_t*>(password), length);
}

}  // namespace vorx
