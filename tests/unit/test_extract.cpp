// Extraction to a file (vorx_DecompressToFile): contents, the file's times for each
// time kind, the refusals before anything is written (not found, password, free
// space), output files that cannot be created or written, the output window's limits,
// cancellation and what is left on disk after a failure.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
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
#include "library/output_window.h"
#include "library/stream.h"
#include "library/vorx.h"
#include "platform/platform.h"
#include "tests/support/stream_builder.h"
#include "tests/support/test_support.h"

using streams::Step;
using vorx::Bytes;
using vorx::test::Handle;
using vorx::test::ModificationTime;
using vorx::test::TempDir;
using vorx::test::TestArchive;
using vorx::test::TestEntry;
using vorx::test::WordText;

namespace {

bool Exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

struct Progress {
    std::vector<int> percents;
    vorx_Stream* handle = nullptr;
    size_t cancelAtCall = 0;
};

void VORX_CALL RecordProgress(void* user, int percent) {
    auto* p = static_cast<Progress*>(user);
    p->percents.push_back(percent);
    if (p->cancelAtCall == p->percents.size()) vorx_CancelOperation(p->handle);
}

// An archive made of the given entries, opened.
struct Fixture {
    TempDir dir;
    Handle handle;
    explicit Fixture(const TestArchive& archive) {
        vorx::test::WriteArchive(dir.File("a.vorx"), archive);
        EXPECT_EQ(handle.Open(dir.File("a.vorx")), vorx_Success);
    }
};

TestEntry Compressed(const std::string& name, Bytes data, size_t chunk = 1 << 20) {
    TestEntry e(name, std::move(data));
    e.encoder = streams::CompressingEncoder(chunk);
    return e;
}

}  // namespace

TEST(DecompressToFile, WritesTheEntrysBytes) {
    TestArchive a;
    a.entries = {TestEntry("empty", {}), TestEntry("stored", WordText(5000, 1)), Compressed("text", WordText(100000, 2)),
                 Compressed("blocks", WordText(300000, 3), 50000), Compressed("runs", Bytes(3 << 20, 'r'))};
    TestEntry secret = Compressed("secret", WordText(70000, 4), 20000);
    secret.password = "a long passphrase";
    a.entries.push_back(secret);
    Fixture f(a);
    for (const TestEntry& e : a.entries) {
        const std::string out = f.dir.File("out " + e.name);
        EXPECT_EQ(vorx_DecompressToFile(f.handle, e.name.c_str(), out.c_str(), nullptr,
                                        e.password ? e.password->c_str() : nullptr),
                  vorx_Success)
            << e.name;
        EXPECT_EQ(vorx::test::ReadFile(out), e.data) << e.name;
    }
    // An existing file is truncated and overwritten.
    const std::string out = f.dir.File("existing");
    vorx::test::WriteFile(out, Bytes(20000, 'x'));
    ASSERT_EQ(vorx_DecompressToFile(f.handle, "stored", out.c_str(), nullptr, nullptr), vorx_Success);
    EXPECT_EQ(vorx::test::ReadFile(out), a.entries[1].data);
}

