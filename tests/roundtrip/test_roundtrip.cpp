// Writer to reader: archives made with the streaming writer and the compressor, read
// back through the public library, over data of every shape, every level, with and
// without encryption, carrier and comment.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "container/crc32.h"
#include "tests/support/test_support.h"
#include "writer/compressor.h"

namespace vorx {
namespace {

using test::Handle;
using test::TempDir;

Bytes Text(size_t length, uint32_t seed) {
    static const char* words[] = {"installer ", "setup ", "files ", "folder ", "Windows ",
                                  "program ", "copy ", "the ", "and ", "of ", "to ", "data\r\n"};
    std::mt19937 rng(seed);
    Bytes out;
    while (out.size() < length) {
        const char* w = words[rng() % 12];
        out.insert(out.end(), w, w + std::strlen(w));
    }
    out.resize(length);
    return out;
}

// Something like a program: little-endian words, repeated instruction-like patterns,
// a table of offsets and stretches of zeros.
Bytes Binary(size_t length, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes out;
    while (out.size() < length) {
        switch (rng() % 4) {
            case 0: out.insert(out.end(), 16 + rng() % 200, 0); break;
            case 1:
                for (int i = 0; i < 32; ++i) {
                    const uint32_t v = 0x401000 + (rng() % 64) * 16;
                    for (int b = 0; b < 4; ++b) out.push_back(static_cast<uint8_t>(v >> (8 * b)));
                }
                break;
            case 2: {
                static const uint8_t code[] = {0x48, 0x89, 0x5C, 0x24, 0x08, 0x57, 0x48, 0x83,
                                               0xEC, 0x20, 0x8B, 0xF9, 0xE8};
                out.insert(out.end(), code, code + sizeof code);
                for (int b = 0; b < 4; ++b) out.push_back(static_cast<uint8_t>(rng()));
                break;
            }
            default: {
                const Bytes r = test::RandomBytes(1 + rng() % 40, rng());
                out.insert(out.end(), r.begin(), r.end());
            }
        }
    }
    out.resize(length);
    return out;
}

// Concatenation by append (GCC 12 warns falsely about literal + string).
std::string Cat(std::string a, const std::string& b) {
    a += b;
    return a;
}

struct Shape {
    std::string name;
    Bytes data;
};

std::vector<Shape> Shapes() {
    std::vector<Shape> shapes;
    shapes.push_back({"empty", {}});
    shapes.push_back({"one byte", {0x5A}});
    // Fewer bytes than a context needs, and runs that start right behind it.
    shapes.push_back({"two bytes", {1, 2}});
    shapes.push_back({"three equal", Bytes(3, 7)});
    shapes.push_back({"four equal", Bytes(4, 7)});
    shapes.push_back({"byte 255 run", Bytes(5000, 255)});
    // Alphabets of three and two symbols: tables of a few entries.
    Bytes small = test::RandomBytes(30000, 8);
    for (uint8_t& b : small) b %= 3;
    shapes.push_back({"small alphabet", small});
    Bytes two = test::RandomBytes(4000, 9);
    for (uint8_t& b : two) b &= 1;
    shapes.push_back({"two symbols", two});
    shapes.push_back({"text", Text(70000, 1)});
    shapes.push_back({"binary", Binary(90000, 2)});
    shapes.push_back({"incompressible", test::RandomBytes(40000, 3)});
    shapes.push_back({"long run", Bytes(300000, 0)});
    // Exactly one block, and one byte more (a second block of one byte), with a small
    // block size so that many-block entries stay quick.
    shapes.push_back({"one block", Text(65536, 4)});
    shapes.push_back({"one block and a byte", Text(65537, 5)});
    Bytes many = Text(150000, 6);
    const Bytes bin = Binary(120000, 7);
    many.insert(many.end(), bin.begin(), bin.end());
    shapes.push_back({"many blocks", many});
    return shapes;
}

struct Variant {
    int level;
    bool encrypt;
    bool carrier;
    bool comment;
    bool encryptNames;
};

void CheckArchive(const std::string& path, const std::vector<Shape>& shapes, const Variant& v,
                  const std::string& commentText) {
    const char* password = v.encrypt ? "secret password" : nullptr;
    Handle h;
    ASSERT_EQ(h.Open(path, v.encryptNames ? password : nullptr), vorx_Success);
    const uint64_t expectedCount = shapes.size() + (v.comment ? 1 : 0);
    ASSERT_EQ(vorx_GetNumFiles(h), expectedCount);
    uint64_t index = 0;
    if (v.comment) {
        vorx_FileInfo info;
        ASSERT_EQ(vorx_EnumerateFiles(h, &info, index++), vorx_Success);
        EXPECT_STREQ(info.name, "$comments$");
        EXPECT_EQ(info.attributes & VORX_ATTRIBUTE_ENCRYPTED, 0u);  // never encrypted
        Bytes back(info.uncompressedSize);
        ASSERT_EQ(vorx_DecompressToPtr(h, info.name, back.data(), nullptr, nullptr), vorx_Success);
        EXPECT_EQ(std::string(back.begin(), back.end()), commentText);
    }
    for (const Shape& shape : shapes) {
        SCOPED_TRACE(shape.name);
        vorx_FileInfo info;
        ASSERT_EQ(vorx_EnumerateFiles(h, &info, index++), vorx_Success);
        EXPECT_EQ(std::string(info.name), Cat("dir\\", shape.name));
        EXPECT_EQ(info.uncompressedSize, shape.data.size());
        EXPECT_EQ(info.crc32, Crc32::Of(shape.data.data(), shape.data.size()));
        EXPECT_EQ((info.attributes & VORX_ATTRIBUTE_ENCRYPTED) != 0, v.encrypt);
        EXPECT_EQ(info.lastWriteSeconds, 1700000000 + static_cast<int64_t>(index));
        Bytes back(shape.data.size() + 1);
        ASSERT_EQ(vorx_DecompressToPtr(h, info.name, back.data(), nullptr, password), vorx_Success);
        back.resize(shape.data.size());
        EXPECT_TRUE(back == shape.data);
        if (v.encrypt && !shape.data.empty()) {
            EXPECT_EQ(vorx_DecompressToPtr(h, info.name, back.data(), nullptr, nullptr),
                      vorx_PasswordRequired);
            const vorx_Error wrong = vorx_DecompressToPtr(h, info.name, back.data(), nullptr, "wrong pass");
            EXPECT_TRUE(wrong == vorx_CorruptArchive || wrong == vorx_CrcMismatch) << wrong;
        }
    }
}

TEST(RoundTrip, EveryShapeEveryLevelEveryVariant) {
    const std::vector<Shape> shapes = Shapes();
    const std::string commentText = "Read me first.\r\nSecond line.\r\n";
    std::vector<Variant> variants;
    for (int level = 0; level <= kMaxLevel; ++level) variants.push_back({level, false, false, false, false});
    variants.push_back({5, true, false, false, false});
    variants.push_back({9, true, true, true, true});
    variants.push_back({1, false, true, true, false});
    variants.push_back({0, true, false, true, true});
    TempDir dir;
    for (const Variant& v : variants) {
        SCOPED_TRACE(Cat(Cat(Cat(Cat("level ", std::to_string(v.level)), v.encrypt ? " encrypted" : ""),
                             v.carrier ? " carrier" : ""),
                         v.comment ? " comment" : ""));
        const std::string path = dir.File(Cat(Cat("a", std::to_string(v.level)), ".vx"));
        Compressor compressor(v.level, 65536);
        ArchiveWriter writer;
        ASSERT_TRUE(writer.Create(path));
        if (v.carrier) {
            const Bytes carrier = Binary(5000, 9);
            ASSERT_TRUE(writer.WriteCarrier(carrier.data(), carrier.size()));
        }
        ASSERT_TRUE(writer.BeginArchive());
        if (v.comment) {
            EntryOptions e;
            e.name = "$comments$";
            e.encoder = compressor.AsBlockEncoder();
            ASSERT_TRUE(writer.AddEntry(e, commentText.data(), commentText.size()));
        }
        uint64_t index = v.comment ? 1 : 0;
        for (const Shape& shape : shapes) {
            EntryOptions e;
            e.name = Cat("dir\\", shape.name);
            e.time = 1700000000 + ++index;
            e.encoder = compressor.AsBlockEncoder();
            if (v.encrypt) e.password = "secret password";
            // Written in uneven pieces, as a file is read.
            ASSERT_TRUE(writer.BeginEntry(e));
            size_t at = 0, piece = 1;
            while (at < shape.data.size()) {
                const size_t n = std::min(piece, shape.data.size() - at);
                ASSERT_TRUE(writer.Write(shape.data.data() + at, n));
                at += n;
                piece = piece * 3 + 7;
            }
            ASSERT_TRUE(writer.EndEntry());
        }
        DirectoryOptions directory;
        if (v.encryptNames) directory.password = "secret password";
        ASSERT_TRUE(writer.Finish(directory)) << writer.Error();
        CheckArchive(path, shapes, v, commentText);
        if (HasFatalFailure()) return;
    }
}

TEST(RoundTrip, CompressedBlocksAreSmallerWhereDataIsRedundant) {
    TempDir dir;
    const Bytes text = Text(200000, 11);
    for (int level : {0, 1, 9}) {
        const std::string path = dir.File(std::string(1, static_cast<char>('a' + level)));
        Compressor compressor(level);
        ArchiveWriter writer;
        EntryOptions e;
        e.name = "text.txt";
        e.encoder = compressor.AsBlockEncoder();
        ASSERT_TRUE(writer.Create(path) && writer.BeginArchive() &&
                    writer.AddEntry(e, text.data(), text.size()) && writer.Finish());
        Handle h;
        ASSERT_EQ(h.Open(path), vorx_Success);
        vorx_FileInfo info;
        ASSERT_EQ(vorx_EnumerateFiles(h, &info, 0), vorx_Success);
        if (level == 0) EXPECT_EQ(info.compressedSize, 4 + PadTo16(text.size()));
        else EXPECT_LT(info.compressedSize, text.size() / 3);
    }
}

}  // namespace
}  // namespace vorx
