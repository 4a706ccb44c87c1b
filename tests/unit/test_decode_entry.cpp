// Decoding whole entries into memory (vorx_DecompressToPtr and the entry loop behind
// both extraction calls): blocks of every kind in sequence, encryption, progress,
// cancellation, the CRC-32 check, every result code, and output that is bounded by
// the entry's declared size.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <thread>
#endif

#include "codec/decrypt_buffer.h"
#include "container/blowfish.h"
#include "container/crc32.h"
#include "library/vorx.h"
#include "tests/support/stream_builder.h"
#include "tests/support/test_support.h"

using streams::Step;
using vorx::Bytes;
using vorx::test::Handle;
using vorx::test::TempDir;
using vorx::test::TestArchive;
using vorx::test::TestEntry;
using vorx::test::WordText;

namespace {

// ---------------------------------------------------------------------------
// Archives with hand-made entry data.

Bytes Block(uint32_t type, uint32_t sizeField, const Bytes& body) {
    Bytes b(4 + vorx::PadTo16(body.size()), 0);
    vorx::WriteLe32(b.data(), (sizeField << 3) | type);
    if (!body.empty()) std::memcpy(b.data() + 4, body.data(), body.size());
    return b;
}

Bytes StoredBlock(const std::string& text) { return Block(0, static_cast<uint32_t>(text.size()), Bytes(text.begin(), text.end())); }

Bytes CompressedBlock(const std::vector<Step>& steps) {
    uint32_t bits = 0;
    Bytes body = streams::EncodeSteps(steps, &bits);
    body.resize((bits + 7) / 8);
    return Block(1, bits, body);
}

std::vector<Step> Literals(const std::string& text) {
    std::vector<Step> steps;
    for (char c : text) steps.push_back(Step{false, static_cast<uint8_t>(c), 0});
    return steps;
}

std::vector<Step> operator+(std::vector<Step> a, const std::vector<Step>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes operator+(const Bytes& a, const Bytes& b) {
    Bytes joined(a.size() + b.size());
    if (!a.empty()) std::memcpy(joined.data(), a.data(), a.size());
    if (!b.empty()) std::memcpy(joined.data() + a.size(), b.data(), b.size());
    return joined;
}

struct RawEntry {
    std::string name;
    Bytes area;                 // the entry's data area: blocks as the archive holds them
    std::string decoded;        // what it decodes to (gives the size and CRC-32 recorded)
    std::optional<uint64_t> declaredSize;
    std::optional<uint32_t> crc;
};

void WriteRawArchive(const std::string& path, const std::vector<RawEntry>& entries) {
    vorx::test::DamagingWriter w;
    bool ok = w.Create(path) && w.BeginArchive();
    for (const RawEntry& e : entries) {
        vorx::EntryOptions entry;
        entry.name = e.name;
        vorx::test::RecordOverrides overrides;
        overrides.uncompressedSize = e.declaredSize ? *e.declaredSize : e.decoded.size();
        overrides.crc32 = e.crc ? *e.crc : vorx::Crc32::Of(e.decoded.data(), e.decoded.size());
        ok = ok && w.BeginEntry(entry) && w.WriteRaw(e.area.data(), e.area.size()) && w.EndEntry(overrides);
    }
    ok = ok && w.Finish();
    ASSERT_TRUE(ok) << w.Error();
}

// ---------------------------------------------------------------------------
// Decoding helpers.

struct Progress {
    std::vector<int> percents;
    vorx_Stream* handle = nullptr;
    size_t cancelAtCall = 0;  // 1-based; 0: never
};

void VORX_CALL RecordProgress(void* user, int percent) {
    auto* p = static_cast<Progress*>(user);
    p->percents.push_back(percent);
    if (p->cancelAtCall == p->percents.size()) vorx_CancelOperation(p->handle);
}

struct Outcome {
    vorx_Error code;
    Bytes bytes;
    std::vector<int> progress;
};

// Decodes `name` into a buffer of exactly its declared size (more would be caught by
// the sanitizers), reporting progress.
Outcome ToMemory(Handle& h, const std::string& name, const char* password = nullptr, size_t cancelAtCall = 0) {
    vorx_FileInfo info;
    Outcome o{vorx_GetFileInfo(h, &info, name.c_str()), {}, {}};
    if (o.code != vorx_Success) return o;
    Progress progress;
    progress.handle = h;
    progress.cancelAtCall = cancelAtCall;
    EXPECT_EQ(vorx_SetUserData(h, &progress), vorx_Success);
    o.bytes.resize(static_cast<size_t>(info.uncompressedSize));
    o.code = vorx_DecompressToPtr(h, name.c_str(), o.bytes.data(), &RecordProgress, password);
    o.progress = progress.percents;
    return o;
}

}  // namespace

TEST(DecompressToPtr, EntriesOfEveryShapeComeBackExactly) {
    TempDir dir;
    TestArchive a;
    auto add = [&](const std::string& name, Bytes data, std::optional<vorx::BlockEncoder> encoder,
                   std::optional<std::string> password = std::nullopt) {
        TestEntry e(name, std::move(data));
        e.encoder = encoder;
        e.password = password;
        a.entries.push_back(e);
    };
    add("empty", {}, std::nullopt);
    add("one", {0x42}, std::nullopt);
    add("stored", WordText(134, 1), std::nullopt);
    add("text", WordText(10000, 2), streams::CompressingEncoder(1 << 20));
    add("blocks", WordText(50000, 3), streams::CompressingEncoder(4096));
    add("mixed", vorx::test::RandomBytes(30000, 4) + WordText(30000, 5), streams::CompressingEncoder(2000, true));
    add("noise", vorx::test::RandomBytes(20000, 6), streams::CompressingEncoder(1 << 20));
    add("runs", Bytes(300000, 'z'), streams::CompressingEncoder(1 << 20));
    add("secret", WordText(40000, 7), streams::CompressingEncoder(5000, true), std::string("correct horse"));
    add("secret stored", WordText(999, 8), std::nullopt, std::string(""));
    vorx::test::WriteArchive(dir.File("a.vorx"), a);
    Handle h;
    ASSERT_EQ(h.Open(dir.File("a.vorx")), vorx_Success);
    for (const TestEntry& e : a.entries) {
        const Outcome o = ToMemory(h, e.name, e.password ? e.password->c_str() : nullptr);
        EXPECT_EQ(o.code, vorx_Success) << e.name;
        EXPECT_EQ(o.bytes, e.data) << e.name;
    }
}

TEST(DecompressToPtr, ProgressOfStoredEmptyAndCompressedEntries) {
    TempDir dir;
    TestArchive a;
    a.entries.push_back(TestEntry("stored", WordText(134, 1)));
    a.entries.push_back(TestEntry("empty", {}));
    TestEntry four("four blocks", WordText(64, 2));
    four.chunkSize = 16;  // four blocks of 4 + 16 bytes: each starts a quarter further on
    a.entries.push_back(four);
    TestEntry compressed("compressed", WordText(60000, 3));
    compressed.encoder = streams::CompressingEncoder(1 << 20);
    a.entries.push_back(compressed);
    vorx::test::WriteArchive(dir.File("a.vorx"), a);
    Handle h;
    ASSERT_EQ(h.Open(dir.File("a.vorx")), vorx_Success);

    EXPECT_EQ(ToMemory(h, "stored").progress, (std::vector<int>{0, 100}));
    EXPECT_EQ(ToMemory(h, "empty").progress, (std::vector<int>{100}));
    EXPECT_EQ(ToMemory(h, "four blocks").progress, (std::vector<int>{0, 25, 50, 75, 100}));

    // One block that is nearly the whole entry: about a hundred reports inside it.
    const Outcome o = ToMemory(h, "compressed");
    ASSERT_EQ(o.code, vorx_Success);
    ASSERT_GE(o.progress.size(), 90u);
    ASSERT_LE(o.progress.size(), 110u);
    EXPECT_EQ(o.progress.front(), 0);
    EXPECT_EQ(o.progress.back(), 100);
    for (size_t i = 1; i < o.progress.size(); ++i) EXPECT_LE(o.progress[i - 1], o.progress[i]);
    EXPECT_GE(o.progress[o.progress.size() - 2], 95);
}

TEST(DecompressToPtr, CancellationTakesEffectOnlyAtABlockStart) {
    TempDir dir;
    TestArchive a;
    TestEntry one("one block", WordText(60000, 1));
    one.encoder = streams::CompressingEncoder(1 << 20);
    TestEntry many("many blocks", WordText(60000, 2));
    many.encoder = streams::CompressingEncoder(20000);
    a.entries = {one, many};
    vorx::test::WriteArchive(dir.File("a.vorx"), a);
    Handle h;
    ASSERT_EQ(h.Open(dir.File("a.vorx")), vorx_Success);

    // A request made before the decode is cleared by it.
    ASSERT_EQ(vorx_CancelOperation(h), vorx_Success);
    EXPECT_EQ(ToMemory(h, "one block").code, vorx_Success);
    // The first report precedes the look at the flag, at the first block start.
    EXPECT_EQ(ToMemory(h, "one block", nullptr, 1).code, vorx_InvalidArgument);
    // A request inside the only block does not stop it.
    Outcome o = ToMemory(h, "one block", nullptr, 2);
    EXPECT_EQ(o.code, vorx_Success);
    EXPECT_EQ(o.bytes, one.data);
    EXPECT_EQ(o.progress.back(), 100);
    // Inside the first of several blocks: the next block start reports, then stops.
    o = ToMemory(h, "many blocks", nullptr, 2);
    EXPECT_EQ(o.code, vorx_InvalidArgument);
    ASSERT_GE(o.progress.size(), 3u);
    EXPECT_NE(o.progress.back(), 100);
    // The first block's bytes are in place.
    EXPECT_TRUE(std::equal(many.data.begin(), many.data.begin() + 20000, o.bytes.begin()));
}

TEST(DecompressToPtr, ResultCodes) {
    TempDir dir;
    TestArchive a;
    TestEntry secret("secret", WordText(5000, 1));
    secret.encoder = streams::CompressingEncoder(1 << 20);
    secret.password = "open sesame";
    a.entries = {secret, TestEntry("plain", WordText(100, 2))};
    vorx::test::WriteArchive(dir.File("a.vorx"), a);
    Handle h;
    ASSERT_EQ(h.Open(dir.File("a.vorx")), vorx_Success);

    Bytes buffer(5000, 0xEE);
    EXPECT_EQ(vorx_DecompressToPtr(h, "missing", buffer.data(), nullptr, nullptr), vorx_NotFound);
    EXPECT_EQ(vorx_DecompressToPtr(h, std::string(300, 'x').c_str(), buffer.data(), nullptr, nullptr), vorx_NotFound);
    EXPECT_EQ(vorx_DecompressToPtr(h, "secret", buffer.data(), nullptr, nullptr), vorx_PasswordRequired);
    EXPECT_EQ(buffer, Bytes(5000, 0xEE));  // nothing written
    const vorx_Error wrong = vorx_DecompressToPtr(h, "secret", buffer.data(), nullptr, "open sesame!");
    EXPECT_TRUE(wrong == vorx_CorruptArchive || wrong == vorx_CrcMismatch) << wrong;
    EXPECT_EQ(vorx_DecompressToPtr(h, "secret", buffer.data(), nullptr, "open sesame"), vorx_Success);
    EXPECT_EQ(vorx_DecompressToPtr(h, "plain", nullptr, nullptr, nullptr), vorx_InvalidArgument);
    EXPECT_EQ(vorx_DecompressToPtr(nullptr, "plain", buffer.data(), nullptr, nullptr), vorx_InvalidArgument);
}

TEST(DecompressToPtr, TheDeclaredSizeDecidesAboutMemory) {
    TempDir dir;
    RawEntry big{"big", StoredBlock("twenty-five bytes stored"), "twenty-five bytes stored", 1ull << 32, {}};
    RawEntry fits{"fits", StoredBlock("twenty-five bytes stored"), "twenty-five bytes stored", (1ull << 32) - 1, {}};
    WriteRawArchive(dir.File("a.vorx"), {big, fits});
    Handle h;
    ASSERT_EQ(h.Open(dir.File("a.vorx")), vorx_Success);
    Bytes buffer(64);
    EXPECT_EQ(vorx_DecompressToPtr(h, "big", buffer.data(), nullptr, nullptr), vorx_OutOfMemory);
    // Only what the blocks produce is written (the caller's buffer must hold the
    // declared size; this one holds what the block produces).
    EXPECT_EQ(vorx_DecompressToPtr(h, "fits", buffer.data(), nullptr, nullptr), vorx_Success);
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 24), "twenty-five bytes stored");
}

