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

namespace vorx {
namespace {

using test::TestArchive;
using test::TestEntry;

TestArchive ThreeEntries() {
    TestArchive a;
    a.entries = {TestEntry{"one.txt", test::ToBytes("first entry")},
                 TestEntry{"dir\\two.bin", test::RandomBytes(100, 1)},
                 TestEntry{"three", test::RandomBytes(33, 2)}};
    return a;
}

void ExpectOpen(const std::string& path, const char* password, vorx_Error expected,
                uint32_t mode = 2) {
    const test::OpenOutcome outcome = test::TryOpen(path, password, mode);
    EXPECT_EQ(outcome.code, expected)
        << path << " password " << (password ? password : "(none)") << " mode " << mode;
    EXPECT_EQ(outcome.nullHandle, expected != vorx_Success);
}

// Its 72nd byte differs from its first, so that a key of 71 bytes cycled is not the key of 72.
std::string Long() {
    std::string s;
    while (s.size() < 300) s += "0123456789abcdefghijklmnopq";
    return s;
}
const std::string kLong = Long();
const std::string kLong72 = kLong.substr(0, 72), kLong71 = kLong.substr(0, 71);

struct OpenRow {
    void (*damage)(TestArchive&);
    const char* password;
    vorx_Error expected;
};

void Encrypt(TestArchive& a) { a.directory.password = "correct horse"; }
void EncryptEmpty(TestArchive& a) { a.directory.password = ""; }
void EncryptLong(TestArchive& a) { a.directory.password = kLong; }
// Only the length rounded up to 16 counts.
void EncryptLengthSameUnit(TestArchive& a) {
    const uint32_t joined =
        static_cast<uint32_t>(JoinNames({"one.txt", "dir\\two.bin", "three"}).size());
    a.directory.password = "pw", a.directory.namesLength = joined - 1 - (joined - 1) % 16 + 1;
}
void EncryptNoNames(TestArchive& a) { a.entries.clear(), a.directory.password = "anything"; }
void EncryptNoNamesCrc1(TestArchive& a) { EncryptNoNames(a), a.directory.namesCrc = 1; }
void Count4(TestArchive& a) { a.directory.entryCount = 4; }
void CountMax(TestArchive& a) { a.directory.entryCount = UINT64_MAX; }
void Count2(TestArchive& a) { a.directory.entryCount = 2; }

const OpenRow kRows[] = {
    // An entry count beyond the records reads the directory as a record of garbage
    // size; fewer looks for the directory in the wrong place, where a plain "table" opens.
    {Count4, nullptr, vorx_CorruptArchive},
    {CountMax, nullptr, vorx_CorruptArchive},
    {Count2, nullptr, vorx_Success},
    // Encrypted names (a wrong password, none and a damaged plain table are the
    // sample's): the empty password is a password; passwords are cut to 255 bytes and
    // keys to 72.
    {Encrypt, "", vorx_CrcMismatch},
    {EncryptEmpty, nullptr, vorx_PasswordRequired},
    {EncryptEmpty, "", vorx_Success},
    {EncryptEmpty, "x", vorx_CrcMismatch},
    {EncryptLong, kLong.c_str(), vorx_Success},
    {EncryptLong, kLong72.c_str(), vorx_Success},
    {EncryptLong, kLong71.c_str(), vorx_CrcMismatch},
    {EncryptLengthSameUnit, "pw", vorx_Success},
    // No names to decrypt: the CRC of no bytes is 0, so any password passes, unless
    // the stored CRC is not 0.
    {EncryptNoNames, "whatever", vorx_Success},
    {EncryptNoNames, nullptr, vorx_PasswordRequired},
    {EncryptNoNamesCrc1, "anything", vorx_CrcMismatch},
};

TEST(Open, EveryDamageAndPassword) {
#ifndef _WIN32
    rlimit files{};  // few descriptors, so that a leak shows within one row's repetitions
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = std::min<rlim_t>(files.rlim_cur, 256);
    setrlimit(RLIMIT_NOFILE, &files);
#endif
    test::TempDir dir;
    const std::string path = dir.File("a.vorx");
    for (const OpenRow& row : kRows) {
        TestArchive a = ThreeEntries();
        if (row.damage) row.damage(a);
        test::WriteArchive(path, a);
        SCOPED_TRACE("row " + std::to_string(&row - kRows));
        // Failures come after the file was opened: a descriptor leaked by each would
        // exhaust the process's descriptors long before the last repetition.
        for (int i = row.expected == vorx_Success ? 1 : 400; i > 0; --i)
            ExpectOpen(path, row.password, row.expected);
    }
}

TEST(Open, ArgumentsAndFilesWithoutAnArchive) {
    test::TempDir dir;
    const std::string path = dir.File("a.vorx");
    test::WriteArchive(path, ThreeEntries());
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
         {test::RandomBytes(5000, 9), Bytes(), Bytes{'V', 'O', 'R', 'X', 2, 0, 0, 0x8F}}) {
        test::WriteFile(path, plain);
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
}  // namespace vorx
