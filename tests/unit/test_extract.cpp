// Extraction to memory and to files beyond the round trips and the conformance sample:
// damaged entries, refusals, output files that cannot be made or written, the files'
// times and an earlier cancellation.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <share.h>
#else
#include <unistd.h>
#endif

#include "library/vorx.h"
#include "platform/platform.h"
#include "tests/support/stream_builder.h"
#include "tests/support/test_support.h"

namespace vorx::test {
namespace {

using streams::Step;

TestEntry Compressed(const std::string& name, Bytes data, size_t chunk = 1 << 20) {
    TestEntry e(name, std::move(data));
    e.encoder = PackingEncoder(chunk);
    return e;
}

// An entry of a hand-made data area whose record declares `decoded` (or the size and
// CRC-32 given).
TestEntry Raw(const std::string& name, Bytes area, const std::string& decoded,
              std::optional<uint64_t> size = {}, std::optional<uint32_t> crc = {}) {
    TestEntry e(name, ToBytes(decoded), std::move(area));
    e.overrides = {size, crc};
    return e;
}

void VORX_CALL RecordProgress(void* user, int percent) {
    static_cast<std::vector<int>*>(user)->push_back(percent);
}

struct Outcome {
    vorx_Error code;
    Bytes bytes;
    std::vector<int> progress;
};

// Decodes `name` into memory (a buffer of exactly the declared size, so that more is
// caught by the sanitizers) or into a file, reporting progress.
Outcome Extract(Handle& h, const std::string& name, const std::string* file = nullptr) {
    vorx_FileInfo info;
    Outcome o{vorx_GetFileInfo(h, &info, name.c_str()), {}, {}};
    if (o.code != vorx_Success) return o;
    EXPECT_EQ(vorx_SetUserData(h, &o.progress), vorx_Success);
    if (file) {
        o.code = vorx_DecompressToFile(h, name.c_str(), file->c_str(), &RecordProgress, nullptr);
        if (std::filesystem::exists(*file)) o.bytes = ReadFile(*file);
    } else {
        o.bytes.resize(static_cast<size_t>(info.uncompressedSize));
        o.code = vorx_DecompressToPtr(h, name.c_str(), o.bytes.data(), &RecordProgress, nullptr);
    }
    return o;
}

vorx_Error ToMemory(vorx_Stream* h, const std::string& name, void* out) {
    return vorx_DecompressToPtr(h, name.c_str(), out, nullptr, nullptr);
}

vorx_Error ToFile(vorx_Stream* h, const std::string& name, const std::string& file) {
    return vorx_DecompressToFile(h, name.c_str(), file.c_str(), nullptr, nullptr);
}

Bytes Stored(const std::string& text) {
    return streams::RawBlock(0, static_cast<uint32_t>(text.size()), ToBytes(text));
}

std::vector<Step> Literals(const std::string& text) {
    std::vector<Step> steps;
    for (char c : text) steps.push_back(Step{false, static_cast<uint8_t>(c), 0});
    return steps;
}

Bytes Packed(std::vector<Step> steps, const std::vector<Step>& more = {}) {
    steps.insert(steps.end(), more.begin(), more.end());
    uint32_t bits = 0;
    const Bytes body = streams::EncodeSteps(steps, &bits);
    return streams::RawBlock(1, bits, body);
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// An archive of the given entries, opened.
struct Fixture {
    TempDir dir;
    Handle h;
    explicit Fixture(std::vector<TestEntry> entries) {
        WriteArchive(dir.File("a.vorx"), TestArchive{std::move(entries), {}, {}});
        EXPECT_EQ(h.Open(dir.File("a.vorx")), vorx_Success);
    }
};

// One row per damaged entry, decoded to memory and to a file: the result, the bytes the
// file keeps (the blocks before the bad one), and for some the progress reports.
TEST(Extract, DamagedEntries) {
    const std::string fox = "the quick brown fox jumps over the lazy dog";
    const size_t n = fox.size();
    const Bytes packed = Packed(Literals(fox));
    std::vector<Step> first = Literals("abcabc");
    first.push_back(Step{true, 7, 0});
    const std::string firstText = "abcabcabcabca";
    struct Row {
        vorx_Error code;
        size_t fileBytes;  // what a file extraction leaves
        TestEntry entry;
        std::vector<int> progress = {};  // to memory; empty: not checked
    };
    const vorx_Error corrupt = vorx_CorruptArchive;
    std::vector<Row> rows = {
        // The CRC is compared after the last report.
        {vorx_CrcMismatch, 3, Raw("crc", Stored("abc"), "abc", {}, 0x12345678), {0, 100}},
        {vorx_CrcMismatch, 0, Raw("empty crc", {}, "", {}, 1), {100}},
        {vorx_Success, 0, Raw("empty", {}, ""), {100}},
        // A header that promises a body the file cannot hold.
        {corrupt, 0, Raw("huge body", streams::RawBlock(0, kMaxBlockSizeField, {}), "", 1000)},
        // Blocks that produce more than the declared size (the second block: the file
        // keeps the first), or fewer, whatever the CRC-32 of what they produced.
        {corrupt, n, Raw("second block over", Stored(fox) + packed, fox + fox, 2 * n - 1)},
        {corrupt, n, Raw("under", packed, fox, n + 10)},
        {corrupt, n, Raw("under stored", Stored(fox), fox, n + 1), {0, 100}},
        // A compressed block of no steps adds nothing; stored blocks of no bytes are blocks.
        {vorx_Success, 3, Raw("no steps", Packed({}) + Stored("xyz"), "xyz")},
        {vorx_Success, 6, Raw("zero blocks", Stored("abc") + Stored("") + Stored("def"), "abcdef")},
        // Every compressed block has its own context: the second follows the first
        // without a gap, its first positions have no context, and its matches reach
        // only its own output ("bc" was recorded in the first block).
        {vorx_Success, 23,
         Raw("two", Packed(first) + Packed(Literals("xyzxyz"), {Step{true, 4, 0}}),
             firstText + "xyzxyzxyzx")},
        {corrupt, 13,
         Raw("early match", Packed(first) + Packed({Step{true, 2, 0}}), firstText + "??")},
        {corrupt, 13,
         Raw("stale", Packed(first) + Packed(Literals("qqqabc"), {Step{true, 1, 0}}),
             firstText + "qqqabca")},
    };
    std::vector<TestEntry> entries;
    for (const Row& row : rows) entries.push_back(row.entry);
    Fixture f(entries);
    for (const Row& row : rows) {
        const TestEntry& e = row.entry;
        const Outcome memory = Extract(f.h, e.name);
        EXPECT_EQ(memory.code, row.code) << e.name;
        EXPECT_TRUE(row.code != vorx_Success || memory.bytes == e.data) << e.name;
        EXPECT_TRUE(row.progress.empty() || memory.progress == row.progress) << e.name;
        const std::string out = f.dir.File("out " + e.name);
        const Outcome file = Extract(f.h, e.name, &out);
        EXPECT_EQ(file.code, row.code) << e.name;
        EXPECT_EQ(file.bytes.size(), row.fileBytes) << e.name;
        EXPECT_TRUE(std::equal(file.bytes.begin(), file.bytes.end(), e.data.begin())) << e.name;
    }
}

TEST(Extract, RefusalsBeforeAnythingIsWritten) {
    TestEntry secret = Compressed("secret", WordText(5000, 1));
    secret.password = "open sesame";
    Fixture f({secret, TestEntry("plain", WordText(100, 2))});
    Handle& h = f.h;
    Bytes buffer(5000, 0xEE);
    EXPECT_EQ(ToMemory(h, "missing", buffer.data()), vorx_NotFound);
    EXPECT_EQ(ToMemory(h, std::string(300, 'x'), buffer.data()), vorx_NotFound);
    EXPECT_EQ(ToMemory(h, "secret", buffer.data()), vorx_PasswordRequired);
    EXPECT_EQ(buffer, Bytes(5000, 0xEE));
    EXPECT_EQ(ToMemory(h, "plain", nullptr), vorx_InvalidArgument);
    EXPECT_EQ(ToMemory(nullptr, "plain", buffer.data()), vorx_InvalidArgument);

    // A file is neither created nor truncated by a refusal.
    const std::string out = f.dir.File("out"), fresh = f.dir.File("fresh");
    WriteFile(out, std::string("keep me"));
    EXPECT_EQ(ToFile(h, "missing", out), vorx_NotFound);
    EXPECT_EQ(ToFile(h, "secret", out), vorx_PasswordRequired);
    EXPECT_EQ(ReadFile(out), ToBytes("keep me"));
    EXPECT_EQ(ToFile(h, "secret", fresh), vorx_PasswordRequired);
    EXPECT_FALSE(std::filesystem::exists(fresh));
    EXPECT_EQ(ToFile(nullptr, "plain", out), vorx_InvalidArgument);
    // Output files that cannot be created: a missing folder (whose free space is
    // unknown, which is no reason to refuse), and a folder where the file should be.
    for (const std::string& bad : {f.dir.File("no such folder/out"), f.dir.Path()})
        EXPECT_EQ(ToFile(h, "plain", bad), vorx_InvalidArgument);
}

TEST(Extract, TheDeclaredSizeDecidesAboutMemoryAndDiskSpace) {
    const std::string text = "twenty-five bytes stored";
    Fixture f({Raw("big", Stored(text), text, 1ull << 32),
               Raw("fits", Stored(text), text, (1ull << 32) - 1),
               Raw("huge", Stored(text), text, 1ull << 62)});
    Bytes buffer(64);
    EXPECT_EQ(ToMemory(f.h, "big", buffer.data()), vorx_OutOfMemory);
    // Decoded, and only what the blocks produce is written: short of the record, damaged.
    EXPECT_EQ(ToMemory(f.h, "fits", buffer.data()), vorx_CorruptArchive);
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 24), text);
    // No volume has room for 4 EiB: refused before the file is made.
    EXPECT_EQ(ToFile(f.h, "huge", f.dir.File("out")), vorx_OutOfDiskSpace);
    EXPECT_FALSE(std::filesystem::exists(f.dir.File("out")));
}

TEST(Extract, OneBlockMayProduceAtMost64MiBInAFile) {
    const uint64_t tooBig = (64ull << 20) + 1;
    const std::string big(tooBig, 'a');
    Fixture f({Raw("too big", streams::RunOfA(tooBig), big),
               Raw("exact", streams::RunOfA(tooBig - 1), big.substr(0, tooBig - 1))});
    const std::string out = f.dir.File("exact");
    EXPECT_EQ(ToFile(f.h, "too big", f.dir.File("big")), vorx_Unknown);
    // Exactly 64 MiB: the window grows to its limit and not beyond.
    ASSERT_EQ(ToFile(f.h, "exact", out), vorx_Success);
    EXPECT_EQ(ReadFile(out), Bytes(static_cast<size_t>(tooBig - 1), 'a'));
    // Memory has no such limit, only the caller's buffer.
    Bytes memory(static_cast<size_t>(tooBig));
    EXPECT_EQ(ToMemory(f.h, "too big", memory.data()), vorx_Success);
}

// A file the extraction may not write: in use by a program that lets nobody else write it
// (Windows), or on a file system mounted read-only, which stops the superuser too (POSIX,
// where this process may mount one). The file keeps its bytes.
TEST(Extract, AnOutputFileThatCannotBeWritten) {
    Fixture f({TestEntry("plain", WordText(100, 1))});
    const std::string folder = f.dir.File("read only"), out = folder + "/file";
    ASSERT_TRUE(std::filesystem::create_directory(folder));
    WriteFile(out, std::string("old"));
#ifdef _WIN32
    const int holder = _sopen(out.c_str(), _O_RDONLY | _O_BINARY, _SH_DENYRW);
    ASSERT_GE(holder, 0);
    EXPECT_EQ(ToFile(f.h, "plain", out), vorx_InvalidArgument);
    _close(holder);
    EXPECT_EQ(ReadFile(out), ToBytes("old"));
#else
    // The superuser may write any file, but not on a file system mounted read-only.
    const bool root = geteuid() == 0;
    const auto run = [&](const std::string& command) {
        return std::system((command + " '" + folder + "' 2>/dev/null").c_str()) == 0;
    };
    if (root && !run("mount -t tmpfs -o size=64k tmpfs"))
        GTEST_SKIP() << "runs as the superuser, and cannot mount a file system to make read-only";
    if (root) WriteFile(out, std::string("old"));
    const bool readOnly = root ? run("mount -o remount,ro") : chmod(out.c_str(), 0444) == 0;
    const vorx_Error e = ToFile(f.h, "plain", out);
    const Bytes kept = ReadFile(out);
    ASSERT_TRUE(!root || run("umount"));
    ASSERT_TRUE(readOnly);
    EXPECT_EQ(e, vorx_InvalidArgument);
    EXPECT_EQ(kept, ToBytes("old"));
#endif
}

#ifndef _WIN32
// A device that is always full: every write fails, of stored and of compressed blocks.
TEST(Extract, AFullDevice) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    Fixture f({TestEntry("plain", WordText(100, 1)), Compressed("compressed", WordText(5000, 2))});
    for (const char* name : {"plain", "compressed"})
        EXPECT_EQ(ToFile(f.h, name, "/dev/full"), vorx_WriteFailed);
}
#endif

