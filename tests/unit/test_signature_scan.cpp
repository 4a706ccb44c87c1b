// The signature scan: where an archive is found in a file, with signatures planted at
// the chunk seams, behind runs of the first magic byte and in the last 8 bytes.
#include <gtest/gtest.h>

#include <cstring>

#include "container/archive_reader.h"
#include "container/format.h"
#include "platform/platform.h"
#include "tests/support/test_support.h"

namespace vorx {
namespace {

const uint8_t kSig2[8] = {'V', 'O', 'R', 'X', 0x02, 0x00, 0x00, 0x8F};
const uint8_t kSig1[8] = {'V', 'O', 'R', 'X', 0x01, 0x00, 0x00, 0x8F};

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
        uint8_t fill;          // 'x': the planted signature carries another version
        size_t first, second;  // where kSig1 and kSig2 are planted; 0 for none but at 0
        bool sig1AtFirst;
        int64_t expected;
    } rows[] = {
        {300, 0, 100, 200, true, 100},
        {200, 'V', 37, 37, false, 37},
        {9, 0, 0, 0, false, 0},
        {50, 0, 42, 42, false, -1},
        {51, 0, 42, 42, false, 42},
        {200, 'x', 10, 10, false, -1},
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
            if (row.fill == 'x') f[row.second + 4] = 0x03;
        }
        EXPECT_EQ(Scan(dir, f), row.expected) << row.length << " " << row.first;
    }
}

}  // namespace
}  // namespace vorx
