// Writer and compressor to the public library: data of every shape, at every level, with
// and without encryption, carrier, comment and forced compression.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "container/crc32.h"
#include "tests/support/test_support.h"
#include "writer/compressor.h"

namespace vorx {
namespace {

// Literals, copies of earlier pieces (overlapping too), runs and short periods over
// `alphabet` symbols: every kind of repetition a match must name correctly.
Bytes Repetitive(size_t n, uint32_t alphabet, std::mt19937& rng) {
    Bytes d;
    while (d.size() < n) {
        const uint32_t kind = rng() % 4;
        if (kind == 0 || d.size() < 8)
            d.push_back(static_cast<uint8_t>(rng() % alphabet));
        else if (kind == 2)
            d.insert(d.end(), 1 + rng() % 30, static_cast<uint8_t>(rng() % alphabet));
        else
            for (size_t from = kind == 1 ? rng() % d.size() : d.size() - 1 - rng() % 6,
                        end = from + 1 + rng() % 40;
                 from < end; ++from)
                d.push_back(d[from]);
    }
    d.resize(n);
    return d;
}

struct Shape {
    std::string name;
    Bytes data;
};

std::vector<Shape> Shapes() {
    std::mt19937 rng(12345);
    Bytes many = test::WordText(150000, 6), bin = Repetitive(120000, 256, rng);
    many.insert(many.end(), bin.begin(), bin.end());
    // Fewer bytes than a context needs and runs right behind it; exactly one block of
    // 65536 bytes and one byte more; many blocks.
    std::vector<Shape> shapes = {{"empty", {}},
                                 {"one byte", {0x5A}},
                                 {"two bytes", {1, 2}},
                                 {"three equal", Bytes(3, 7)},
                                 {"four equal", Bytes(4, 7)},
                                 {"byte 255 run", Bytes(5000, 255)},
                                 {"long run", Bytes(300000, 0)},
                                 {"many blocks", many}};
    shapes.push_back({"dir\\text", test::WordText(70000, 1)});
    shapes.push_back({"binary", Repetitive(90000, 256, rng)});
    shapes.push_back({"incompressible", test::RandomBytes(40000, 3)});
    shapes.push_back({"one block", test::WordText(65536, 4)});
    shapes.push_back({"one block and a byte", test::WordText(65537, 5)});
    for (uint32_t i = 0; i < 60; ++i)
        shapes.push_back(
            {"dir\\repetitive " + std::to_string(i),
             Repetitive(1 + rng() % (i % 10 ? 2000 : 20000), i % 3 ? 1 + rng() % 4 : 256, rng)});
    return shapes;
}

// Entries written in uneven pieces come back with size, CRC, time and encryption bit; an
// encrypted one refuses no password and a wrong one; the comment is never encrypted.
TEST(RoundTrip, EveryShapeEveryLevelEveryVariant) {
    struct Variant {
        int level;
        bool encrypt, carrier, comment, encryptNames, force;
    };
    std::vector<Variant> variants = {
        {5, true, false, false, false, false}, {9, true, true, true, true, false},
        {1, false, true, true, false, false},  {0, true, false, true, true, false},
        {3, false, false, false, false, true}, {8, true, false, false, false, true}};
    for (int level = 0; level <= kMaxLevel; ++level)
        variants.push_back({level, false, false, false, false, false});
    test::TempDir dir;
    const std::string path = dir.File("a.vx");
    for (const Variant& v : variants) {
        SCOPED_TRACE("level " + std::to_string(v.level) + (v.encrypt ? " encrypted" : "") +
                     (v.carrier ? " carrier" : "") + (v.comment ? " comment" : "") +
                     (v.force ? " forced" : ""));
        std::vector<Shape> shapes = Shapes();
        if (v.comment)
            shapes.insert(shapes.begin(),
                          {"$comments$", test::ToBytes("Read me first.\r\nSecond line.\r\n")});
        const char* password = v.encrypt ? "secret password" : nullptr;
        const auto encrypted = [&](size_t i) { return password && shapes[i].name != "$comments$"; };
        Compressor compressor(v.level, 65536);
        compressor.set_forceCompressed(v.force);
        const BlockEncoder encoder = compressor.AsBlockEncoder();
        ArchiveWriter writer;
        const Bytes carrier = test::RandomBytes(5000, 9);
        ASSERT_TRUE(writer.Create(path) &&
                    (!v.carrier || writer.WriteCarrier(carrier.data(), carrier.size())) &&
                    writer.BeginArchive());
        for (size_t i = 0; i < shapes.size(); ++i) {
            const Bytes& data = shapes[i].data;
            EntryOptions e{shapes[i].name, kTimeUtcSeconds, 1700000000 + i, 0x20, {}, encoder};
            if (encrypted(i)) e.password = password;
            ASSERT_TRUE(writer.BeginEntry(e));
            for (size_t at = 0, piece = 1; at < data.size(); at += piece, piece = piece * 3 + 7)
                ASSERT_TRUE(writer.Write(data.data() + at, std::min(piece, data.size() - at)));
            ASSERT_TRUE(writer.EndEntry());
        }
        DirectoryOptions directory;
        if (v.encryptNames) directory.password = password;
        ASSERT_TRUE(writer.Finish(directory)) << writer.Error();

        test::Handle h;
        ASSERT_EQ(h.Open(path, v.encryptNames ? password : nullptr), vorx_Success);
        ASSERT_EQ(vorx_GetNumFiles(h), shapes.size());
        for (size_t i = 0; i < shapes.size(); ++i) {
            const Bytes& data = shapes[i].data;
            SCOPED_TRACE(shapes[i].name);
            vorx_FileInfo info;
            ASSERT_EQ(vorx_EnumerateFiles(h, &info, i), vorx_Success);
            EXPECT_EQ(std::string(info.name), shapes[i].name);
            EXPECT_EQ(info.uncompressedSize, data.size());
            EXPECT_EQ(info.crc32, Crc32::Of(data.data(), data.size()));
            EXPECT_EQ((info.attributes & VORX_ATTRIBUTE_ENCRYPTED) != 0, encrypted(i));
            EXPECT_EQ(info.lastWriteSeconds, 1700000000 + static_cast<int64_t>(i));
            Bytes back(data.size() + 1);
            ASSERT_EQ(vorx_DecompressToPtr(h, info.name, back.data(), nullptr, password),
                      vorx_Success);
            EXPECT_TRUE(Bytes(back.begin(), back.end() - 1) == data);
            // Text shrinks (how far is the benchmark's to judge); random bytes are stored.
            const uint64_t packed = info.compressedSize,
                           stored = data.size() / 65536 * 65540 + 4 + PadTo16(data.size() % 65536);
            EXPECT_TRUE(shapes[i].name != "dir\\text" || v.force ||
                        (v.level == 0 ? packed == stored : packed < data.size() * 3 / 10))
                << packed;
            EXPECT_TRUE(shapes[i].name != "incompressible" || v.force || packed == stored)
                << packed;
            if ((info.attributes & VORX_ATTRIBUTE_ENCRYPTED) && !data.empty()) {
                EXPECT_EQ(vorx_DecompressToPtr(h, info.name, back.data(), nullptr, nullptr),
                          vorx_PasswordRequired);
                const vorx_Error wrong =
                    vorx_DecompressToPtr(h, info.name, back.data(), nullptr, "wrong pass");
                EXPECT_TRUE(wrong == vorx_CorruptArchive || wrong == vorx_CrcMismatch) << wrong;
            }
        }
        if (HasFatalFailure()) return;
    }
}

}  // namespace
}  // namespace vorx