TEST(DecompressToFile, SetsTheLastWriteTimeOfEachTimeKind) {
    vorx::test::SetTimeZone("UTC0");
    const int64_t utc = 1000000000;  // 2001-09-09
    TestArchive a;
    TestEntry kind1("kind 1", WordText(10, 1));
    kind1.timeKind = 1;
    kind1.time = static_cast<uint64_t>(utc);
    TestEntry kind2("kind 2", WordText(10, 2));
    kind2.timeKind = 2;  // local standard time; the zone is UTC here
    kind2.time = static_cast<uint64_t>(utc + 7200);
    TestEntry kind3("kind 3", WordText(10, 3));
    kind3.timeKind = 3;  // a FILETIME: the file gets the current time
    kind3.time = 131000000000000000ull;
    a.entries = {kind1, kind2, kind3};
    Fixture f(a);
    const std::string out1 = f.dir.File("1"), out2 = f.dir.File("2"), out3 = f.dir.File("3");
    ASSERT_EQ(vorx_DecompressToFile(f.handle, "kind 1", out1.c_str(), nullptr, nullptr), vorx_Success);
    ASSERT_EQ(vorx_DecompressToFile(f.handle, "kind 2", out2.c_str(), nullptr, nullptr), vorx_Success);
    const int64_t before = platform::CurrentTime();
    ASSERT_EQ(vorx_DecompressToFile(f.handle, "kind 3", out3.c_str(), nullptr, nullptr), vorx_Success);
    const int64_t after = platform::CurrentTime();
    EXPECT_EQ(ModificationTime(out1), utc);
    EXPECT_EQ(ModificationTime(out2), utc + 7200);
    EXPECT_GE(ModificationTime(out3), before);
    EXPECT_LE(ModificationTime(out3), after + 1);
}

TEST(DecompressToFile, RefusesBeforeCreatingOrTruncatingAnything) {
    TestArchive a;
    TestEntry secret("secret", WordText(100, 1));
    secret.password = "pw";
    a.entries = {secret, TestEntry("plain", WordText(100, 2))};
    Fixture f(a);
    const std::string out = f.dir.File("out");
    vorx::test::WriteFile(out, std::string("keep me"));
    EXPECT_EQ(vorx_DecompressToFile(f.handle, "missing", out.c_str(), nullptr, nullptr), vorx_NotFound);
    EXPECT_EQ(vorx_DecompressToFile(f.handle, "secret", out.c_str(), nullptr, nullptr), vorx_PasswordRequired);
    EXPECT_EQ(vorx::test::ReadFile(out), vorx::test::ToBytes("keep me"));
    const std::string fresh = f.dir.File("fresh");
    EXPECT_EQ(vorx_DecompressToFile(f.handle, "secret", fresh.c_str(), nullptr, nullptr), vorx_PasswordRequired);
    EXPECT_FALSE(Exists(fresh));
    EXPECT_EQ(vorx_DecompressToFile(nullptr, "plain", out.c_str(), nullptr, nullptr), vorx_InvalidArgument);
}

TEST(DecompressToFile, AnOutputFileThatCannotBeCreatedIsTwo) {
    TestArchive a;
    a.entries = {TestEntry("plain", WordText(100, 1))};
    Fixture f(a);
    // A missing folder (its free space is unknown, which is no reason to refuse).
    EXPECT_EQ(vorx_DecompressToFile(f.handle, "plain", f.dir.File("no such folder/out").c_str(), nullptr, nullptr),
              vorx_InvalidArgument);
    // A folder where the file should be.
    EXPECT_EQ(vorx_DecompressToFile(f.handle, "plain", f.dir.Path().c_str(), nullptr, nullptr),
              vorx_InvalidArgument);
}

