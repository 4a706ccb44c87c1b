// The container writer: the bytes it lays down (header, records, block framing and
// padding, encryption, names table), its chunking of streamed data, the encoder
// plug-in, entries above 4 GiB, and its refusals.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "container/blowfish.h"
#include "library/stream.h"
#include "tests/support/test_support.h"
#include "writer/archive_writer.h"

namespace vorx {
namespace {

using test::TempDir;

struct ParsedBlock {
    uint32_t type;
    uint32_t sizeField;
    Bytes body;  // the whole padded body as stored
};

// Splits an entry's data area into blocks, independently of the reader.
std::vector<ParsedBlock> ParseBlocks(const Bytes& file, size_t dataStart, uint64_t compressedSize) {
    std::vector<ParsedBlock> blocks;
    size_t at = dataStart;
    const size_t end = dataStart + compressedSize;
    while (at < end) {
        EXPECT_LE(at + 4, end);
        const uint32_t header = ReadLe32(file.data() + at);
        ParsedBlock b{header & 7, header >> 3, {}};
        const size_t bodyLength = b.type == 0 ? PadTo16(b.sizeField) : PadTo16((b.sizeField + 7) / 8);
        EXPECT_LE(at + 4 + bodyLength, end);
        b.body.assign(file.begin() + static_cast<std::ptrdiff_t>(at + 4),
                      file.begin() + static_cast<std::ptrdiff_t>(at + 4 + bodyLength));
        blocks.push_back(b);
        at += 4 + bodyLength;
    }
    EXPECT_EQ(at, end);
    return blocks;
}

// Writes one entry with the given chunk size in pieces of `piece` bytes.
Bytes WriteOneEntry(const TempDir& dir, const Bytes& data, size_t chunkSize, size_t piece,
                    const std::optional<std::string>& password = std::nullopt) {
    const std::string path = dir.File("one.vorx");
    ArchiveWriter writer;
    EntryOptions entry;
    entry.name = "data.bin";
    entry.encoder = StoredBlockEncoder(chunkSize);
    entry.password = password;
    EXPECT_TRUE(writer.Create(path) && writer.BeginArchive() && writer.BeginEntry(entry));
    for (size_t at = 0; at < data.size(); at += piece)
        EXPECT_TRUE(writer.Write(data.data() + at, std::min(piece, data.size() - at)));
    EXPECT_TRUE(writer.EndEntry() && writer.Finish()) << writer.Error();
    return test::ReadFile(path);
}

TEST(Writer, LayoutOfAStoredEntry) {
    TempDir dir;
    const Bytes data = test::RandomBytes(150, 8);
    const Bytes file = WriteOneEntry(dir, data, 64, 150);
    // Header: signature, version, count, reserved zeros.
    EXPECT_EQ(std::memcmp(file.data(), "VORX", 4), 0);
    EXPECT_EQ(ReadLe32(file.data() + 4), kVersionFormat2);
    EXPECT_EQ(ReadLe64(file.data() + 8), 1u);
    EXPECT_EQ(ReadLe64(file.data() + 16), 0u);
    // Record at 24.
    const uint8_t* r = file.data() + 24;
    EXPECT_EQ(r[0], 1);
    EXPECT_EQ(r[1], 0);
    EXPECT_EQ(ReadLe16(r + 2), 0x20);
    EXPECT_EQ(ReadLe32(r + 4), 0u);
    const uint64_t compressedSize = ReadLe64(r + 8);
    EXPECT_EQ(compressedSize, 3 * 4 + 64 + 64 + 32u);  // blocks of 64, 64 and 22 (padded to 32)
    EXPECT_EQ(ReadLe64(r + 16), 150u);
    EXPECT_EQ(ReadLe32(r + 32), Crc32::Of(data.data(), data.size()));
    EXPECT_EQ(ReadLe32(r + 36), 0u);

    const std::vector<ParsedBlock> blocks = ParseBlocks(file, 64, compressedSize);
    ASSERT_EQ(blocks.size(), 3u);
    Bytes joined;
    for (const ParsedBlock& b : blocks) {
        EXPECT_EQ(b.type, 0u);
        joined.insert(joined.end(), b.body.begin(), b.body.begin() + b.sizeField);
        for (size_t i = b.sizeField; i < b.body.size(); ++i) EXPECT_EQ(b.body[i], 0) << "padding";
    }
    EXPECT_EQ(joined, data);

    // Directory: plain, CRC and length of the table "data.bin\0" padded to 16.
    const size_t directory = 64 + compressedSize;
    EXPECT_EQ(file.size(), directory + 12 + 16);
    EXPECT_EQ(file[directory], 0);
    EXPECT_EQ(file[directory + 1], 0);
    EXPECT_EQ(ReadLe32(file.data() + directory + 8), 9u);
    EXPECT_EQ(ReadLe32(file.data() + directory + 4), Crc32::Of(file.data() + directory + 12, 16));
    EXPECT_EQ(std::memcmp(file.data() + directory + 12, "data.bin\0\0\0\0\0\0\0\0", 16), 0);
}

TEST(Writer, ChunkingDoesNotDependOnHowDataArrives) {
    TempDir dir;
    for (size_t size : {0, 1, 15, 16, 17, 63, 64, 65, 200, 1000}) {
        const Bytes data = test::RandomBytes(size, static_cast<uint32_t>(size));
        const Bytes reference = WriteOneEntry(dir, data, 64, size ? size : 1);
        for (size_t piece : {1, 7, 64, 100}) ASSERT_EQ(WriteOneEntry(dir, data, 64, piece), reference) << size << "/" << piece;
        const uint64_t compressedSize = ReadLe64(reference.data() + 32);
        const std::vector<ParsedBlock> blocks = ParseBlocks(reference, 64, compressedSize);
        EXPECT_EQ(blocks.size(), (size + 63) / 64) << size;
        for (size_t i = 0; i < blocks.size(); ++i)
            EXPECT_EQ(blocks[i].sizeField, i + 1 < blocks.size() ? 64 : size - 64 * i);
    }
}

TEST(Writer, EncryptedEntryBodies) {
    TempDir dir;
    const Bytes data = test::RandomBytes(100, 21);
    const Bytes file = WriteOneEntry(dir, data, 48, 100, std::string("entry key"));
    EXPECT_EQ(ReadLe16(file.data() + 24 + 2), 0x20 | 0x100);
    const std::vector<ParsedBlock> blocks = ParseBlocks(file, 64, ReadLe64(file.data() + 32));
    ASSERT_EQ(blocks.size(), 3u);
    BlowfishContext key;
    BlowfishSetPassword(&key, "entry key");
    Bytes joined;
    for (ParsedBlock b : blocks) {
        EXPECT_EQ(b.type, 0u);  // headers stay plain
        const Bytes stored = b.body;
        BlowfishDecryptBlocks(&key, b.body.data(), b.body.size());
        EXPECT_NE(stored, b.body);
        for (size_t i = b.sizeField; i < b.body.size(); ++i) EXPECT_EQ(b.body[i], 0);
        joined.insert(joined.end(), b.body.begin(), b.body.begin() + b.sizeField);
    }
    EXPECT_EQ(joined, data);
    // The CRC is of the plain bytes.
    EXPECT_EQ(ReadLe32(file.data() + 24 + 32), Crc32::Of(data.data(), data.size()));
}

// A stand-in for a compressor: each chunk becomes a "compressed" block of
// (length * 3) bits, and the chunk lengths are recorded.
struct RecordingEncoder {
    std::vector<size_t> chunks;
    bool failOnThird = false;
    bool inconsistent = false;
    static bool Encode(void* context, const uint8_t*, size_t length, EncodedBlock* block) {
        auto* self = static_cast<RecordingEncoder*>(context);
        self->chunks.push_back(length);
        if (self->failOnThird && self->chunks.size() == 3) return false;
        block->type = BlockType::Compressed;
        block->sizeField = static_cast<uint32_t>(length * 3);
        block->body.assign((length * 3 + 7) / 8 + (self->inconsistent ? 1 : 0), 0xAB);
        return true;
    }
};

TEST(Writer, EncoderPlugIn) {
    TempDir dir;
    const std::string path = dir.File("plugin.vorx");
    RecordingEncoder recorder;
    EntryOptions entry;
    entry.name = "packed";
    entry.encoder = BlockEncoder{&RecordingEncoder::Encode, &recorder, 100};
    const Bytes data = test::RandomBytes(350, 5);
    ArchiveWriter writer;
    ASSERT_TRUE(writer.Create(path) && writer.BeginArchive() && writer.BeginEntry(entry));
    ASSERT_TRUE(writer.Write(data.data(), 30) && writer.Write(data.data() + 30, 320));
    ASSERT_TRUE(writer.EndEntry() && writer.Finish()) << writer.Error();
    EXPECT_EQ(recorder.chunks, (std::vector<size_t>{100, 100, 100, 50}));

    const Bytes file = test::ReadFile(path);
    const std::vector<ParsedBlock> blocks = ParseBlocks(file, 64, ReadLe64(file.data() + 32));
    ASSERT_EQ(blocks.size(), 4u);
    EXPECT_EQ(blocks[0].type, 1u);
    EXPECT_EQ(blocks[0].sizeField, 300u);
    EXPECT_EQ(blocks[0].body.size(), 48u);  // ceil(300 / 8) = 38, padded to 48
    EXPECT_EQ(blocks[3].sizeField, 150u);
    EXPECT_EQ(ReadLe64(file.data() + 40), 350u);
    EXPECT_EQ(ReadLe32(file.data() + 56), Crc32::Of(data.data(), data.size()));

    test::Handle h;
    ASSERT_EQ(h.Open(path), vorx_Success);
    vorx_FileInfo info;
    ASSERT_EQ(vorx_EnumerateFiles(h, &info, 0), vorx_Success);
    EXPECT_STREQ(info.name, "packed");
    EXPECT_EQ(info.compressedSize, 4 * 4 + 3 * 48 + 32u);
}

TEST(Writer, EncoderFailures) {
    TempDir dir;
    for (bool inconsistent : {false, true}) {
        RecordingEncoder recorder;
        recorder.failOnThird = !inconsistent;
        recorder.inconsistent = inconsistent;
        EntryOptions entry;
        entry.name = "failing entry";
        entry.encoder = BlockEncoder{&RecordingEncoder::Encode, &recorder, 10};
        ArchiveWriter writer;
        ASSERT_TRUE(writer.Create(dir.File("fail.vorx")) && writer.BeginArchive() && writer.BeginEntry(entry));
        const Bytes data(100, 1);
        EXPECT_FALSE(writer.Write(data.data(), data.size()));
        EXPECT_FALSE(writer.Error().empty());
        // A failed writer stays failed.
        EXPECT_FALSE(writer.EndEntry());
        EXPECT_FALSE(writer.Finish());
    }
}

// An encoder that turns 64 MiB chunks into one tiny block each, so that an entry of
// more than 4 GiB is written without writing gigabytes.
bool EncodeTiny(void*, const uint8_t*, size_t, EncodedBlock* block) {
    block->type = BlockType::Compressed;
    block->sizeField = 9;
    block->body.assign(2, 0);
    return true;
}

TEST(Writer, EntryAboveFourGiB) {
    TempDir dir;
    const std::string path = dir.File("big.vorx");
    const Bytes piece(kMaxChunkSize, 0);
    const uint64_t pieces = (4ull << 30) / kMaxChunkSize;
    EntryOptions entry;
    entry.name = "big";
    entry.encoder = BlockEncoder{&EncodeTiny, nullptr, kMaxChunkSize};
    ArchiveWriter writer;
    ASSERT_TRUE(writer.Create(path) && writer.BeginArchive() && writer.BeginEntry(entry));
    Crc32 crc;
    for (uint64_t i = 0; i < pieces; ++i) {
        ASSERT_TRUE(writer.Write(piece.data(), piece.size()));
        crc.Update(piece.data(), piece.size());
    }
    ASSERT_TRUE(writer.Write(piece.data(), 100));
    crc.Update(piece.data(), 100);
    ASSERT_TRUE(writer.EndEntry() && writer.Finish()) << writer.Error();

    test::Handle h;
    ASSERT_EQ(h.Open(path), vorx_Success);
    vorx_FileInfo info;
    ASSERT_EQ(vorx_EnumerateFiles(h, &info, 0), vorx_Success);
    EXPECT_EQ(info.uncompressedSize, (4ull << 30) + 100);
    EXPECT_EQ(info.compressedSize, (pieces + 1) * (4 + 16));
    EXPECT_EQ(info.crc32, crc.Final());
}

TEST(Writer, RefusesWhatReadersCannotRead) {
    TempDir dir;
    auto entryNamed = [](const std::string& name) {
        EntryOptions e;
        e.name = name;
        return e;
    };
    // The name rule in the writer's code page (1252 unless set).
    for (const std::string& bad : {std::string(), std::string(240, 'n'), std::string("a\0b", 3),
                                   std::string("NUL.txt"), std::string("a/b"), std::string("\x83\x5C")}) {
        ArchiveWriter writer;
        ASSERT_TRUE(writer.Create(dir.File("names.vorx")) && writer.BeginArchive());
        EXPECT_FALSE(writer.BeginEntry(entryNamed(bad))) << bad;
    }
    {
        ArchiveWriter writer;
        ASSERT_TRUE(writer.Create(dir.File("names.vorx")) && writer.BeginArchive());
        EXPECT_TRUE(writer.AddEntry(entryNamed(std::string(239, 'n')), "x", 1));
        EXPECT_TRUE(writer.Finish());
    }
    {
        WriterOptions options;
        options.codePage = 932;  // 0x83 0x5C is one character there
        ArchiveWriter writer(options);
        ASSERT_TRUE(writer.Create(dir.File("names.vorx")) && writer.BeginArchive());
        EXPECT_TRUE(writer.AddEntry(entryNamed("\x83\x5C"), "x", 1)) << writer.Error();
    }
    {
        ArchiveWriter writer;
        ASSERT_TRUE(writer.Create(dir.File("pw.vorx")) && writer.BeginArchive());
        EntryOptions e = entryNamed("a");
        e.password = std::string("p\0w", 3);
        EXPECT_FALSE(writer.BeginEntry(e));
    }
    {
        ArchiveWriter writer;
        ASSERT_TRUE(writer.Create(dir.File("pw.vorx")) && writer.BeginArchive());
        DirectoryOptions d;
        d.password = std::string("\0", 1);
        EXPECT_FALSE(writer.Finish(d));
    }
    // Calls out of order.
    ArchiveWriter writer;
    EXPECT_FALSE(writer.BeginArchive());
    ArchiveWriter second;
    ASSERT_TRUE(second.Create(dir.File("order.vorx")));
    EXPECT_FALSE(second.Write("x", 1));
}

TEST(Writer, CarrierMustNotHoldASignature) {
    TempDir dir;
    const Bytes stub = test::RandomBytes(1000, 31);
    Bytes withMagic = stub;
    std::memcpy(withMagic.data() + 100, "VORX\x05\0\0\x8F", 8);  // another version: harmless
    Bytes withSignature = stub;
    std::memcpy(withSignature.data() + 500, "VORX\x02\0\0\x8F", 8);

    ArchiveWriter ok;
    ASSERT_TRUE(ok.Create(dir.File("ok.vorx")));
    EXPECT_TRUE(ok.WriteCarrier(withMagic.data(), withMagic.size()));
    EXPECT_TRUE(ok.BeginArchive() && ok.Finish());
    EXPECT_EQ(ok.ArchiveStart(), 1000u);

    ArchiveWriter whole;
    ASSERT_TRUE(whole.Create(dir.File("bad.vorx")));
    EXPECT_FALSE(whole.WriteCarrier(withSignature.data(), withSignature.size()));

    // Split between two pieces.
    ArchiveWriter split;
    ASSERT_TRUE(split.Create(dir.File("bad.vorx")));
    EXPECT_TRUE(split.WriteCarrier(withSignature.data(), 503));
    EXPECT_FALSE(split.WriteCarrier(withSignature.data() + 503, withSignature.size() - 503));

    // From a file.
    test::WriteFile(dir.File("stub.exe"), withSignature);
    ArchiveWriter copy;
    ASSERT_TRUE(copy.Create(dir.File("bad.vorx")));
    EXPECT_FALSE(copy.CopyCarrierFile(dir.File("stub.exe")));

    test::WriteFile(dir.File("stub.exe"), withMagic);
    ArchiveWriter copied;
    ASSERT_TRUE(copied.Create(dir.File("sfx.exe")) && copied.CopyCarrierFile(dir.File("stub.exe")));
    EXPECT_TRUE(copied.BeginArchive() && copied.AddEntry(EntryOptions{"f", 1, 0, 0x20, {}, StoredBlockEncoder()}, "abc", 3) &&
                copied.Finish());
    const Bytes sfx = test::ReadFile(dir.File("sfx.exe"));
    EXPECT_EQ(Bytes(sfx.begin(), sfx.begin() + 1000), withMagic);
    test::Handle h;
    ASSERT_EQ(h.Open(dir.File("sfx.exe")), vorx_Success);
    EXPECT_EQ(h.get()->archiveStart, 1000u);
}

TEST(Writer, HandMadeBlocksAndOverrides) {
    TempDir dir;
    const std::string path = dir.File("raw.vorx");
    test::DamagingWriter writer;
    EntryOptions e;
    e.name = "raw";
    ASSERT_TRUE(writer.Create(path) && writer.BeginArchive() && writer.BeginEntry(e));
    ASSERT_TRUE(writer.Write("abc", 3));
    const Bytes bad = EncodeBlock(BlockHeaderValue(BlockType::Stored, 5) | 6, nullptr, 0);
    ASSERT_TRUE(writer.WriteRaw(bad.data(), bad.size()));
    test::RecordOverrides overrides;
    overrides.crc32 = 42;
    overrides.uncompressedSize = 1ull << 40;
    ASSERT_TRUE(writer.EndEntry(overrides) && writer.Finish()) << writer.Error();
    const Bytes file = test::ReadFile(path);
    EXPECT_EQ(ReadLe64(file.data() + 32), 20u + 4u);  // the stored "abc" block, then the raw header
    EXPECT_EQ(ReadLe64(file.data() + 40), 1ull << 40);
    EXPECT_EQ(ReadLe32(file.data() + 56), 42u);
    EXPECT_EQ(ReadLe32(file.data() + 64 + 20), (5u << 3) | 6u);
}

}  // namespace
}  // namespace vorx
