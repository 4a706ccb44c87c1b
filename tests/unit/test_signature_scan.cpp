// The signature scan: where an archive is found in a file, against a literal model of
// the scan (read 8 bytes, skip to the next first magic byte) on random carriers, and
// planted signatures at the chunk seams and in the last 8 bytes of the file.
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

void Plant(Bytes& f, size_t at, const uint8_t (&what)[8]) { std::memcpy(f.data() + at, what, 8); }

// Planted signatures: the first of two wins whatever its format, the magic with another
// version is passed over, runs of 'V' do not hide one, nothing is found in the last 8
// bytes of a file, and the seams between read chunks hide nothing.
TEST(SignatureScan, PlantedSignatures) {
    test::TempDir dir;
    constexpr size_t kChunk = kSignatureScanChunk;
    const struct {
        size_t length;
        uint8_t fill;
        size_t first, second;  // where kSig1 and kSig2 are planted; 0 for none but at 0
        bool sig1AtFirst;
        int64_t expected;
    } rows[] = {
        {100, 0, 0, 0, false, 0},           {300, 0, 100, 200, true, 100},
        {200, 'V', 37, 37, false, 37},      {8, 0, 0, 0, false, -1},
        {9, 0, 0, 0, false, 0},             {50, 0, 42, 42, false, -1},
        {51, 0, 42, 42, false, 42},         {0, 0, 0, 0, false, -1},
        {3 * kChunk, 'V', kChunk - 8, kChunk - 8, false, kChunk - 8},
        {3 * kChunk, 'V', kChunk - 1, kChunk - 1, false, kChunk - 1},
        {3 * kChunk, 'V', kChunk, kChunk, false, kChunk},
        {3 * kChunk, 'V', 2 * kChunk - 4, 2 * kChunk - 4, false, 2 * kChunk - 4},
    };
    for (const auto& row : rows) {
        Bytes f(row.length, row.fill);
        if (row.length >= 8) {
            Plant(f, row.second, kSig2);
            if (row.sig1AtFirst) Plant(f, row.first, kSig1);
        }
        EXPECT_EQ(Scan(dir, f), row.expected) << row.length << " " << row.first;
    }
    Bytes f(200, 'x');
    Plant(f, 10, kSig2);
    f[14] = 0x03;
    EXPECT_EQ(Scan(dir, f), -1);
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
