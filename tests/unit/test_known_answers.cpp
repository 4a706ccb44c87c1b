// Published answers of the two primitives the format names, so that they are checked
// even where the conformance sample is absent: Blowfish (big-endian halves as published,
// and the archive's little-endian byte order) and the CRC-32 check value.
#include <gtest/gtest.h>

#include <cstring>

#include "container/blowfish.h"
#include "container/crc32.h"
#include "container/format.h"

namespace vorx {
namespace {

TEST(KnownAnswers, BlowfishAndCrc32) {
    struct Row {
        uint8_t key[8];
        uint64_t plain, cipher;
    };
    const Row rows[] = {
        {{0, 0, 0, 0, 0, 0, 0, 0}, 0, 0x4EF997456198DD78},
        {{0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10}, 0x0123456789ABCDEF, 0x0ACEAB0FC6A0A28D},
        {{0x7C, 0xA1, 0x10, 0x45, 0x4A, 0x1A, 0x6E, 0x57}, 0x01A1D6D039776742, 0x59C68245EB05282B},
    };
    // The archive stores each half little-endian: the published big-endian halves are
    // laid out so, encrypted, compared, and decrypted again.
    const auto bytesOf = [](uint64_t halves, uint8_t(&block)[8]) {
        WriteLe32(block, static_cast<uint32_t>(halves >> 32));
        WriteLe32(block + 4, static_cast<uint32_t>(halves));
    };
    for (const Row& row : rows) {
        BlowfishContext ctx;
        BlowfishSetKey(&ctx, row.key, sizeof row.key);
        uint8_t block[8], plain[8], cipher[8];
        bytesOf(row.plain, plain);
        bytesOf(row.cipher, cipher);
        std::memcpy(block, plain, sizeof block);
        BlowfishEncryptBlocks(&ctx, block, sizeof block);
        EXPECT_EQ(std::memcmp(block, cipher, sizeof block), 0) << std::hex << row.cipher;
        BlowfishDecryptBlocks(&ctx, block, sizeof block);
        EXPECT_EQ(std::memcmp(block, plain, sizeof block), 0) << std::hex << row.plain;
    }
    EXPECT_EQ(Crc32::Of("123456789", 9), 0xCBF43926u);
}

}  // namespace
}  // namespace vorx
