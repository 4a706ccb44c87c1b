// Opening archives: the result of every way an open can go (one row per damage or
// password), a null handle on every failure, nothing left behind, and the arguments.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

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

void ExpectOpen(const std::string& path, const char* password, vorx_Error expected, uint32_t mode = 2) {
    const test::OpenOutcome outcome = test::TryOpen(path, password, mode);
    EXPECT_EQ(outcome.code, expected) << path << " password " << (password ? password : "(none)") << " mode " << mode;
    EXPECT_EQ(outcome.nullHandle, expected != vorx_Success);
}

const std::string kLong = [] {
    std::string s;
    while (s.size() < 300) s += "0123456789abcdefghijklmnopq";
    return s;
}();
const std::string kLong72 = kLong.substr(0, 72), kLong71 = kLong.substr(0, 71);

// Where an archive is cut: nowhere, or `delta` bytes behind a place in it.
enum Place { kWhole, kStart, kRecord0, kRecord1, kRecord2, kDirectory };

struct OpenRow {
    void (*damage)(TestArchive&);
    Place place;
    int delta;
    const char* password;
    vorx_Error expected;
};

void Encrypt(TestArchive& a) { a.directory.password = "correct horse"; }
void EncryptEmpty(TestArchive& a) { a.directory.password = ""; }
void EncryptLong(TestArchive& a) { a.directory.password = kLong; }
void EncryptTrailing(TestArchive& a) { a.directory.password = "pw", a.directory.trailing = {0}; }
void EncryptLength1000(TestArchive& a) { a.directory.password = "pw", a.directory.namesLength = 1000; }
// Only the length rounded up to 16 counts.
void EncryptLengthSameUnit(TestArchive& a) {
    const uint32_t joined = static_cast<uint32_t>(JoinNames({"one.txt", "dir\\two.bin", "three"}).size());
    a.directory.password = "pw", a.directory.namesLength = joined - 1 - (joined - 1) % 16 + 1;
}
void EncryptWrongCrc(TestArchive& a) { a.directory.password = "pw", a.directory.namesCrc = 12345; }
void EncryptNoNames(TestArchive& a) { a.entries.clear(), a.directory.password = "anything"; }
void EncryptNoNamesCrc1(TestArchive& a) { EncryptNoNames(a), a.directory.namesCrc = 1; }
void PlainTableDamaged(TestArchive& a) {
    a.directory.namesCrc = 0xDEADBEEF, a.directory.namesLength = 3, a.directory.trailing = {1, 2, 3};
}
void Count4(TestArchive& a) { a.directory.entryCount = 4; }
void CountMax(TestArchive& a) { a.directory.entryCount = UINT64_MAX; }
void Count2(TestArchive& a) { a.directory.entryCount = 2; }
void Older(TestArchive& a) { a.version = kVersionFormat1; }

const OpenRow kRows[] = {
    {nullptr, kWhole, 0, nullptr, vorx_Success},
    {nullptr, kWhole, 0, "a password nobody needs", vorx_Success},
    // Cut inside the header (long enough for the signature): 13; inside or between
    // records, or in the directory header: 3; after the directory header the plain
    // names table is not checked.
    {nullptr, kStart, 9, nullptr, vorx_ReadFailed},
    {nullptr, kStart, 23, nullptr, vorx_ReadFailed},
    {nullptr, kRecord0, 0, nullptr, vorx_CorruptArchive},
    {nullptr, kRecord0, 1, nullptr, vorx_CorruptArchive},
    {nullptr, kRecord0, 39, nullptr, vorx_CorruptArchive},
    {nullptr, kRecord0, 45, nullptr, vorx_CorruptArchive},
    {nullptr, kRecord1, 0, nullptr, vorx_CorruptArchive},
    {nullptr, kRecord2, 20, nullptr, vorx_CorruptArchive},
    {nullptr, kDirectory, -1, nullptr, vorx_CorruptArchive},
    {nullptr, kDirectory, 0, nullptr, vorx_CorruptArchive},
    {nullptr, kDirectory, 11, nullptr, vorx_CorruptArchive},
    {nullptr, kDirectory, 12, nullptr, vorx_Success},
    // An entry count beyond the records reads the directory as a record of garbage
    // size; fewer looks for the directory in the wrong place, where a plain "table" opens.
    {Count4, kWhole, 0, nullptr, vorx_CorruptArchive},
    {CountMax, kWhole, 0, nullptr, vorx_CorruptArchive},
    {Count2, kWhole, 0, nullptr, vorx_Success},
    {PlainTableDamaged, kWhole, 0, nullptr, vorx_Success},
    {PlainTableDamaged, kWhole, 0, "pw", vorx_Success},
    // Encrypted names: 10 without a password, 9 for a wrong one; the key cycles, so the
    // password twice is the same key; the empty password is a password; passwords are
    // cut to 255 bytes and keys to 72.
    {Encrypt, kWhole, 0, nullptr, vorx_PasswordRequired},
    {Encrypt, kWhole, 0, "wrong horse", vorx_CrcMismatch},
    {Encrypt, kWhole, 0, "", vorx_CrcMismatch},
    {Encrypt, kWhole, 0, "correct horse", vorx_Success},
    {Encrypt, kWhole, 0, "correct horsecorrect horse", vorx_Success},
    {EncryptEmpty, kWhole, 0, nullptr, vorx_PasswordRequired},
    {EncryptEmpty, kWhole, 0, "", vorx_Success},
    {EncryptEmpty, kWhole, 0, "x", vorx_CrcMismatch},
    {EncryptLong, kWhole, 0, kLong.c_str(), vorx_Success},
    {EncryptLong, kWhole, 0, kLong72.c_str(), vorx_Success},
    {EncryptLong, kWhole, 0, kLong71.c_str(), vorx_CrcMismatch},
    // An encrypted table of the wrong length is 3 whatever the password (10 without).
    {EncryptTrailing, kWhole, 0, nullptr, vorx_PasswordRequired},
    {EncryptTrailing, kWhole, 0, "pw", vorx_CorruptArchive},
    {EncryptTrailing, kWhole, 0, "other", vorx_CorruptArchive},
    {EncryptLength1000, kWhole, 0, "pw", vorx_CorruptArchive},
    {EncryptLengthSameUnit, kWhole, 0, "pw", vorx_Success},
    {EncryptWrongCrc, kWhole, 0, "pw", vorx_CrcMismatch},
    // No names to decrypt: the CRC of no bytes is 0, so any password passes, unless
    // the stored CRC is not 0.
    {EncryptNoNames, kWhole, 0, "whatever", vorx_Success},
    {EncryptNoNames, kWhole, 0, nullptr, vorx_PasswordRequired},
    {EncryptNoNamesCrc1, kWhole, 0, "anything", vorx_CrcMismatch},
    // Of an older archive only the header is read.
    {Older, kWhole, 0, nullptr, vorx_Success},
    {Older, kStart, 25, nullptr, vorx_Success},
};

