// Memory that cannot be had is 11 in the library and exit code 8 in the tool: the open,
// whose handle comes from the global non-throwing operator new (replaced here so that it
// can be made to fail), the decoder's context table and output window, and the tool's
// `t` and `x` under an address-space limit.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <new>

#include "library/vorx.h"
#include "tests/support/stream_builder.h"
#include "tests/support/test_support.h"

namespace {
std::atomic<bool> failNothrowNew{false};
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (failNothrowNew.load()) return nullptr;
    try {
        return ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}

namespace vorx {
namespace {

TEST(OutOfMemory, OpenReportsElevenAndANullHandle) {
    test::TempDir dir;
    const std::string path = dir.File("a.vorx");
    test::TestArchive a;
    a.entries.push_back(test::TestEntry("x", test::ToBytes("data")));
    test::WriteArchive(path, a);

    failNothrowNew = true;
    vorx_Stream* handle = reinterpret_cast<vorx_Stream*>(uintptr_t{1});
    const vorx_Error e = vorx_OpenStream(&handle, path.c_str(), nullptr, 2);
    failNothrowNew = false;
    EXPECT_EQ(e, vorx_OutOfMemory);
    EXPECT_EQ(handle, nullptr);

    // Nothing was left open: the archive can still be replaced and opened again.
    test::WriteArchive(path, a);
    test::Handle h;
    EXPECT_EQ(h.Open(path), vorx_Success);
    EXPECT_EQ(vorx_GetNumFiles(h), 1u);
}

}  // namespace
}  // namespace vorx

// An address-space limit in a child process makes allocations fail (POSIX; the build
// leaves it out under the address sanitizer, which needs address space of its own).
#ifdef VORX_ADDRESS_LIMIT
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vorx {
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
        const rlim_t limit =
            static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + headroom;
        const struct rlimit r = {limit, limit};
        if (setrlimit(RLIMIT_AS, &r) != 0) _exit(101);
        _exit(call());
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

TEST(OutOfMemory, TheDecodersMemoryIsEleven) {
    test::TempDir dir;
    test::TestEntry entry("compressed", test::WordText(20000, 1));
    entry.encoder = test::PackingEncoder(1 << 20);
    test::WriteArchive(dir.File("a.vorx"), test::TestArchive{{entry}, {}, {}});
    test::Handle h;
    ASSERT_EQ(h.Open(dir.File("a.vorx")), vorx_Success);
    const std::string out = dir.File("out");
    Bytes memory(20000);
    const auto toFile = [&] {
        return vorx_DecompressToFile(h, "compressed", out.c_str(), nullptr, nullptr);
    };
    const auto toMemory = [&] {
        return vorx_DecompressToPtr(h, "compressed", memory.data(), nullptr, nullptr);
    };
    // The output window's 128 MiB of address space, then the context table, made at the
    // handle's first compressed block.
    EXPECT_EQ(WithLittleMemory(16u << 20, toFile), vorx_OutOfMemory);
    EXPECT_EQ(WithLittleMemory(64u << 10, toMemory), vorx_OutOfMemory);
    EXPECT_EQ(toMemory(), vorx_Success);
    EXPECT_EQ(memory, entry.data);
}

#ifdef VORX_TOOL
// An entry of 60 MiB: `t` decodes it in memory, `x` through the output window. Under a
// limit of 48 MiB of address space both fail with exit code 8 and say why, and `x`
// leaves no file; without the limit both succeed.
TEST(OutOfMemory, TheToolExitsWithEight) {
    test::TempDir dir;
    const std::string archive = dir.File("a.vx"), out = dir.File("out"), log = dir.File("log");
    test::TestArchive a;
    a.entries.push_back(
        test::TestEntry("a.bin", Bytes(60u << 20, 'a'), streams::RunOfA(60u << 20)));
    test::WriteArchive(archive, a);
    for (const char* limit : {"49152", "unlimited"}) {
        for (const std::string& command :
             {"t '" + archive + "'", "x '" + archive + "' -o '" + out + "'"}) {
            std::filesystem::remove_all(out);
            const std::string shell = "ulimit -v " + std::string(limit) + "; '" VORX_TOOL "' " +
                                      command + " -j 1 >'" + log + "' 2>&1";
            const int status = std::system(shell.c_str());
            const std::string output = test::ReadText(log),
                              where = command + " under " + limit + ":\n" + output;
            const bool limited = limit[0] != 'u';
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == (limited ? 8 : 0)) << where;
            EXPECT_EQ(output.find("failed to allocate enough memory") != std::string::npos, limited)
                << where;
            EXPECT_EQ(std::filesystem::exists(out + "/a.bin"), !limited && command[0] == 'x')
                << where;
        }
    }
}
#endif

}  // namespace
}  // namespace vorx
#endif
