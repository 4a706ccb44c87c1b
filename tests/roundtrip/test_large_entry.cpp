// An entry of more than 4 GiB through writer, compressor and reader: zeros but for text
// on both sides of the 4 GiB mark, where 32-bit positions would wrap; equal chunks reuse
// the last one's block, so the archive stays small. The entry behind it is found too.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "container/crc32.h"
#include "platform/platform.h"
#include "tests/support/test_support.h"
#include "writer/compressor.h"

namespace vorx {
namespace {

constexpr uint64_t kMark = 4ull << 30, kTextStart = kMark - 3000, kTextEnd = kMark + 5000;
constexpr uint64_t kEntrySize = kMark + (1u << 20) + 777;  // a last chunk of odd length

const char kWords[] = "files folders setup data program and the of to ";

struct ReusingEncoder {
    Compressor compressor{1};
    Bytes lastInput;
    EncodedBlock lastBlock;
    size_t encoded = 0;
    static bool Encode(void* context, const uint8_t* data, size_t length, EncodedBlock* block) {
        auto* self = static_cast<ReusingEncoder*>(context);
        if (self->lastInput.size() != length ||
            std::memcmp(self->lastInput.data(), data, length) != 0) {
            if (!self->compressor.EncodeBlock(data, length, &self->lastBlock)) return false;
            self->lastInput.assign(data, data + length);
            ++self->encoded;
        }
        *block = self->lastBlock;
        return true;
    }
};

TEST(LargeEntry, MoreThanFourGiBRoundTripsThroughWriterAndReader) {
    test::TempDir dir;
    uint64_t freeBytes = 0;
    if (platform::FreeBytesForFolder(dir.Path().c_str(), &freeBytes) &&
        freeBytes < kEntrySize + (512u << 20))
        GTEST_SKIP() << "needs " << (kEntrySize >> 20) << " MiB free in " << dir.Path();
    constexpr size_t kChunk = kWriterBlockSize, kPiece = 3u << 20;  // pieces straddle chunks
    std::unique_ptr<uint8_t[]> chunk(new uint8_t[kChunk]);
    Crc32 written;
    ReusingEncoder encoder;
    ArchiveWriter writer;
    EntryOptions entry{
        "big\\zeros.bin", 1, 0, 0x20, {}, BlockEncoder{&ReusingEncoder::Encode, &encoder, kChunk}};
    const EntryOptions second{"after.txt", 1, 0, 0x20, {}, StoredBlockEncoder()};
    ASSERT_TRUE(writer.Create(dir.File("large.vorx")) && writer.BeginArchive() &&
                writer.BeginEntry(entry));
    for (uint64_t at = 0; at < kEntrySize; at += kPiece) {
        const size_t length = static_cast<size_t>(std::min<uint64_t>(kPiece, kEntrySize - at));
        std::memset(chunk.get(), 0, length);
        for (uint64_t o = std::max(at, kTextStart); o < std::min(at + length, kTextEnd); ++o)
            chunk[o - at] = static_cast<uint8_t>(kWords[(o * 7 + o / 13) % (sizeof kWords - 1)]);
        written.Update(chunk.get(), length);
        ASSERT_TRUE(writer.Write(chunk.get(), length)) << writer.Error();
    }
    ASSERT_TRUE(writer.EndEntry() && writer.AddEntry(second, "behind the large one", 21) &&
                writer.Finish());
    EXPECT_LE(encoder.encoded, 6u);  // the zero chunk, those with text, the short last one

    test::Handle h;
    ASSERT_EQ(h.Open(dir.File("large.vorx")), vorx_Success);
    vorx_FileInfo info;
    ASSERT_EQ(vorx_EnumerateFiles(h, &info, 0), vorx_Success);
    EXPECT_EQ(info.uncompressedSize, kEntrySize);
    EXPECT_EQ(info.crc32, written.Final());
    EXPECT_LT(info.compressedSize, 64u << 20);
    uint8_t none = 0;  // memory cannot hold it
    EXPECT_EQ(vorx_DecompressToPtr(h, "big\\zeros.bin", &none, nullptr, nullptr), vorx_OutOfMemory);
    const std::string out = dir.File("zeros.bin");
    ASSERT_EQ(vorx_DecompressToFile(h, "big\\zeros.bin", out.c_str(), nullptr, nullptr),
              vorx_Success);

    std::FILE* f = std::fopen(out.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    Crc32 read;  // of every byte written to the file
    uint64_t total = 0;
    for (size_t n; (n = std::fread(chunk.get(), 1, kChunk, f)) != 0; total += n)
        read.Update(chunk.get(), n);
    std::fclose(f);
    EXPECT_EQ(total, kEntrySize);
    EXPECT_EQ(read.Final(), written.Final());
    char after[64] = {};
    ASSERT_EQ(vorx_DecompressToPtr(h, "after.txt", after, nullptr, nullptr), vorx_Success);
    EXPECT_STREQ(after, "behind the large one");
}

}  // namespace
}  // namespace vorx
