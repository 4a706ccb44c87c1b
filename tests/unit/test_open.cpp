// Opening archives: the results the conformance sample does not reach (one row per
// damage or password), a null handle and no descriptor left on every failure, and the
// arguments.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include "tests/support/test_support.h"
#include "writer/archive_parts.h"

namespace vorx::test {
namespace {

TestArchive ThreeEntries() {
    TestArchive a;
    a.entries = {TestEntry{"one.txt", ToBytes("first entry")},
                 TestEntry{"dir\\two.bin", RandomBytes(100, 1)},
                 TestEntry{"three", RandomBytes(33, 2)}};
    return a;
}

void ExpectOpen(const std::string& path, const char* password, vorx_Error expected,
                uint32_t mode = 2) {
    const OpenOutcome outcome = TryOpen(path, password, mode);
    EXPECT_EQ(outcome.code, expected)
        << path << " password " << (password ? password : "(none)") << " mode " << mode;
    EXPECT_EQ(outcome.nullHandle, expected != vorx_Success);
}

// Its 72nd byte differs from its first, so that a key of 71 bytes cycled is not the key of 72.
const std::string kLong = [] {
    std::string s;
    while (s.size() < 300) s += "0123456789abcdefghijklmnopq";
    return s;
}();
const std::string kLong72 = kLong.substr(0, 72), kLong71 = kLong.substr(0, 71);
const auto kJoined = static_cast<uint32_t>(JoinNames({"one.txt", "dir\\two.bin", "three"}).size());

// A row names only the directory fields it damages.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
struct OpenRow {
    DamagedDirectory directory;
    const char* password;
    vorx_Error expected;
    bool noEntries = false;
};

const OpenRow kRows[] = {
    // An entry count beyond the records reads the directory as a record of garbage
    // size; fewer looks for the directory in the wrong place, where a plain "table" opens.
    {{.entryCount = 4}, nullptr, vorx_CorruptArchive},
    {{.entryCount = UINT64_MAX}, nullptr, vorx_CorruptArchive},
    {{.entryCount = 2}, nullptr, vorx_Success},
    // Encrypted names (a wrong password, none and a damaged plain table are the
    // sample's): the empty password is a password; passwords are cut to 255 bytes and
    // keys to 72.
    {{.password = "correct horse"}, "", vorx_CrcMismatch},
    {{.password = ""}, nullptr, vorx_PasswordRequired},
    {{.password = ""}, "", vorx_Success},
    {{.password = ""}, "x", vorx_CrcMismatch},
    {{.password = kLong}, kLong.c_str(), vorx_Success},
    {{.password = kLong}, kLong72.c_str(), vorx_Success},
    {{.password = kLong}, kLong71.c_str(), vorx_CrcMismatch},
    // Only the names' length rounded up to 16 counts.
    {{.password = "pw", .namesLength = kJoined - 1 - (kJoined - 1) % 16 + 1}, "pw", vorx_Success},
    // No names to decrypt: the CRC of no bytes is 0, so any password passes, unless
    // the stored CRC is not 0.
    {{.password = "anything"}, "whatever", vorx_Success, true},
    {{.password = "anything"}, nullptr, vorx_PasswordRequired, true},
    {{.password = "anything", .namesCrc = 1}, "anything", vorx_CrcMismatch, true},
};

TEST(Open, EveryDamageAndPassword) {
#ifndef _WIN32
    rlimit files{};  // few descriptors, so that a leak shows within one row's repetitions
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = std::min<rlim_t>(files.rlim_cur, 256);
    setrlimit(RLIMIT_NOFILE, &files);
#endif
    TempDir dir;
    const std::string path = dir.File("a.vorx");
    for (const OpenRow& row : kRows) {
        TestArchive a = ThreeEntries();
        a.directory = row.directory;
        if (row.noEntries) a.entries.clear();
        WriteArchive(path, a);
        SCOPED_TRACE("row " + std::to_string(&row - kRows));
        // Failures come after the file was opened: a descriptor leaked by each would
        // exhaust the process's descriptors long before the last repetition.
        for (int i = row.expected == vorx_Success ? 1 : 400; i > 0; --i)
            ExpectOpen(path, row.password, row.expected);
    }
}

TEST(Open, ArgumentsAndFilesWithoutAnArchive) {
    TempDir dir;
    const std::string path = dir.File("a.vorx");
    WriteArchive(path, ThreeEntries());
    for (uint32_t mode : {0u, 4u, 8u, 12u, 0x100u, 1u | 4u, 1u | 8u, 3u | 4u, 3u | 12u})
        ExpectOpen(path, nullptr, vorx_InvalidArgument, mode);
    for (uint32_t mode : {1u, 2u, 3u, 2u | 4u, 2u | 8u, 2u | 0x100u, 1u | 0x10u})
        ExpectOpen(path, nullptr, vorx_Success, mode);
    EXPECT_EQ(vorx_OpenStream(nullptr, path.c_str(), nullptr, 2), vorx_InvalidArgument);
    ExpectOpen(std::string(255, 'q'), nullptr, vorx_NotFound);  // fits, and does not exist
    ExpectOpen(std::string(256, 'q'), nullptr, vorx_InvalidArgument);
    ExpectOpen(dir.File("missing.vorx"), nullptr, vorx_NotFound);
    ExpectOpen(dir.Path(), nullptr, vorx_NotFound);
    for (const Bytes& plain :
         {RandomBytes(5000, 9), Bytes(), Bytes{'V', 'O', 'R', 'X', 2, 0, 0, 0x8F}}) {
        WriteFile(path, plain);
        ExpectOpen(path, nullptr, vorx_NotFound);
    }
    // The operations refuse a null handle.
    int value = 0;
    EXPECT_EQ(vorx_SetUserData(nullptr, &value), vorx_InvalidArgument);
    EXPECT_EQ(vorx_CancelOperation(nullptr), vorx_InvalidArgument);
    EXPECT_EQ(vorx_GetNumFiles(nullptr), 0u);
    EXPECT_EQ(vorx_CloseStream(nullptr), vorx_InvalidArgument);
}

}  // namespace
}  // namespace vorx::test
