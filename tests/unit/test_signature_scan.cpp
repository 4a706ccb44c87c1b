// The signature scan: where an archive is found in a file, against a literal model of
// the scan (read 8 bytes, skip to the next first magic byte) on planted and random
// carriers, including chunk seams and the last 8 bytes of the file.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "container/archive_reader.h"
#include "container/format.h"
#include "platform/platform.h"
#include "tests/support/test_support.h"

namespace vorx {
namespace {

const uint8_t kSig2[8] = {'V', 'O', 'R', 'X', 0x02, 0x00, 0x00, 0x8F};
const uint8_t kSig1[8] = {'V', 'O', 'R', 'X', 0x01, 0x00, 0x00, 0x8F};

// The scan step by step: 8 bytes at p; on a miss advance to the first 'V' among bytes
// 1 to 7, or by 8. Returns -1 when there is no archive.
int64_t ModelScan(const Bytes& f) {
    const uint64_t length = f.size();
    if (length <= 8) return -1;
    uint64_t p = 0;
    while (p < length - 8) {
        const uint8_t* b = f.data() + p;
        const uint32_t version = ReadLe32(b + 4);
        if (std::memcmp(b, "VORX", 4) == 0 && (version == 0x8F000001u || version == 0x8F000002u))
            return static_cast<int64_t>(p);
        uint64_t k = 8;
        for (uint64_t i = 1; i < 8; ++i)
            if (b[i] == 'V') {
                k = i;
                break;
            }
        p += k;
    }
    return -1;
}

// Runs the scan on `bytes` as a file: -1 for "no archive", -2 for a read failure.
int64_t Scan(const test::TempDir& dir, const Bytes& bytes) {
    const std::string path = dir.File("scan.bin");
    test::WriteFile(path, bytes);
    const int fd = platform::FileOpen(path.c_str(), platform::kOpenRead);
    EXPECT_GE(fd, 0);
    uint64_t start = 0;
    const vorx_Error e = FindArchiveStart(fd, bytes.size(), &start);
    platform::FileClose(fd);
    if (e == vorx_NotFound) return -1;
    if (e != vorx_Success) return -2;
    return static_cast<int64_t>(start);
}

void Plant(Bytes& f, size_t at, const uint8_t (&what)[8], size_t count = 8) {
    std::memcpy(f.data() + at, what, count);
}

TEST(SignatureScan, PlacesAndFalseSignatures) {
    test::TempDir dir;
    Bytes f(100, 0);
    Plant(f, 0, kSig2);
    EXPECT_EQ(Scan(dir, f), 0);

    // The magic followed by another version is passed over.
    f.assign(200, 'x');
    Plant(f, 10, kSig2);
    f[14] = 0x03;
    Plant(f, 60, kSig2);
    EXPECT_EQ(Scan(dir, f), 60);

    // Overlapping starts: "VVORX" and "VOVORX" must not hide the signature.
    f.assign(200, 'V');
    Plant(f, 37, kSig2);
    EXPECT_EQ(Scan(dir, f), 37);
    f.assign(200, 0);
    const uint8_t vo[8] = {'V', 'O', 'V', 'O', 'R', 'X', 0, 0};
    Plant(f, 20, vo, 2);
    Plant(f, 22, kSig1);
    EXPECT_EQ(Scan(dir, f), 22);

    // The first of two signatures wins, whatever its format.
    f.assign(300, 0);
    Plant(f, 100, kSig1);
    Plant(f, 200, kSig2);
    EXPECT_EQ(Scan(dir, f), 100);
}

TEST(SignatureScan, EndOfFile) {
    test::TempDir dir;
    // A file of 8 bytes or less holds no archive, even if it is the signature itself.
    EXPECT_EQ(Scan(dir, Bytes()), -1);
    EXPECT_EQ(Scan(dir, Bytes(kSig2, kSig2 + 8)), -1);
    // A signature starting at length - 8 is not found; at length - 9 it is.
    Bytes f(50, 0);
    Plant(f, 42, kSig2);
    EXPECT_EQ(Scan(dir, f), -1);
    f.push_back(0);
    EXPECT_EQ(Scan(dir, f), 42);
    Bytes nine(kSig2, kSig2 + 8);
    nine.push_back(0);
    EXPECT_EQ(Scan(dir, nine), 0);
}

TEST(SignatureScan, SeamsBetweenReadChunks) {
    test::TempDir dir;
    constexpr size_t kChunk = kSignatureScanChunk;
    for (size_t at : {kChunk - 8, kChunk - 7, kChunk - 1, kChunk, kChunk + 1, 2 * kChunk - 4}) {
        Bytes f(3 * kChunk, 'V');
        Plant(f, at, kSig2);
        EXPECT_EQ(Scan(dir, f), static_cast<int64_t>(at)) << at;
    }
}

// Random carriers dense in magic fragments, compared with the model.
TEST(SignatureScan, AgreesWithTheModelOnRandomFiles) {
    test::TempDir dir;
    std::mt19937 random(1234);
    const uint8_t alphabet[] = {'V', 'O', 'R', 'X', 0x01, 0x02, 0x00, 0x8F, 'A'};
    for (int round = 0; round < 300; ++round) {
        const size_t length = round < 200 ? random() % 64 : random() % (4 * kSignatureScanChunk);
        Bytes f(length);
        for (uint8_t& b : f) b = alphabet[random() % sizeof alphabet];
        // Sometimes plant a whole signature; sometimes break every one of them.
        if (length > 8 && random() % 2) Plant(f, random() % (length - 7), random() % 2 ? kSig1 : kSig2);
        ASSERT_EQ(Scan(dir, f), ModelScan(f)) << "round " << round << " length " << length;
    }
}

}  // namespace
}  // namespace vorx