TEST(DecodeEntry, BlocksThatProduceMoreThanTheDeclaredSizeAreCorrupt) {
    TempDir dir;
    const std::string text = "the quick brown fox jumps over the lazy dog";
    const Bytes compressed = CompressedBlock(Literals(text));
    std::vector<RawEntry> entries = {
        {"stored over", StoredBlock(text), text, text.size() - 1, {}},
        {"compressed over", compressed, text, text.size() - 1, {}},
        {"second block over", StoredBlock(text) + compressed, text + text, 2 * text.size() - 1, {}},
        {"under", compressed, text, text.size() + 10, {}},  // fewer bytes than declared: fine
        {"exact", compressed, text, {}, {}},
    };
    WriteRawArchive(dir.File("a.vorx"), entries);
    Handle h;
    ASSERT_EQ(h.Open(dir.File("a.vorx")), vorx_Success);
    EXPECT_EQ(ToMemory(h, "stored over").code, vorx_CorruptArchive);
    EXPECT_EQ(ToMemory(h, "compressed over").code, vorx_CorruptArchive);
    EXPECT_EQ(ToMemory(h, "second block over").code, vorx_CorruptArchive);
    Outcome o = ToMemory(h, "under");
    EXPECT_EQ(o.code, vorx_Success);
    EXPECT_EQ(std::string(o.bytes.begin(), o.bytes.begin() + static_cast<ptrdiff_t>(text.size())), text);
    EXPECT_EQ(ToMemory(h, "exact").code, vorx_Success);
}

