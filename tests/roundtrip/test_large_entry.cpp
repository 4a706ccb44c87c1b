// An entry of more than 4 GiB through the streaming writer, the compressor and the
// reader: sizes, CRC-32 and every byte come back, including those on both sides of the
// 4 GiB mark where 32-bit positions would wrap.
//
// The entry is zeros apart from a stretch of text around the mark, so the archive
// stays small: the compressor encodes the zero chunk once and the encoder reuses that
// block for every identical chunk. The extracted file is written to disk in full.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "container/crc32.h"
#include "platform/platform.h"
#include "tests/support/test_support.h"
#include "writer/compressor.h"

namespace vorx {
namespace {

using test::Handle;
using test::TempDir;

constexpr uint64_t kMark = 4ull << 30;
constexpr uint64_t kTextStart = kMark - 3000;
constexpr uint64_t kTextEnd = kMark + 5000;
constexpr uint64_t kEntrySize = kMark + (1u << 20) + 777;  // a last chunk of odd length

// Byte `offset` of the entry: text around the mark (depending on the offset), zeros
// elsewhere.
uint8_t EntryByte(uint64_t offset) {
    if (offset < kTextStart || offset >= kTextEnd) return 0;
    static const char kWords[] = "files folders setup data program and the of to ";
    return static_cast<uint8_t>(kWords[(offset * 7 + offset / 13) % (sizeof kWords - 1)]);
}

void FillChunk(uint64_t start, size_t length, uint8_t* out) {
    const uint64_t end = start + length;
    if (end <= kTextStart || start >= kTextEnd) {
        std::memset(out, 0, length);
        return;
    }
    for (size_t i = 0; i < length; ++i) out[i] = EntryByte(start + i);
}

// Compresses every chunk with the real compressor, except that a chunk equal to the
// last one encoded gets that block again.
struct ReusingEncoder {
    Compressor compressor{1};
    Bytes lastInput;
    EncodedBlock lastBlock;
    size_t encoded = 0;

    static bool Encode(void* context, const uint8_t* data, size_t length, EncodedBlock* block) {
        auto* self = static_cast<ReusingEncoder*>(context);
        if (self->lastInput.size() != length || std::memcmp(self->lastInput.data(), data, length) != 0) {
            if (!self->compressor.EncodeBlock(data, length, &self->lastBlock)) return false;
            self->lastInput.assign(data, data + length);
            ++self->encoded;
        }
        *block = self->lastBlock;
        return true;
    }
};

TEST(LargeEntry, MoreThanFourGiBRoundTripsThroughWriterAndReader) {
    TempDir dir;
    // The extracted file takes 4 GiB on disk; a machine without the room skips the test
    // rather than failing in the middle for a reason that says nothing about the code.
    uint64_t freeBytes = 0;
    if (platform::FreeBytesForFolder(dir.Path().c_str(), &freeBytes) && freeBytes < kEntrySize + (512u << 20))
        GTEST_SKIP() << "needs " << (kEntrySize >> 20) << " MiB free in " << dir.Path() << ", has "
                     << (freeBytes >> 20) << " MiB";
    const std::string archivePath = dir.File("large.vorx");
    constexpr size_t kChunk = kCompressorBlockSize;
    std::unique_ptr<uint8_t[]> chunk(new uint8_t[kChunk]);
    Crc32 written;
    ReusingEncoder encoder;
    {
        ArchiveWriter writer;
        EntryOptions entry;
        entry.name = "big\\zeros.bin";
        entry.time = 1700000000;
        entry.encoder = BlockEncoder{&ReusingEncoder::Encode, &encoder, kChunk};
        ASSERT_TRUE(writer.Create(archivePath) && writer.BeginArchive() && writer.BeginEntry(entry))
            << writer.Error();
        // Pieces of a size unrelated to the chunk size, so chunks straddle them.
        constexpr size_t kPiece = 3u << 20;
        for (uint64_t at = 0; at < kEntrySize;) {
            const size_t length = static_cast<size_t>(std::min<uint64_t>(kPiece, kEntrySize - at));
            FillChunk(at, length, chunk.get());
            written.Update(chunk.get(), length);
            ASSERT_TRUE(writer.Write(chunk.get(), length)) << writer.Error();
            at += length;
        }
        const std::string small = "the entry behind the large one";
        EntryOptions second;
        second.name = "after.txt";
        ASSERT_TRUE(writer.EndEntry() && writer.BeginEntry(second) &&
                    writer.Write(reinterpret_cast<const uint8_t*>(small.data()), small.size()) &&
                    writer.EndEntry() &&
                    writer.Finish())
            << writer.Error();
    }
    // The zero chunk, the chunks holding text and the short last chunk: a handful of
    // real encodings, not one per chunk.
    EXPECT_LE(encoder.encoded, 6u);

    Handle h;
    ASSERT_EQ(h.Open(archivePath), vorx_Success);
    ASSERT_EQ(vorx_GetNumFiles(h), 2u);
    vorx_FileInfo info;
    ASSERT_EQ(vorx_EnumerateFiles(h, &info, 0), vorx_Success);
    EXPECT_STREQ(info.name, "big\\zeros.bin");
    EXPECT_EQ(info.uncompressedSize, kEntrySize);
    EXPECT_EQ(info.crc32, written.Final());
    EXPECT_LT(info.compressedSize, 64u << 20);

    // Memory extraction cannot hold it.
    uint8_t none = 0;
    EXPECT_EQ(vorx_DecompressToPtr(h, "big\\zeros.bin", &none, nullptr, nullptr), vorx_OutOfMemory);

    const std::string outPath = dir.File("zeros.bin");
    ASSERT_EQ(vorx_DecompressToFile(h, "big\\zeros.bin", outPath.c_str(), nullptr, nullptr), vorx_Success);

    // Every byte: the CRC-32 of the whole file, and the text around the mark byte by byte.
    std::FILE* f = std::fopen(outPath.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    Crc32 read;
    uint64_t total = 0;
    size_t mismatches = 0;
    for (;;) {
        const size_t n = std::fread(chunk.get(), 1, kChunk, f);
        if (n == 0) break;
        read.Update(chunk.get(), n);
        if (total + n > kTextStart - 16 && total < kTextEnd + 16) {
            for (size_t i = 0; i < n; ++i) mismatches += chunk[i] != EntryByte(total + i);
        }
        total += n;
    }
    std::fclose(f);
    EXPECT_EQ(total, kEntrySize);
    EXPECT_EQ(read.Final(), written.Final());
    EXPECT_EQ(mismatches, 0u);

    // The entry behind it is found and decoded: its record follows one whose sizes
    // need more than 32 bits.
    char after[64] = {};
    ASSERT_EQ(vorx_DecompressToPtr(h, "after.txt", after, nullptr, nullptr), vorx_Success);
    EXPECT_STREQ(after, "the entry behind the large one");
}

}  // namespace
}  // namespace vorx
