// What the round trip cannot judge: bytes the reader ignores, the writer's refusals, and
// the self-extractor maker on synthetic PE images.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "writer/archive_writer.h"
#include "writer/sfx_maker.h"

namespace vorx::test {
namespace {

// What the reader never looks at: the header's fixed bytes, and zeros behind the last
// block (64, 64 and 22 bytes, each padded to 16) and behind the names; data in 7-byte pieces.
TEST(Writer, LayoutOfAStoredEntry) {
    TempDir dir;
    const Bytes data = RandomBytes(150, 8);
    ArchiveWriter writer;
    ASSERT_TRUE(
        writer.Create(dir.File("one.vorx")) && writer.BeginArchive() &&
        writer.BeginEntry({"data.bin", kTimeUtcSeconds, 0, 0x20, {}, StoredBlockEncoder(64)}));
    for (size_t at = 0; at < data.size(); at += 7)
        ASSERT_TRUE(writer.Write(&data[at], std::min<size_t>(7, 150 - at)));
    ASSERT_TRUE(writer.EndEntry() && writer.Finish()) << writer.Error();
    const Bytes f = ReadFile(dir.File("one.vorx"));
    ASSERT_EQ(f.size(), 64 + 3 * 4 + 64 + 64 + 32 + 12 + 16u);
    EXPECT_EQ(Bytes(f.begin(), f.begin() + 32),
              (Bytes{'V', 'O', 'R', 'X', 2, 0, 0, 0x8F, 1, 0, 0,    0, 0, 0, 0, 0,
                     0,   0,   0,   0,   0, 0, 0, 0,    1, 0, 0x20, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Bytes(&f[226], &f[236]), Bytes(10, 0));
    EXPECT_EQ(std::memcmp(&f[248], "data.bin\0\0\0\0\0\0\0\0", 16), 0);
}

bool Refuses(void*, const uint8_t*, size_t, EncodedBlock*) { return false; }

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
        // The name rule in the archive's code page, on the whole name.
        {"", 1252, {}, {}, stored, false},
        {std::string("a\0b", 3), 1252, {}, {}, stored, false},
        {"\x83\x5C", 1252, {}, {}, stored, false},  // an empty component in 1252
        {"\x83\x5C", 932, {}, {}, stored, true},    // one character in 932
        {"a", 1252, std::string("p\0w", 3), {}, stored, false},
        {"a", 1252, {}, std::string("\0", 1), stored, false},
        {"a", 1252, {}, {}, BlockEncoder{&Refuses, nullptr, 10}, false},
        {"a", 1252, {}, {}, BlockEncoder{&Inconsistent, nullptr, 10}, false},
        // The largest block a reader takes, and one byte more.
        {"a", 1252, {}, {}, StoredBlockEncoder(kMaxChunkSize), true},
        {"a", 1252, {}, {}, StoredBlockEncoder(kMaxChunkSize + 1), false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name + " in " + std::to_string(row.codePage));
        WriterOptions options;
        options.codePage = row.codePage;
        ArchiveWriter writer(options);
        ASSERT_TRUE(writer.Create(dir.File("w.vorx")) && writer.BeginArchive());
        EntryOptions entry{row.name, kTimeUtcSeconds, 0, 0x20, row.password, row.encoder};
        const bool added = writer.AddEntry(entry, Bytes(100, 1).data(), 100);
        EXPECT_EQ(added && writer.Finish(DirectoryOptions{row.namesPassword}), row.ok);
        EXPECT_EQ(writer.Error().empty(), row.ok);
        EXPECT_TRUE(row.ok ||
                    (!writer.AddEntry(EntryOptions{"b", 1, 0, 0x20, {}, stored}, "x", 1) &&
                     !writer.Finish()));
    }
}

// A carrier holding the archive signature (another version's is harmless) would hide
// the archive: refused whole and split between two pieces.
TEST(Writer, CarrierMustNotHoldASignature) {
    TempDir dir;
    Bytes ok = RandomBytes(1000, 31), bad = ok;
    std::memcpy(&ok[100], "VORX\x05\0\0\x8F", 8);
    std::memcpy(&bad[500], "VORX\x02\0\0\x8F", 8);
    ArchiveWriter whole, split, good;
    ASSERT_TRUE(whole.Create(dir.File("1")) && split.Create(dir.File("2")) &&
                good.Create(dir.File("3")));
    EXPECT_FALSE(whole.WriteCarrier(bad.data(), bad.size()));
    EXPECT_TRUE(split.WriteCarrier(bad.data(), 503));
    EXPECT_FALSE(split.WriteCarrier(bad.data() + 503, bad.size() - 503));
    ASSERT_TRUE(good.WriteCarrier(ok.data(), ok.size()) && good.BeginArchive() && good.Finish());
    EXPECT_EQ(good.ArchiveStart(), 1000u);
}

using Image = std::vector<uint8_t>;

struct Section {
    const char* name;
    uint32_t virtualSize, rawSize, rawOffset, characteristics;
};

constexpr uint32_t kData = 0xC0000040u, kCode = 0x60000020u, kReadOnly = 0x40000040u;
const std::vector<Section> kStub = {{".text", 0x300, 0x400, 0x400, kCode},
                                    {".sfxcfg", 0x200, 0x200, 0x800, kData},
                                    {".rdata", 0x100, 0x200, 0xA00, kReadOnly}};

// DOS header, PE signature, file header, a 240-byte optional header and the section table.
Image MakeImage(const std::vector<Section>& sections, size_t size = 4096) {
    Image image(size, 0);
    std::memcpy(&image[0], "MZ", 2);
    WriteLe32(&image[0x3C], 0x80);
    std::memcpy(&image[0x80], "PE\0\0", 4);
    WriteLe16(&image[0x84], 0x8664);
    WriteLe16(&image[0x86], static_cast<uint16_t>(sections.size()));
    WriteLe16(&image[0x94], 240);
    for (size_t i = 0; i < sections.size(); ++i) {
        uint8_t* h = &image[0x80 + 24 + 240 + 40 * i];
        std::strncpy(reinterpret_cast<char*>(h), sections[i].name, 8);
        WriteLe32(h + 8, sections[i].virtualSize);
        WriteLe32(h + 16, sections[i].rawSize);
        WriteLe32(h + 20, sections[i].rawOffset);
        WriteLe32(h + 36, sections[i].characteristics);
    }
    return image;
}

TEST(SfxMaker, RefusesImagesThatAreNotCleanStubs) {
    struct Row {
        const char* what;
        Image image;
        size_t at;  // where `bytes` go, when any; where the block goes, when accepted
        std::vector<uint8_t> bytes;
        const char* message;                 // null: accepted
        SfxConfig config = {"C:\\x\\", ""};  // the tool refuses longer fields and NULs itself
    };
    // A stub whose configuration section has the given size, offset and characteristics.
    const auto config = [](uint32_t size, uint32_t offset, uint32_t characteristics) {
        return MakeImage({{".sfxcfg", size, 0x200, offset, characteristics}});
    };
    const Image stub = MakeImage(kStub), large = MakeImage(kStub, 8192);
    const Bytes sig = {'V', 'O', 'R', 'X', 0x02, 0x00, 0x00, 0x8F};
    const Row rows[] = {
        {"empty", {}, 0, {}, "not a Windows executable"},
        {"PE offset beyond the file", stub, 0x3C, {0xF0, 0xFF, 0xFF, 0xFF}, "cut short"},
        {"section table beyond the file", stub, 0x86, {0xFF, 0xFF}, "cut short"},
        {"no configuration section", MakeImage({kStub[0]}), 0, {}, "no configuration section"},
        {"too small", config(0x100, 0x800, kData), 0, {}, "smaller than 512"},
        {"outside the file", config(0x200, 0xF00, kData), 0, {}, "outside the file"},
        {"offset wraps", config(0x200, 0xFFFFFF00u, kData), 0, {}, "outside the file"},
        {"read-only", config(0x200, 0x800, kReadOnly), 0, {}, "not writable"},
        {"carries an archive", large, 6000, sig, "already carries an archive"},
        {"an archive at its end", large, 8184, sig, "already carries"},
        {"a long command", stub, 0, {}, "run", {"", std::string(256, 'r')}},
        {"a section that ends the file", config(0x200, 4096 - 0x200, kData), 0xE00, {}, nullptr},
    };
    for (const Row& row : rows) {
        Image image = row.image;
        std::copy(row.bytes.begin(), row.bytes.end(), image.begin() + static_cast<long>(row.at));
        const Image before = image;
        std::string error;
        const bool accepted = FillConfigBlock(image, row.config, &error);
        EXPECT_EQ(accepted, !row.message) << row.what << ": " << error;
        if (accepted) {
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(&image[row.at])), "C:\\x\\");
            continue;
        }
        EXPECT_NE(error.find(row.message), std::string::npos) << row.what << ": " << error;
        EXPECT_EQ(image, before) << row.what;
    }
}

}  // namespace
}  // namespace vorx::test