TEST(DecodeEntry, MalformedEntriesAreCorruptAndCrcFailuresAreNine) {
    TempDir dir;
    std::vector<RawEntry> entries;
    for (uint32_t type = 2; type < 8; ++type)
        entries.push_back({"type " + std::to_string(type), StoredBlock("abc") + Block(type, 3, Bytes{'d', 'e', 'f'}),
                           "abcdef", {}, {}});
    entries.push_back({"crc", StoredBlock("abc"), "abc", {}, 0x12345678});
    entries.push_back({"empty crc", {}, "", {}, 1});
    entries.push_back({"empty", {}, "", {}, {}});
    // A header that promises a body the file cannot hold.
    Bytes huge(4);
    vorx::WriteLe32(huge.data(), (vorx::kMaxBlockSizeField << 3) | 0);
    entries.push_back({"huge body", huge, "", 1000, {}});
    // A compressed block of no steps, then a stored one: the first adds nothing.
    entries.push_back({"no steps", CompressedBlock({}) + StoredBlock("xyz"), "xyz", {}, {}});
    // Stored blocks of no bytes are blocks like any other.
    entries.push_back({"zero blocks", StoredBlock("abc") + StoredBlock("") + StoredBlock("def"), "abcdef", {}, {}});
    WriteRawArchive(dir.File("a.vorx"), entries);
    Handle h;
    ASSERT_EQ(h.Open(dir.File("a.vorx")), vorx_Success);
    for (uint32_t type = 2; type < 8; ++type) {
        const Outcome o = ToMemory(h, "type " + std::to_string(type));
        EXPECT_EQ(o.code, vorx_CorruptArchive) << type;
        EXPECT_EQ(o.progress, (std::vector<int>{0, 50})) << type;  // no body read after the bad header
    }
    Outcome o = ToMemory(h, "crc");
    EXPECT_EQ(o.code, vorx_CrcMismatch);
    EXPECT_EQ(o.progress.back(), 100);  // reported before the comparison
    EXPECT_EQ(ToMemory(h, "empty crc").code, vorx_CrcMismatch);
    EXPECT_EQ(ToMemory(h, "empty").code, vorx_Success);
    EXPECT_EQ(ToMemory(h, "huge body").code, vorx_CorruptArchive);
    o = ToMemory(h, "no steps");
    EXPECT_EQ(o.code, vorx_Success);
    EXPECT_EQ(o.bytes, (Bytes{'x', 'y', 'z'}));
    o = ToMemory(h, "zero blocks");
    EXPECT_EQ(o.code, vorx_Success);
    EXPECT_EQ(o.bytes, (Bytes{'a', 'b', 'c', 'd', 'e', 'f'}));
}

