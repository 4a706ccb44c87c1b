// Extraction to memory and to files beyond the round trips and the conformance sample:
// damaged entries, refusals, output files that cannot be made or written, the files'
// times, an earlier cancellation, and memory that cannot be had.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#ifdef _WIN32
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <share.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "container/crc32.h"
#include "library/extract.h"
#include "library/vorx.h"
#include "platform/platform.h"
#include "tests/support/stream_builder.h"
#include "tests/support/test_support.h"

using streams::Step;
using vorx::Bytes;
using vorx::test::Handle;
using vorx::test::ReadFile;
using vorx::test::TempDir;
using vorx::test::TestArchive;
using vorx::test::TestEntry;
using vorx::test::WordText;

namespace {

TestEntry Compressed(const std::string& name, Bytes data, size_t chunk = 1 << 20) {
    TestEntry e(name, std::move(data));
    e.encoder = vorx::test::PackingEncoder(chunk);
    return e;
}

void VORX_CALL RecordProgress(void* user, int percent) { static_cast<std::vector<int>*>(user)->push_back(percent); }

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

// Entry data made by hand: blocks as the archive holds them.
Bytes Block(uint32_t type, uint32_t sizeField, const Bytes& body) {
    Bytes b(4 + vorx::PadTo16(body.size()), 0);
    vorx::WriteLe32(b.data(), (sizeField << 3) | type);
    std::copy(body.begin(), body.end(), b.begin() + 4);
    return b;
}

Bytes Stored(const std::string& text) { return Block(0, static_cast<uint32_t>(text.size()), Bytes(text.begin(), text.end())); }

std::vector<Step> Literals(const std::string& text) {
    std::vector<Step> steps;
    for (char c : text) steps.push_back(Step{false, static_cast<uint8_t>(c), 0});
    return steps;
}

Bytes Packed(std::vector<Step> steps, const std::vector<Step>& more = {}) {
    steps.insert(steps.end(), more.begin(), more.end());
    uint32_t bits = 0;
    const Bytes body = streams::EncodeSteps(steps, &bits);
    return Block(1, bits, body);
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// "aaaa", then matches of one byte back up to `total` bytes.
Bytes Repeated(uint64_t total) {
    std::vector<Step> steps = Literals("aaaa");
    for (uint64_t left = total - 4; left > 0;) {
        const uint32_t length = static_cast<uint32_t>(std::min<uint64_t>(left, 8000000));
        steps.push_back(Step{true, length, 0});
        left -= length;
    }
    return Packed(steps);
}

struct RawEntry {
    std::string name;
    Bytes area;
    std::string decoded;  // gives the recorded size and CRC-32 unless overridden
    std::optional<uint64_t> declaredSize;
    std::optional<uint32_t> crc;
};

// An archive made of the given entries (or of hand-made data areas), opened.
struct Fixture {
    TempDir dir;
    Handle h;
    explicit Fixture(const TestArchive& archive) {
        vorx::test::WriteArchive(dir.File("a.vorx"), archive);
        EXPECT_EQ(h.Open(dir.File("a.vorx")), vorx_Success);
    }
    explicit Fixture(const std::vector<RawEntry>& entries) {
        vorx::test::DamagingWriter w;
        bool ok = w.Create(dir.File("a.vorx")) && w.BeginArchive();
        for (const RawEntry& e : entries) {
            vorx::EntryOptions entry;
            entry.name = e.name;
            vorx::test::RecordOverrides overrides;
            overrides.uncompressedSize = e.declaredSize ? *e.declaredSize : e.decoded.size();
            overrides.crc32 = e.crc ? *e.crc : vorx::Crc32::Of(e.decoded.data(), e.decoded.size());
            ok = ok && w.BeginEntry(entry) && w.WriteRaw(e.area.data(), e.area.size()) && w.EndEntry(overrides);
        }
        EXPECT_TRUE(ok && w.Finish()) << w.Error();
        EXPECT_EQ(h.Open(dir.File("a.vorx")), vorx_Success);
    }
};

}  // namespace

// One row per damaged entry, decoded to memory and to a file: the result, the bytes the
// file keeps (the blocks before the bad one), and for some the progress reports.
TEST(Extract, DamagedEntries) {
    const std::string fox = "the quick brown fox jumps over the lazy dog";
    const size_t n = fox.size();
    const Bytes packed = Packed(Literals(fox));
    std::vector<Step> first = Literals("abcabc");
    first.push_back(Step{true, 7, 0});
    const std::string firstText = "abcabcabcabca";
    Bytes huge(4);
    vorx::WriteLe32(huge.data(), (vorx::kMaxBlockSizeField << 3) | 0);
    struct Row {
        RawEntry entry;
        vorx_Error code;
        size_t fileBytes;            // what a file extraction leaves
        std::vector<int> progress;   // to memory; empty: not checked
    };
    std::vector<Row> rows = {
        // The CRC is compared after the last report.
        {{"crc", Stored("abc"), "abc", {}, 0x12345678}, vorx_CrcMismatch, 3, {0, 100}},
        {{"empty crc", {}, "", {}, 1}, vorx_CrcMismatch, 0, {100}},
        {{"empty", {}, "", {}, {}}, vorx_Success, 0, {100}},
        // A header that promises a body the file cannot hold.
        {{"huge body", huge, "", 1000, {}}, vorx_CorruptArchive, 0, {}},
        // Blocks that produce more than the declared size (the second block: the file
        // keeps the first), or fewer, whatever the CRC-32 of what they produced.
        {{"second block over", Stored(fox) + packed, fox + fox, 2 * n - 1, {}}, vorx_CorruptArchive, n, {}},
        {{"under", packed, fox, n + 10, {}}, vorx_CorruptArchive, n, {}},
        {{"under stored", Stored(fox), fox, n + 1, {}}, vorx_CorruptArchive, n, {0, 100}},
        // A compressed block of no steps adds nothing; stored blocks of no bytes are blocks.
        {{"no steps", Packed({}) + Stored("xyz"), "xyz", {}, {}}, vorx_Success, 3, {}},
        {{"zero blocks", Stored("abc") + Stored("") + Stored("def"), "abcdef", {}, {}}, vorx_Success, 6, {}},
        // Every compressed block has its own context: the second follows the first
        // without a gap, its first positions have no context, and its matches reach
        // only its own output ("bc" was recorded in the first block).
        {{"two", Packed(first) + Packed(Literals("xyzxyz"), {Step{true, 4, 0}}), firstText + "xyzxyzxyzx", {}, {}},
         vorx_Success, 23, {}},
        {{"early match", Packed(first) + Packed({Step{true, 2, 0}}), firstText + "??", {}, {}},
         vorx_CorruptArchive, 13, {}},
        {{"stale", Packed(first) + Packed(Literals("qqqabc"), {Step{true, 1, 0}}), firstText + "qqqabca", {}, {}},
         vorx_CorruptArchive, 13, {}},
    };
    std::vector<RawEntry> entries;
    for (const Row& row : rows) entries.push_back(row.entry);
    Fixture f(entries);
    auto& [dir, h] = f;
    for (const Row& row : rows) {
        const RawEntry& e = row.entry;
        const Outcome memory = Extract(h, e.name);
        EXPECT_EQ(memory.code, row.code) << e.name;
        if (row.code == vorx_Success) {
            EXPECT_TRUE(std::equal(e.decoded.begin(), e.decoded.end(), memory.bytes.begin())) << e.name;
        }
        if (!row.progress.empty()) {
            EXPECT_EQ(memory.progress, row.progress) << e.name;
        }
        const std::string out = dir.File("out " + e.name);
        const Outcome file = Extract(h, e.name, &out);
        EXPECT_EQ(file.code, row.code) << e.name;
        EXPECT_EQ(file.bytes.size(), row.fileBytes) << e.name;
        EXPECT_TRUE(std::equal(file.bytes.begin(), file.bytes.end(), e.decoded.begin())) << e.name;
    }
}

TEST(Extract, RefusalsBeforeAnythingIsWritten) {
    TestArchive a;
    TestEntry secret = Compressed("secret", WordText(5000, 1));
    secret.password = "open sesame";
    a.entries = {secret, TestEntry("plain", WordText(100, 2))};
    Fixture f(a);
    Handle& h = f.h;
    Bytes buffer(5000, 0xEE);
    EXPECT_EQ(vorx_DecompressToPtr(h, "missing", buffer.data(), nullptr, nullptr), vorx_NotFound);
    EXPECT_EQ(vorx_DecompressToPtr(h, std::string(300, 'x').c_str(), buffer.data(), nullptr, nullptr), vorx_NotFound);
    EXPECT_EQ(vorx_DecompressToPtr(h, "secret", buffer.data(), nullptr, nullptr), vorx_PasswordRequired);
    EXPECT_EQ(buffer, Bytes(5000, 0xEE));
    EXPECT_EQ(vorx_DecompressToPtr(h, "plain", nullptr, nullptr, nullptr), vorx_InvalidArgument);
    EXPECT_EQ(vorx_DecompressToPtr(nullptr, "plain", buffer.data(), nullptr, nullptr), vorx_InvalidArgument);

    // A file is neither created nor truncated by a refusal.
    const std::string out = f.dir.File("out"), fresh = f.dir.File("fresh");
    vorx::test::WriteFile(out, std::string("keep me"));
    EXPECT_EQ(vorx_DecompressToFile(h, "missing", out.c_str(), nullptr, nullptr), vorx_NotFound);
    EXPECT_EQ(vorx_DecompressToFile(h, "secret", out.c_str(), nullptr, nullptr), vorx_PasswordRequired);
    EXPECT_EQ(ReadFile(out), vorx::test::ToBytes("keep me"));
    EXPECT_EQ(vorx_DecompressToFile(h, "secret", fresh.c_str(), nullptr, nullptr), vorx_PasswordRequired);
    EXPECT_FALSE(std::filesystem::exists(fresh));
    EXPECT_EQ(vorx_DecompressToFile(nullptr, "plain", out.c_str(), nullptr, nullptr), vorx_InvalidArgument);
    // Output files that cannot be created: a missing folder (whose free space is
    // unknown, which is no reason to refuse), and a folder where the file should be.
    EXPECT_EQ(vorx_DecompressToFile(h, "plain", f.dir.File("no such folder/out").c_str(), nullptr, nullptr),
              vorx_InvalidArgument);
    EXPECT_EQ(vorx_DecompressToFile(h, "plain", f.dir.Path().c_str(), nullptr, nullptr), vorx_InvalidArgument);
}

TEST(Extract, TheDeclaredSizeDecidesAboutMemoryAndDiskSpace) {
    const std::string text = "twenty-five bytes stored";
    Fixture f({{"big", Stored(text), text, 1ull << 32, {}},
               {"fits", Stored(text), text, (1ull << 32) - 1, {}},
               {"huge", Stored(text), text, 1ull << 62, {}}});
    auto& [dir, h] = f;
    Bytes buffer(64);
    EXPECT_EQ(vorx_DecompressToPtr(h, "big", buffer.data(), nullptr, nullptr), vorx_OutOfMemory);
    // Decoded, and only what the blocks produce is written: short of the record, damaged.
    EXPECT_EQ(vorx_DecompressToPtr(h, "fits", buffer.data(), nullptr, nullptr), vorx_CorruptArchive);
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 24), text);
    // No volume has room for 4 EiB: refused before the file is made.
    EXPECT_EQ(vorx_DecompressToFile(h, "huge", dir.File("out").c_str(), nullptr, nullptr), vorx_OutOfDiskSpace);
    EXPECT_FALSE(std::filesystem::exists(dir.File("out")));
}