TEST(Open, EveryDamageAndPassword) {
    test::TempDir dir;
    const std::string path = dir.File("a.vorx");
    for (const OpenRow& row : kRows) {
        TestArchive a = ThreeEntries();
        if (row.damage) row.damage(a);
        Bytes bytes = test::ArchiveBytes(a);
        size_t at[6] = {bytes.size(), 0, kArchiveHeaderSize, 0, 0, 0};
        for (size_t i = 0; i < a.entries.size(); ++i)
            at[kRecord0 + i + 1] = at[kRecord0 + i] + kEntryRecordSize + 4 + PadTo16(a.entries[i].data.size());
        if (row.place != kWhole) bytes.resize(at[row.place] + static_cast<size_t>(row.delta));
        test::WriteFile(path, bytes);
        SCOPED_TRACE("row " + std::to_string(&row - kRows));
        ExpectOpen(path, row.password, row.expected);
    }
}

TEST(Open, ArgumentsAndFilesWithoutAnArchive) {
    test::TempDir dir;
    const std::string path = dir.File("a.vorx");
    test::WriteArchive(path, ThreeEntries());
    for (uint32_t mode : {0u, 4u, 8u, 12u, 0x100u, 1u | 4u, 1u | 8u, 3u | 4u, 3u | 12u})
        ExpectOpen(path, nullptr, vorx_InvalidArgument, mode);
    for (uint32_t mode : {1u, 2u, 3u, 2u | 4u, 2u | 8u, 2u | 0x100u, 1u | 0x10u}) ExpectOpen(path, nullptr, vorx_Success, mode);
    EXPECT_EQ(vorx_OpenStream(nullptr, path.c_str(), nullptr, 2), vorx_InvalidArgument);
    ExpectOpen(std::string(255, 'q'), nullptr, vorx_NotFound);  // fits, and does not exist
    ExpectOpen(std::string(256, 'q'), nullptr, vorx_InvalidArgument);
    ExpectOpen(dir.File("missing.vorx"), nullptr, vorx_NotFound);
    ExpectOpen(dir.Path(), nullptr, vorx_NotFound);
    for (const Bytes& plain : {test::RandomBytes(5000, 9), Bytes(), Bytes{'V', 'O', 'R', 'X', 2, 0, 0, 0x8F}}) {
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

TEST(Open, FindsTheArchiveWhereverItStarts) {
    test::TempDir dir;
    TestArchive a = ThreeEntries();
    const std::string path = dir.File("a.vorx");
    for (size_t carrier : {0, 1, 7, 8, 9, 1000, 70000}) {
        a.carrier = test::RandomBytes(carrier, static_cast<uint32_t>(carrier));
        // False starts in the carrier: the magic with another version.
        for (size_t at = 0; at + 8 <= carrier; at += 97) std::memcpy(a.carrier.data() + at, "VORX\x03\0\0\x8F", 8);
        test::WriteArchive(path, a);
        test::Handle h;
        ASSERT_EQ(h.Open(path), vorx_Success) << carrier;
        EXPECT_EQ(vorx_GetNumFiles(h), 3u);
        Bytes out(33);
        EXPECT_EQ(vorx_DecompressToPtr(h, "three", out.data(), nullptr, nullptr), vorx_Success);
        EXPECT_EQ(out, a.entries[2].data) << carrier;
    }
}

TEST(Open, FailedOpensLeaveNothingBehind) {
    test::TempDir dir;
    TestArchive a = ThreeEntries();
    a.directory.password = "pw";
    const std::string path = dir.File("enc.vorx");
    test::WriteArchive(path, a);
    // Each failure happens after the file was opened; a leaked descriptor per failure
    // would exhaust the process's descriptors long before the end.
    for (int i = 0; i < 3000; ++i) {
        const test::OpenOutcome outcome = test::TryOpen(path, i % 2 ? "bad" : nullptr);
        ASSERT_NE(outcome.code, vorx_Success);
        ASSERT_TRUE(outcome.nullHandle);
    }
    ExpectOpen(path, "pw", vorx_Success);
}

}  // namespace
}  // namespace vorx