TEST(DecompressToFile, AReadOnlyOutputFileIsTwo) {
    TestArchive a;
    a.entries = {TestEntry("plain", WordText(100, 1))};
    Fixture f(a);
    const std::string out = f.dir.File("read only");
    vorx::test::WriteFile(out, std::string("old"));
#ifdef _WIN32
    // A file in use by a program that lets nobody else write it.
    const int holder = _sopen(out.c_str(), _O_RDONLY | _O_BINARY, _SH_DENYRW);
    ASSERT_GE(holder, 0);
    EXPECT_EQ(vorx_DecompressToFile(f.handle, "plain", out.c_str(), nullptr, nullptr), vorx_InvalidArgument);
    _close(holder);
    // A read-only file, where the system enforces the attribute (Wine run by the
    // superuser does not: the file's owner may write it whatever its attribute).
    ASSERT_EQ(_chmod(out.c_str(), _S_IREAD), 0);
    const int probe = _open(out.c_str(), _O_RDWR | _O_BINARY);
    if (probe >= 0) {
        _close(probe);
        _chmod(out.c_str(), _S_IREAD | _S_IWRITE);
        GTEST_SKIP() << "this system lets a read-only file be written";
    }
    EXPECT_EQ(vorx_DecompressToFile(f.handle, "plain", out.c_str(), nullptr, nullptr), vorx_InvalidArgument);
    _chmod(out.c_str(), _S_IREAD | _S_IWRITE);
#else
    ASSERT_EQ(chmod(out.c_str(), 0444), 0);
    if (geteuid() != 0) {
        EXPECT_EQ(vorx_DecompressToFile(f.handle, "plain", out.c_str(), nullptr, nullptr), vorx_InvalidArgument);
    } else {
        // The superuser may write any file: try as an ordinary user, in a child process.
        ASSERT_EQ(chmod(f.dir.Path().c_str(), 0755), 0);
        ASSERT_EQ(chmod(f.dir.File("a.vorx").c_str(), 0644), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (setgid(65534) != 0 || setuid(65534) != 0) _exit(100);
            vorx_Stream* s = nullptr;
            if (vorx_OpenStream(&s, f.dir.File("a.vorx").c_str(), nullptr, 2) != vorx_Success) _exit(101);
            const vorx_Error e = vorx_DecompressToFile(s, "plain", out.c_str(), nullptr, nullptr);
            vorx_CloseStream(s);
            _exit(e);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), vorx_InvalidArgument);
    }
#endif
    EXPECT_EQ(vorx::test::ReadFile(out), vorx::test::ToBytes("old"));
}