TEST(Extract, OneBlockMayProduceAtMost64MiBInAFile) {
    const uint64_t tooBig = (64ull << 20) + 1;
    const std::string big(tooBig, 'a');
    Fixture f({{"too big", Repeated(tooBig), big, {}, {}}, {"exact", Repeated(tooBig - 1), big.substr(0, tooBig - 1), {}, {}}});
    auto& [dir, h] = f;
    EXPECT_EQ(vorx_DecompressToFile(h, "too big", dir.File("big").c_str(), nullptr, nullptr), vorx_Unknown);
    // Exactly 64 MiB: the window grows to its limit and not beyond.
    ASSERT_EQ(vorx_DecompressToFile(h, "exact", dir.File("exact").c_str(), nullptr, nullptr), vorx_Success);
    EXPECT_EQ(ReadFile(dir.File("exact")), Bytes(static_cast<size_t>(tooBig - 1), 'a'));
    // Memory has no such limit, only the caller's buffer.
    Bytes memory(static_cast<size_t>(tooBig));
    EXPECT_EQ(vorx_DecompressToPtr(h, "too big", memory.data(), nullptr, nullptr), vorx_Success);
}

TEST(Extract, AReadOnlyOrFullOutputFile) {
    TestArchive a;
    a.entries = {TestEntry("plain", WordText(100, 1)), Compressed("compressed", WordText(5000, 2))};
    Fixture f(a);
    const std::string out = f.dir.File("read only");
    vorx::test::WriteFile(out, std::string("old"));
#ifdef _WIN32
    // A file in use by a program that lets nobody else write it.
    const int holder = _sopen(out.c_str(), _O_RDONLY | _O_BINARY, _SH_DENYRW);
    ASSERT_GE(holder, 0);
    EXPECT_EQ(vorx_DecompressToFile(f.h, "plain", out.c_str(), nullptr, nullptr), vorx_InvalidArgument);
    _close(holder);
#else
    ASSERT_EQ(chmod(out.c_str(), 0444), 0);
    // The superuser may write any file.
    if (geteuid() != 0) {
        EXPECT_EQ(vorx_DecompressToFile(f.h, "plain", out.c_str(), nullptr, nullptr), vorx_InvalidArgument);
    }
    // A device that is always full.
    if (std::filesystem::exists("/dev/full")) {
        EXPECT_EQ(vorx_DecompressToFile(f.h, "plain", "/dev/full", nullptr, nullptr), vorx_WriteFailed);
        EXPECT_EQ(vorx_DecompressToFile(f.h, "compressed", "/dev/full", nullptr, nullptr), vorx_WriteFailed);
    }
#endif
    EXPECT_EQ(ReadFile(out), vorx::test::ToBytes("old"));
}

