// The container writer: the bytes it lays down, read back independently of the reader
// (the round trip covers what the reader makes of them), and its refusals.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "writer/archive_writer.h"

namespace vorx {
namespace {

using test::TempDir;

// Header, record, blocks of 64, 64 and 22 bytes (padded to 16, zeros), plain directory
// with its CRC and the names table padded to 16; data arriving in pieces of 7 bytes.
TEST(Writer, LayoutOfAStoredEntry) {
    TempDir dir;
    const Bytes data = test::RandomBytes(150, 8);
    ArchiveWriter writer;
    EntryOptions entry;
    entry.name = "data.bin";
    entry.encoder = StoredBlockEncoder(64);
    ASSERT_TRUE(writer.Create(dir.File("one.vorx")) && writer.BeginArchive() && writer.BeginEntry(entry));
    for (size_t at = 0; at < data.size(); at += 7) ASSERT_TRUE(writer.Write(&data[at], std::min<size_t>(7, 150 - at)));
    ASSERT_TRUE(writer.EndEntry() && writer.Finish()) << writer.Error();
    const Bytes f = test::ReadFile(dir.File("one.vorx"));
    const uint8_t* r = f.data() + 24;
    EXPECT_EQ(Bytes(f.begin(), f.begin() + 32),
              (Bytes{'V', 'O', 'R', 'X', 2, 0, 0, 0x8F, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0x20, 0, 0, 0, 0, 0}));
    EXPECT_EQ(ReadLe64(r + 8), 3 * 4 + 64 + 64 + 32u);
    EXPECT_EQ(ReadLe64(r + 16), 150u);
    EXPECT_EQ(ReadLe32(r + 32), Crc32::Of(data.data(), data.size()));
    EXPECT_EQ(ReadLe32(r + 36), 0u);
    Bytes joined, padding;
    size_t at = 64;
    for (uint32_t size : {64u, 64u, 22u}) {
        EXPECT_EQ(ReadLe32(&f[at]), size << 3) << at;  // type 0: stored
        joined.insert(joined.end(), &f[at + 4], &f[at + 4 + size]);
        padding.insert(padding.end(), &f[at + 4 + size], &f[at + 4 + PadTo16(size)]);
        at += 4 + PadTo16(size);
    }
    EXPECT_EQ(joined, data);
    EXPECT_EQ(padding, Bytes(10, 0));
    ASSERT_EQ(f.size(), at + 12 + 16);
    EXPECT_EQ(ReadLe16(&f[at]), 0u);
    EXPECT_EQ(ReadLe32(&f[at + 4]), Crc32::Of(&f[at + 12], 16));
    EXPECT_EQ(ReadLe32(&f[at + 8]), 9u);
    EXPECT_EQ(std::memcmp(&f[at + 12], "data.bin\0\0\0\0\0\0\0\0", 16), 0);
}

bool Fails(void*, const uint8_t*, size_t, EncodedBlock*) { return false; }
bool Inconsistent(void*, const uint8_t*, size_t length, EncodedBlock* block) {
    block->type = BlockType::Compressed;
    block->sizeField = static_cast<uint32_t>(length * 3);
    block->body.assign((length * 3 + 7) / 8 + 1, 0xAB);  // a byte more than the bits need
    return true;
}

// What no reader could read is refused, and a writer that failed stays failed.
TEST(Writer, RefusesWhatReadersCannotRead) {
    TempDir dir;
    struct Row {
        std::string name;
        unsigned codePage;
        std::optional<std::string> password, namesPassword;
        BlockEncoder encoder;
        bool ok;
    };
    const BlockEncoder stored = StoredBlockEncoder();
    const Row rows[] = {
        {"", 1252, {}, {}, stored, false},
        {std::string(240, 'n'), 1252, {}, {}, stored, false},
        {std::string(239, 'n'), 1252, {}, {}, stored, true},
        {std::string("a\0b", 3), 1252, {}, {}, stored, false},
        {"NUL.txt", 1252, {}, {}, stored, false},
        {"a/b", 1252, {}, {}, stored, false},
        {"\x83\x5C", 1252, {}, {}, stored, false},  // an empty component in 1252
        {"\x83\x5C", 932, {}, {}, stored, true},    // one character in 932
        {"a", 1252, std::string("p\0w", 3), {}, stored, false},
        {"a", 1252, {}, std::string("\0", 1), stored, false},
        {"a", 1252, {}, {}, BlockEncoder{&Fails, nullptr, 10}, false},
        {"a", 1252, {}, {}, BlockEncoder{&Inconsistent, nullptr, 10}, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name + " in " + std::to_string(row.codePage));
        WriterOptions options;
        options.codePage = row.codePage;
        ArchiveWriter writer(options);
        ASSERT_TRUE(writer.Create(dir.File("w.vorx")) && writer.BeginArchive());
        EntryOptions entry{row.name, kTimeUtcSeconds, 0, 0x20, row.password, row.encoder};
        const Bytes data(100, 1);
        const bool added = writer.AddEntry(entry, data.data(), data.size());
        DirectoryOptions directory{row.namesPassword};
        EXPECT_EQ(added && writer.Finish(directory), row.ok);
        EXPECT_EQ(writer.Error().empty(), row.ok);
        EXPECT_TRUE(row.ok || (!writer.AddEntry(EntryOptions{"b", 1, 0, 0x20, {}, stored}, "x", 1) && !writer.Finish()));
    }
    ArchiveWriter closed, fresh;  // calls out of order
    EXPECT_FALSE(closed.BeginArchive());
    ASSERT_TRUE(fresh.Create(dir.File("order.vorx")));
    EXPECT_FALSE(fresh.Write("x", 1));
}

// A carrier that holds the archive signature (another version's is harmless) would
// hide the archive: refused whole, split between two pieces, and from a file.
TEST(Writer, CarrierMustNotHoldASignature) {
    TempDir dir;
    Bytes ok = test::RandomBytes(1000, 31), bad = ok;
    std::memcpy(&ok[100], "VORX\x05\0\0\x8F", 8);
    std::memcpy(&bad[500], "VORX\x02\0\0\x8F", 8);
    test::WriteFile(dir.File("ok.exe"), ok);
    test::WriteFile(dir.File("bad.exe"), bad);
    ArchiveWriter whole, split, copy, good;
    ASSERT_TRUE(whole.Create(dir.File("1")) && split.Create(dir.File("2")) && copy.Create(dir.File("3")));
    EXPECT_FALSE(whole.WriteCarrier(bad.data(), bad.size()));
    EXPECT_TRUE(split.WriteCarrier(bad.data(), 503));
    EXPECT_FALSE(split.WriteCarrier(bad.data() + 503, bad.size() - 503));
    EXPECT_FALSE(copy.CopyCarrierFile(dir.File("bad.exe")));
    ASSERT_TRUE(good.Create(dir.File("sfx.exe")) && good.CopyCarrierFile(dir.File("ok.exe")));
    ASSERT_TRUE(good.BeginArchive() && good.AddEntry(EntryOptions{"f", 1, 0, 0x20, {}, StoredBlockEncoder()}, "abc", 3) &&
                good.Finish());
    EXPECT_EQ(good.ArchiveStart(), 1000u);
    const Bytes sfx = test::ReadFile(dir.File("sfx.exe"));
    EXPECT_EQ(Bytes(sfx.begin(), sfx.begin() + 1000), ok);
    EXPECT_EQ(std::memcmp(&sfx[1000], "VORX", 4), 0);
}

}  // namespace
}  // namespace vorx