TEST(DecompressToFile, AFailingWriteIsFifteen) {
    // The sink reports a write that fails or falls short.
    vorx_Stream stream{};
    stream.outputFile = -1;
    const uint8_t bytes[3] = {1, 2, 3};
    EXPECT_EQ(vorx::WriteToOutputFile(&stream, bytes, 3), vorx_WriteFailed);
    EXPECT_EQ(vorx::WriteToOutputFile(&stream, bytes, 0), vorx_Success);
#ifndef _WIN32
    // A device that is always full.
    if (!Exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    TestArchive a;
    a.entries = {TestEntry("stored", WordText(100, 1)), Compressed("compressed", WordText(5000, 2))};
    Fixture f(a);
    EXPECT_EQ(vorx_DecompressToFile(f.handle, "stored", "/dev/full", nullptr, nullptr), vorx_WriteFailed);
    EXPECT_EQ(vorx_DecompressToFile(f.handle, "compressed", "/dev/full", nullptr, nullptr), vorx_WriteFailed);
#endif
}

TEST(DecompressToFile, AnEntryLargerThanTheFreeSpaceIsRefused) {
    TempDir dir;
    vorx::test::DamagingWriter w;
    vorx::EntryOptions entry;
    entry.name = "huge";
    vorx::test::RecordOverrides overrides;
    overrides.uncompressedSize = 1ull << 62;  // no volume has that much room
    ASSERT_TRUE(w.Create(dir.File("a.vorx")) && w.BeginArchive() && w.BeginEntry(entry) && w.Write("abc", 3) &&
                w.EndEntry(overrides) && w.Finish())
        << w.Error();
    Handle h;
    ASSERT_EQ(h.Open(dir.File("a.vorx")), vorx_Success);
    const std::string out = dir.File("out");
    EXPECT_EQ(vorx_DecompressToFile(h, "huge", out.c_str(), nullptr, nullptr), vorx_OutOfDiskSpace);
    EXPECT_FALSE(Exists(out));
}

TEST(FreeSpaceForPath, MeasuresTheFolderOfThePath) {
    TempDir dir;
    uint64_t direct = 0;
    ASSERT_TRUE(platform::FreeBytesForFolder(dir.Path().c_str(), &direct));
    std::vector<std::string> paths = {dir.Path() + "/file"};
#ifdef _WIN32
    paths.push_back(dir.Path() + "\\file");
#endif
    for (const std::string& path : paths) {
        const vorx::FreeSpace space = vorx::FreeSpaceForPath(path.c_str());
        ASSERT_TRUE(space.known) << path;
        // The same volume: equal but for what other programs write meanwhile.
        const uint64_t delta = space.bytes > direct ? space.bytes - direct : direct - space.bytes;
        EXPECT_LT(delta, 64ull << 20) << path;
    }
    // No folder part: the current folder's volume, which is known.
    EXPECT_TRUE(vorx::FreeSpaceForPath("bare name").known);
    // A folder that does not exist: unknown.
    EXPECT_FALSE(vorx::FreeSpaceForPath((dir.Path() + "/missing/folder/file").c_str()).known);
    // A folder part longer than any fixed buffer is still measured.
    std::string longPath = dir.Path();
    for (int i = 0; i < 40; ++i) longPath += "/.";
    longPath += "/" + std::string(100, 'f');
    EXPECT_TRUE(vorx::FreeSpaceForPath(longPath.c_str()).known);
}

TEST(DecompressToFile, AnEmptyEntryNeedsNoFolderPartAndNoFreeSpace) {
    TestArchive a;
    a.entries = {TestEntry("empty", {})};
    Fixture f(a);
    char cwd[4096];
#ifdef _WIN32
    ASSERT_NE(_getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(_chdir(f.dir.Path().c_str()), 0);
#else
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(f.dir.Path().c_str()), 0);
#endif
    const vorx_Error e = vorx_DecompressToFile(f.handle, "empty", "bare output", nullptr, nullptr);
#ifdef _WIN32
    ASSERT_EQ(_chdir(cwd), 0);
#else
    ASSERT_EQ(chdir(cwd), 0);
#endif
    EXPECT_EQ(e, vorx_Success);
    EXPECT_TRUE(Exists(f.dir.File("bare output")));
    EXPECT_TRUE(vorx::test::ReadFile(f.dir.File("bare output")).empty());
}

TEST(DecompressToFile, CancellingAMultiBlockEntryLeavesThePartialFile) {
    TestArchive a;
    a.entries = {Compressed("one", WordText(60000, 1)), Compressed("many", WordText(60000, 2), 20000)};
    Fixture f(a);
    Progress p;
    p.handle = f.handle;
    ASSERT_EQ(vorx_SetUserData(f.handle, &p), vorx_Success);
    const std::string out = f.dir.File("out");
    p.cancelAtCall = 2;
    EXPECT_EQ(vorx_DecompressToFile(f.handle, "one", out.c_str(), &RecordProgress, nullptr), vorx_Success);
    EXPECT_EQ(vorx::test::ReadFile(out), a.entries[0].data);
    p.percents.clear();
    const int64_t staleTime = 1000;
    platform::SetFileTimes(out.c_str(), staleTime, staleTime);
    EXPECT_EQ(vorx_DecompressToFile(f.handle, "many", out.c_str(), &RecordProgress, nullptr), vorx_InvalidArgument);
    const Bytes left = vorx::test::ReadFile(out);
    ASSERT_EQ(left.size(), 20000u);  // the first block, and nothing after it
    EXPECT_TRUE(std::equal(left.begin(), left.end(), a.entries[1].data.begin()));
    EXPECT_NE(ModificationTime(out), staleTime);  // rewritten; its time is not set
}

// The handle keeps one output window for all its file extractions: grown by a large
// block, it serves smaller entries after it without their files taking any of the
// bytes left in it, and it survives a cancelled extraction.
TEST(DecompressToFile, OneWindowServesEntryAfterEntry) {
    TestArchive a;
    a.entries = {Compressed("large", WordText(5 << 20, 7), 8 << 20), Compressed("small", WordText(700, 8)),
                 Compressed("many", WordText(60000, 9), 20000), TestEntry("stored", WordText(3000, 10)),
                 TestEntry("empty", {})};
    Fixture f(a);
    const auto extract = [&](const TestEntry& e) {
        const std::string out = f.dir.File("out " + e.name);
        EXPECT_EQ(vorx_DecompressToFile(f.handle, e.name.c_str(), out.c_str(), nullptr, nullptr), vorx_Success)
            << e.name;
        EXPECT_EQ(vorx::test::ReadFile(out), e.data) << e.name;
    };
    extract(a.entries[0]);
    const vorx::OutputWindow* window = f.handle.get()->outputWindow;
    ASSERT_NE(window, nullptr);
    EXPECT_GE(window->committedBytes(), 5u << 20);
    extract(a.entries[1]);
    extract(a.entries[4]);

    Progress p;
    p.handle = f.handle;
    p.cancelAtCall = 2;
    ASSERT_EQ(vorx_SetUserData(f.handle, &p), vorx_Success);
    EXPECT_EQ(vorx_DecompressToFile(f.handle, "many", f.dir.File("cancelled").c_str(), &RecordProgress, nullptr),
              vorx_InvalidArgument);
    for (const TestEntry& e : a.entries) extract(e);
    EXPECT_EQ(f.handle.get()->outputWindow, window);
}

TEST(DecompressToFile, BlocksThatProduceMoreThanTheDeclaredSizeAreCorrupt) {
    TempDir dir;
    vorx::test::DamagingWriter w;
    vorx::EntryOptions entry;
    entry.name = "liar";
    entry.encoder = streams::CompressingEncoder(10000);
    const Bytes data = WordText(30000, 5);
    vorx::test::RecordOverrides overrides;
    overrides.uncompressedSize = 25000;
    ASSERT_TRUE(w.Create(dir.File("a.vorx")) && w.BeginArchive() && w.BeginEntry(entry) &&
                w.Write(data.data(), data.size()) && w.EndEntry(overrides) && w.Finish())
        << w.Error();
    Handle h;
    ASSERT_EQ(h.Open(dir.File("a.vorx")), vorx_Success);
    const std::string out = dir.File("out");
    EXPECT_EQ(vorx_DecompressToFile(h, "liar", out.c_str(), nullptr, nullptr), vorx_CorruptArchive);
    // The blocks before the one that would overflow were written, nothing beyond.
    const Bytes left = vorx::test::ReadFile(out);
    EXPECT_EQ(left.size(), 20000u);
    EXPECT_TRUE(std::equal(left.begin(), left.end(), data.begin()));
}

TEST(DecompressToFile, OneBlockMayProduceAtMost64MiB) {
    // "aaaa" and matches of one byte back: any output size from a few hundred bytes.
    auto block = [](uint64_t total) {
        std::vector<Step> steps;
        for (char c : std::string("aaaa")) steps.push_back(Step{false, static_cast<uint8_t>(c), 0});
        uint64_t left = total - 4;
        while (left > 0) {
            const uint32_t length = static_cast<uint32_t>(left < 8000000 ? left : 8000000);
            steps.push_back(Step{true, length, 0});
            left -= length;
        }
        return steps;
    };
    TempDir dir;
    vorx::test::DamagingWriter w;
    ASSERT_TRUE(w.Create(dir.File("a.vorx")) && w.BeginArchive());
    const uint64_t sizes[] = {(64ull << 20) + 1, 10ull << 20};
    const char* names[] = {"too big", "grows"};
    for (int i = 0; i < 2; ++i) {
        uint32_t bits = 0;
        Bytes body = streams::EncodeSteps(block(sizes[i]), &bits);
        Bytes raw(4);
        vorx::WriteLe32(raw.data(), (bits << 3) | 1);
        raw.insert(raw.end(), body.begin(), body.end());
        std::string expected(sizes[i], 'a');
        vorx::EntryOptions entry;
        entry.name = names[i];
        vorx::test::RecordOverrides overrides;
        overrides.uncompressedSize = sizes[i];
        overrides.crc32 = vorx::Crc32::Of(expected.data(), expected.size());
        ASSERT_TRUE(w.BeginEntry(entry) && w.WriteRaw(raw.data(), raw.size()) && w.EndEntry(overrides)) << w.Error();
    }
    ASSERT_TRUE(w.Finish());
    Handle h;
    ASSERT_EQ(h.Open(dir.File("a.vorx")), vorx_Success);
    EXPECT_EQ(vorx_DecompressToFile(h, "too big", dir.File("big").c_str(), nullptr, nullptr), vorx_Unknown);
    // Memory has no such limit, only the caller's buffer.
    Bytes memory(static_cast<size_t>(sizes[0]));
    EXPECT_EQ(vorx_DecompressToPtr(h, "too big", memory.data(), nullptr, nullptr), vorx_Success);
    memory.clear();
    memory.shrink_to_fit();
    // 10 MiB: beyond the 2 MiB the window starts with.
    ASSERT_EQ(vorx_DecompressToFile(h, "grows", dir.File("grows").c_str(), nullptr, nullptr), vorx_Success);
    EXPECT_EQ(vorx::test::ReadFile(dir.File("grows")), Bytes(static_cast<size_t>(sizes[1]), 'a'));
}

TEST(OutputWindow, GrowsInStepsUpToItsLimit) {
    vorx::OutputWindow window;
    ASSERT_TRUE(window.Create(512, 4096, 32768));
    EXPECT_EQ(window.committedBytes(), 2u << 20);
    vorx::OutputWindow::Target t = window.MakeTarget();
    EXPECT_EQ(t.target.base, window.base());
    EXPECT_EQ(t.target.capacity, 2u << 20);
    // Room one byte beyond the start grows by one step of 512 KiB.
    ASSERT_EQ(t.target.reserve(&t.target, (2u << 20) + 1), vorx_Success);
    EXPECT_EQ(window.committedUnits(), 512u + 128u);
    EXPECT_EQ(t.target.capacity, (2u << 20) + (512u << 10));
    window.base()[t.target.capacity - 1] = 7;  // usable to its end
    // Up to exactly 64 MiB, and not a byte more.
    ASSERT_EQ(t.target.reserve(&t.target, 64u << 20), vorx_Success);
    EXPECT_EQ(window.committedBytes(), 64u << 20);
    window.base()[(64u << 20) - 1] = 7;
    EXPECT_EQ(t.target.reserve(&t.target, (64u << 20) + 1), vorx_Unknown);
    window.Release();
    EXPECT_EQ(window.base(), nullptr);
    // The unit size is rounded up to whole pages.
    ASSERT_TRUE(window.Create(2, 100, 4));
    EXPECT_EQ(window.committedBytes(), 8192u);
    EXPECT_TRUE(window.Grow(2));
    EXPECT_FALSE(window.Grow(1));  // full
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

namespace {

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

}  // namespace

TEST(OutOfMemory, MemoryThatCannotBeHadIsEleven) {
    TestArchive a;
    a.entries = {Compressed("compressed", WordText(20000, 1))};
    Fixture f(a);
    vorx_Stream* h = f.handle;
    const std::string out = f.dir.File("out");
    // The output window's 128 MiB of address space.
    EXPECT_EQ(WithLittleMemory(16u << 20, [&] {
                  return vorx_DecompressToFile(h, "compressed", out.c_str(), nullptr, nullptr);
              }),
              vorx_OutOfMemory);
    // The context table, made at the handle's first compressed block.
    Bytes memory(20000);
    EXPECT_EQ(WithLittleMemory(64u << 10, [&] {
                  return vorx_DecompressToPtr(h, "compressed", memory.data(), nullptr, nullptr);
              }),
              vorx_OutOfMemory);
    // With memory, the same calls succeed.
    EXPECT_EQ(vorx_DecompressToPtr(h, "compressed", memory.data(), nullptr, nullptr), vorx_Success);
    EXPECT_EQ(memory, a.entries[0].data);
}
#endif