TEST(Extract, SetsTheLastWriteTimeOfEachTimeKind) {
    const int64_t utc = 1000000000;  // 2001-09-09; the zone is UTC
    TestArchive a;
    for (uint8_t kind : {1, 2, 3}) a.entries.push_back(TestEntry(std::to_string(kind), WordText(10, kind)));
    a.entries[0].time = utc, a.entries[1].time = utc + 7200, a.entries[2].time = 131000000000000000ull;
    a.entries[1].timeKind = 2, a.entries[2].timeKind = 3;
    Fixture f(a);
    const int64_t before = platform::CurrentTime();
    for (const TestEntry& e : a.entries)
        ASSERT_EQ(vorx_DecompressToFile(f.h, e.name.c_str(), f.dir.File(e.name).c_str(), nullptr, nullptr), vorx_Success);
    EXPECT_EQ(vorx::test::ModificationTime(f.dir.File("1")), utc);
    EXPECT_EQ(vorx::test::ModificationTime(f.dir.File("2")), utc + 7200);
    // A FILETIME kind: the file keeps the time of its writing.
    EXPECT_GE(vorx::test::ModificationTime(f.dir.File("3")), before);
    EXPECT_LE(vorx::test::ModificationTime(f.dir.File("3")), platform::CurrentTime() + 1);
}