TEST(DecodeEntry, EachCompressedBlockHasItsOwnContext) {
    TempDir dir;
    const auto first = Literals("abcabc") + std::vector<Step>{Step{true, 7, 0}};
    const std::string firstText = "abcabcabcabca";
    std::vector<RawEntry> entries = {
        // The second block follows the first without a gap.
        {"two", CompressedBlock(first) + CompressedBlock(Literals("xyzxyz") + std::vector<Step>{Step{true, 4, 0}}),
         firstText + "xyzxyzxyzx", {}, {}},
        // Its first positions have no context, whatever the first block produced.
        {"early match", CompressedBlock(first) + CompressedBlock({Step{true, 2, 0}}), firstText + "??", {}, {}},
        // Its matches reach only its own output: "bc" was recorded in the first block.
        {"stale", CompressedBlock(first) + CompressedBlock(Literals("qqqabc") + std::vector<Step>{Step{true, 1, 0}}),
         firstText + "qqqabca", {}, {}},
    };
    WriteRawArchive(dir.File("a.vorx"), entries);
    Handle h;
    ASSERT_EQ(h.Open(dir.File("a.vorx")), vorx_Success);
    const Outcome o = ToMemory(h, "two");
    EXPECT_EQ(o.code, vorx_Success);
    EXPECT_EQ(std::string(o.bytes.begin(), o.bytes.end()), firstText + "xyzxyzxyzx");
    EXPECT_EQ(ToMemory(h, "early match").code, vorx_CorruptArchive);
    EXPECT_EQ(ToMemory(h, "stale").code, vorx_CorruptArchive);
}

