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

inline void Encrypt(const BlowfishContext* c, uint32_t& l, uint32_t& r) {
    for (int i = 0; i < kRounds; i += 2) {
        l ^= c->p[i];
        r ^= F(c, l);
        r ^= c->p[i + 1];
        l ^= F(c, r);
    }
    l ^= c->p[16];
    r ^= c->p[17];
    const uint32_t t = l;
    l = r;
    r = t;
}

inline void Decrypt(const BlowfishContext* c, uint32_t& l, uint32_t& r) {
    for (int i = kRounds + 1; i > 1; i -= 2) {
        l ^= c->p[i];
        r ^= F(c, l);
        r ^= c->p[i - 1];
        l ^= F(c, r);
    }
    l ^= c->p[1];
    r ^= c->p[0];
    const uint32_t t = l;
    l = r;
    r = t;
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

    uint32_t l = 0, r = 0;
    for (int i = 0; i < 18; i += 2) {
        Encrypt(context, l, r);
        context->p[i] = l;
        context->p[i + 1] = r;
    }
    for (int box = 0; box < 4; ++box) {
        for (int j = 0; j < 256; j += 2) {
            Encrypt(context, l, r);
            context->s[box][j] = l;
            context->s[box][j + 1] = r;
        }
    }
}

void BlowfishEncrypt(const BlowfishContext* context, uint32_t* left, uint32_t* right) {
    Encrypt(context, *left, *right);
}

void BlowfishDecrypt(const BlowfishContext* context, uint32_t* left, uint32_t* right) {
    Decrypt(context, *left, *right);
}

void BlowfishDecryptBlocks(const BlowfishContext* context, uint8_t* data, size_t length) {
    for (size_t i = 0; i + 8 <= length; i += 8) {
        uint32_t l = ReadLe32(data + i), r = ReadLe32(data + i + 4);
        Decrypt(context, l, r);
        WriteLe32(data + i, l);
        WriteLe32(data + i + 4, r);
    }
}

void BlowfishEncryptBlocks(const BlowfishContext* context, uint8_t* data, size_t length) {
    for (size_t i = 0; i + 8 <= length; i += 8) {
        uint32_t l = ReadLe32(data + i), r = ReadLe32(data + i + 4);
        Encrypt(context, l, r);
        WriteLe32(data + i, l);
        WriteLe32(data + i + 4, r);
    }
}

void BlowfishSetPassword(BlowfishContext* context, const char* password) {
    size_t length = 0;
    while (length < kMaxPasswordLength && password[length] != '\0') ++length;
    BlowfishSetKey(context, reinterpret_cast<const uint8_t*>(password), length);
}

}  // namespace vorx