// A request made before a decode is cleared by it, in memory and to a file (the sample
// cancels at every entry's first report).
TEST(Extract, AnEarlierCancellationDoesNotCarryOver) {
    TestArchive a;
    a.entries = {Compressed("many blocks", WordText(60000, 2), 20000)};
    Fixture f(a);
    const std::string out = f.dir.File("out");
    for (const std::string* file : {static_cast<const std::string*>(nullptr), &out}) {
        ASSERT_EQ(vorx_CancelOperation(f.h), vorx_Success);
        const Outcome o = Extract(f.h, "many blocks", file);
        EXPECT_EQ(o.code, vorx_Success);
        EXPECT_EQ(o.bytes, a.entries[0].data);
    }
}

// An address-space limit in a child process makes allocations fail (POSIX; not under
// the address sanitizer, which needs address space of its own).
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VORX_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define VORX_ADDRESS_SANITIZER 1
#endif
#if !defined(_WIN32) && !defined(VORX_ADDRESS_SANITIZER)
#include <sys/resource.h>

// Runs `call` in a child process whose address space may grow by only `headroom` bytes
// beyond what it uses now; returns the call's result.
template <class Call>
int WithLittleMemory(size_t headroom, Call call) {
    const pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) {
        std::FILE* statm = std::fopen("/proc/self/statm", "r");
        unsigned long pages = 0;
        if (!statm || std::fscanf(statm, "%lu", &pages) != 1) _exit(100);
        std::fclose(statm);
        const rlim_t limit = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + headroom;
        const struct rlimit r = {limit, limit};
        if (setrlimit(RLIMIT_AS, &r) != 0) _exit(101);
        _exit(call());
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

TEST(OutOfMemory, MemoryThatCannotBeHadIsEleven) {
    TestArchive a;
    a.entries = {Compressed("compressed", WordText(20000, 1))};
    Fixture f(a);
    vorx_Stream* h = f.h;
    const std::string out = f.dir.File("out");
    // The output window's 128 MiB of address space.
    EXPECT_EQ(WithLittleMemory(16u << 20, [&] { return vorx_DecompressToFile(h, "compressed", out.c_str(), nullptr, nullptr); }),
              vorx_OutOfMemory);
    // The context table, made at the handle's first compressed block.
    Bytes memory(20000);
    EXPECT_EQ(WithLittleMemory(64u << 10, [&] { return vorx_DecompressToPtr(h, "compressed", memory.data(), nullptr, nullptr); }),
              vorx_OutOfMemory);
    EXPECT_EQ(vorx_DecompressToPtr(h, "compressed", memory.data(), nullptr, nullptr), vorx_Success);
    EXPECT_EQ(memory, a.entries[0].data);
}
#endif