namespace {

struct DecodeJob {
    std::string path, name;
    Bytes expected;
    std::atomic<int> failures{0};
};

// Opens its own handle and decodes its entry again and again.
void RunDecodeJob(DecodeJob* job) {
    vorx_Stream* s = nullptr;
    if (vorx_OpenStream(&s, job->path.c_str(), nullptr, 2) != vorx_Success) {
        ++job->failures;
        return;
    }
    Bytes out(job->expected.size());
    for (int round = 0; round < 10; ++round) {
        if (vorx_DecompressToPtr(s, job->name.c_str(), out.data(), nullptr, nullptr) != vorx_Success ||
            out != job->expected)
            ++job->failures;
    }
    vorx_CloseStream(s);
}

#ifdef _WIN32
DWORD WINAPI DecodeJobThread(LPVOID job) {
    RunDecodeJob(static_cast<DecodeJob*>(job));
    return 0;
}
#endif

}  // namespace

TEST(DecodeEntry, HandlesDecodeOnTwoThreadsAtOnce) {
    TempDir dir;
    TestArchive a;
    for (int i = 0; i < 2; ++i) {
        TestEntry e("entry " + std::to_string(i), WordText(200000, 10 + i));
        e.encoder = streams::CompressingEncoder(30000);
        a.entries.push_back(e);
    }
    vorx::test::WriteArchive(dir.File("a.vorx"), a);
    DecodeJob jobs[2];
    for (int i = 0; i < 2; ++i) {
        jobs[i].path = dir.File("a.vorx");
        jobs[i].name = a.entries[i].name;
        jobs[i].expected = a.entries[i].data;
    }
#ifdef _WIN32
    HANDLE threads[2];
    for (int i = 0; i < 2; ++i) threads[i] = CreateThread(nullptr, 0, &DecodeJobThread, &jobs[i], 0, nullptr);
    WaitForMultipleObjects(2, threads, TRUE, INFINITE);
    for (HANDLE t : threads) CloseHandle(t);
#else
    std::thread t0(RunDecodeJob, &jobs[0]), t1(RunDecodeJob, &jobs[1]);
    t0.join();
    t1.join();
#endif
    EXPECT_EQ(jobs[0].failures.load(), 0);
    EXPECT_EQ(jobs[1].failures.load(), 0);
}

TEST(DecryptBuffer, DecryptsWholeGroupsInPlaceAndNothingBeyondTheLength) {
    Bytes data = vorx::test::RandomBytes(48, 3);
    Bytes expected = data;
    vorx::BlowfishContext key;
    vorx::BlowfishSetPassword(&key, "pass word");
    vorx::BlowfishDecryptBlocks(&key, expected.data(), 32);
    Bytes once = data;
    vorx::DecryptBuffer(once.data(), 32, "pass word");
    EXPECT_EQ(once, expected);
    EXPECT_TRUE(std::equal(once.begin() + 32, once.end(), data.begin() + 32));
    // A prepared key gives the same; an odd length leaves its partial group alone.
    Bytes prepared = data;
    vorx::DecryptBuffer(prepared.data(), 37, key);
    EXPECT_EQ(prepared, expected);
}