TEST(Extract, SetsTheLastWriteTimeOfEachTimeKind) {
    const int64_t utc = 1000000000;  // 2001-09-09; the zone is UTC
    std::vector<TestEntry> entries;
    for (uint8_t kind : {1, 2, 3})
        entries.push_back(TestEntry(std::to_string(kind), WordText(10, kind)));
    entries[0].time = utc, entries[1].time = utc + 7200, entries[2].time = 131000000000000000ull;
    entries[1].timeKind = 2, entries[2].timeKind = 3;
    Fixture f(entries);
    const int64_t before = platform::CurrentTime();
    for (const TestEntry& e : entries)
        ASSERT_EQ(ToFile(f.h, e.name, f.dir.File(e.name)), vorx_Success);
    EXPECT_EQ(ModificationTime(f.dir.File("1")), utc);
    EXPECT_EQ(ModificationTime(f.dir.File("2")), utc + 7200);
    // A FILETIME kind: the file keeps the time of its writing.
    EXPECT_GE(ModificationTime(f.dir.File("3")), before);
    EXPECT_LE(ModificationTime(f.dir.File("3")), platform::CurrentTime() + 1);
}

// A request made before a decode is cleared by it, in memory and to a file (the sample
// cancels at every entry's first report).
TEST(Extract, AnEarlierCancellationDoesNotCarryOver) {
    Fixture f({Compressed("many blocks", WordText(60000, 2), 20000)});
    const std::string out = f.dir.File("out");
    for (const std::string* file : {static_cast<const std::string*>(nullptr), &out}) {
        ASSERT_EQ(vorx_CancelOperation(f.h), vorx_Success);
        const Outcome o = Extract(f.h, "many blocks", file);
        EXPECT_EQ(o.code, vorx_Success);
        EXPECT_EQ(o.bytes, WordText(60000, 2));
    }
}

}  // namespace
}  // namespace vorx::test
