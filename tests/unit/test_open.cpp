// Opening archives: the result of every way an open can go, a null handle on every
// failure, nothing left behind, and the handle's accessors.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "library/stream.h"
#include "tests/support/test_support.h"
#include "writer/archive_parts.h"

namespace vorx {
namespace {

using test::TempDir;
using test::TestArchive;
using test::TestEntry;
using test::TryOpen;

TestArchive ThreeEntries() {
    TestArchive a;
    a.entries = {TestEntry{"one.txt", test::ToBytes("first entry")},
                 TestEntry{"dir\\two.bin", test::RandomBytes(100, 1)},
                 TestEntry{"three", test::RandomBytes(33, 2)}};
    return a;
}

// Byte offsets inside an archive written without carrier.
struct Layout {
    size_t record[3];
    size_t directory;
};
Layout LayoutOf(const TestArchive& a) {
    Layout l{};
    size_t at = kArchiveHeaderSize;
    for (size_t i = 0; i < a.entries.size(); ++i) {
        l.record[i] = at;
        at += kEntryRecordSize + (a.entries[i].data.empty() ? 0 : 4 + PadTo16(a.entries[i].data.size()));
    }
    l.directory = at;
    return l;
}

void ExpectOpen(const std::string& path, const char* password, vorx_Error expected,
                uint32_t mode = 2) {
    const test::OpenOutcome outcome = TryOpen(path, password, mode);
    EXPECT_EQ(outcome.code, expected) << path << " password " << (password ? password : "(none)");
    EXPECT_EQ(outcome.nullHandle, expected != vorx_Success);
}

TEST(Open, ArgumentsAreChecked) {
    TempDir dir;
    const std::string path = dir.File("a.vorx");
    test::WriteArchive(path, ThreeEntries());

    for (uint32_t mode : {0u, 4u, 8u, 12u, 0x100u, 1u | 4u, 1u | 8u, 3u | 4u, 3u | 12u})
        ExpectOpen(path, nullptr, vorx_InvalidArgument, mode);
    for (uint32_t mode : {1u, 2u, 3u, 2u | 4u, 2u | 8u, 2u | 0x100u, 1u | 0x10u})
        ExpectOpen(path, nullptr, vorx_Success, mode);

    vorx_Stream* handle = nullptr;
    EXPECT_EQ(vorx_OpenStream(nullptr, path.c_str(), nullptr, 2), vorx_InvalidArgument);
    handle = reinterpret_cast<vorx_Stream*>(uintptr_t{1});
    EXPECT_EQ(vorx_OpenStream(&handle, nullptr, nullptr, 2), vorx_InvalidArgument);
    EXPECT_EQ(handle, nullptr);

    // Paths: 255 characters fit (and this one does not exist), 256 do not.
    ExpectOpen(std::string(255, 'q'), nullptr, vorx_NotFound);
    ExpectOpen(std::string(256, 'q'), nullptr, vorx_InvalidArgument);
    ExpectOpen(dir.File("missing.vorx"), nullptr, vorx_NotFound);
    ExpectOpen(dir.Path(), nullptr, vorx_NotFound);
}

TEST(Open, FindsTheArchiveWhereverItStarts) {
    TempDir dir;
    TestArchive a = ThreeEntries();
    const std::string path = dir.File("a.vorx");
    for (size_t carrier : {0, 1, 7, 8, 9, 1000, 70000}) {
        a.carrier = test::RandomBytes(carrier, static_cast<uint32_t>(carrier));
        // False starts in the carrier: the magic with other versions.
        for (size_t at = 0; at + 8 <= carrier; at += 97) std::memcpy(a.carrier.data() + at, "VORX\x03\0\0\x8F", 8);
        test::WriteArchive(path, a);
        test::Handle h;
        ASSERT_EQ(h.Open(path), vorx_Success) << carrier;
        EXPECT_EQ(h.get()->archiveStart, carrier);
        EXPECT_EQ(vorx_GetNumFiles(h), 3u);
        EXPECT_EQ(h.get()->cursorIndex, UINT64_MAX);
        EXPECT_EQ(h.get()->cursorPosition, UINT64_MAX);
        EXPECT_STREQ(h.get()->path, path.c_str());
        EXPECT_EQ(h.get()->userData, nullptr);
    }
}

TEST(Open, NoArchiveInTheFile) {
    TempDir dir;
    const std::string path = dir.File("plain.bin");
    test::WriteFile(path, test::RandomBytes(5000, 9));
    ExpectOpen(path, nullptr, vorx_NotFound);
    test::WriteFile(path, Bytes());
    ExpectOpen(path, nullptr, vorx_NotFound);
    // Eight bytes that are the signature: too short to hold an archive.
    test::WriteFile(path, Bytes{'V', 'O', 'R', 'X', 2, 0, 0, 0x8F});
    ExpectOpen(path, nullptr, vorx_NotFound);
}

TEST(Open, ArchivesCutShort) {
    TempDir dir;
    const TestArchive a = ThreeEntries();
    const Bytes whole = test::ArchiveBytes(a);
    const Layout l = LayoutOf(a);
    const std::string path = dir.File("cut.vorx");
    auto cutAt = [&](size_t length) {
        test::WriteFile(path, Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length)));
    };
    // Inside the header (but long enough for the signature to be seen): 13.
    for (size_t length : {9, 16, 23}) {
        cutAt(length);
        ExpectOpen(path, nullptr, vorx_ReadFailed);
    }
    // At a record boundary, inside a record, inside an entry's data: 3.
    for (size_t length : {l.record[0], l.record[0] + 1, l.record[0] + 39, l.record[0] + 45,
                          l.record[1], l.record[2] + 20, l.directory - 1}) {
        cutAt(length);
        ExpectOpen(path, nullptr, vorx_CorruptArchive);
    }
    // No DirectoryHeader, or part of one: 3.
    for (size_t length : {l.directory, l.directory + 5, l.directory + 11}) {
        cutAt(length);
        ExpectOpen(path, nullptr, vorx_CorruptArchive);
    }
    // The DirectoryHeader but no names: a plain table is not checked.
    cutAt(l.directory + 12);
    ExpectOpen(path, nullptr, vorx_Success);
    cutAt(whole.size());
    ExpectOpen(path, nullptr, vorx_Success);
}

TEST(Open, EntryCountBeyondTheRecords) {
    TempDir dir;
    TestArchive a = ThreeEntries();
    a.directory.entryCount = 4;
    const std::string path = dir.File("count.vorx");
    test::WriteArchive(path, a);
    // The fourth "record" is the DirectoryHeader and names: a garbage size that runs
    // past the end of the file.
    ExpectOpen(path, nullptr, vorx_CorruptArchive);
    a.directory.entryCount = UINT64_MAX;
    test::WriteArchive(path, a);
    ExpectOpen(path, nullptr, vorx_CorruptArchive);
    // Fewer entries than records: the directory is looked for in the wrong place,
    // where a plain "table" opens anyway.
    a.directory.entryCount = 2;
    test::WriteArchive(path, a);
    ExpectOpen(path, nullptr, vorx_Success);
}

TEST(Open, EmptyArchive) {
    TempDir dir;
    const std::string path = dir.File("empty.vorx");
    TestArchive a;
    a.carrier = test::RandomBytes(33, 4);
    test::WriteArchive(path, a);
    test::Handle h;
    ASSERT_EQ(h.Open(path), vorx_Success);
    EXPECT_EQ(vorx_GetNumFiles(h), 0u);
    EXPECT_EQ(h.get()->directory.directoryOffset, 33u + 24u);
    EXPECT_EQ(h.get()->directory.header.namesLength, 0u);
}

TEST(Open, EncryptedNamesTable) {
    TempDir dir;
    TestArchive a = ThreeEntries();
    a.directory.password = "correct horse";
    const std::string path = dir.File("enc.vorx");
    test::WriteArchive(path, a);
    ExpectOpen(path, nullptr, vorx_PasswordRequired);
    ExpectOpen(path, "wrong horse", vorx_CrcMismatch);
    ExpectOpen(path, "", vorx_CrcMismatch);
    ExpectOpen(path, "correct horse", vorx_Success);
    ExpectOpen(path, "correct horsecorrect horse", vorx_Success);  // the key cycles

    // The empty password is a password.
    a.directory.password = "";
    test::WriteArchive(path, a);
    ExpectOpen(path, nullptr, vorx_PasswordRequired);
    ExpectOpen(path, "", vorx_Success);
    ExpectOpen(path, "x", vorx_CrcMismatch);

    // Passwords longer than 255 bytes are cut; the key (72 bytes) is unchanged.
    std::string longPassword;
    while (longPassword.size() < 300) longPassword += "0123456789abcdefghijklmnopq";
    a.directory.password = longPassword;
    test::WriteArchive(path, a);
    ExpectOpen(path, longPassword.c_str(), vorx_Success);
    ExpectOpen(path, longPassword.substr(0, 72).c_str(), vorx_Success);
    ExpectOpen(path, longPassword.substr(0, 71).c_str(), vorx_CrcMismatch);
}

TEST(Open, EncryptedNamesTableOfTheWrongLength) {
    TempDir dir;
    TestArchive a = ThreeEntries();
    a.directory.password = "pw";
    const std::string path = dir.File("enc.vorx");

    // One byte too many at the end of the file: 3 whatever the password, 10 without.
    a.directory.trailing = {0};
    test::WriteArchive(path, a);
    ExpectOpen(path, nullptr, vorx_PasswordRequired);
    ExpectOpen(path, "pw", vorx_CorruptArchive);
    ExpectOpen(path, "other", vorx_CorruptArchive);

    // A namesLength that rounds up to another length than the table has.
    a.directory.trailing.clear();
    a.directory.namesLength = 1000;
    test::WriteArchive(path, a);
    ExpectOpen(path, "pw", vorx_CorruptArchive);
    // One that rounds up to the same length is fine: only the rounded length counts.
    const uint32_t joined = static_cast<uint32_t>(JoinNames({"one.txt", "dir\\two.bin", "three"}).size());
    a.directory.namesLength = joined - 1 - (joined - 1) % 16 + 1;
    test::WriteArchive(path, a);
    ExpectOpen(path, "pw", vorx_Success);

    // A wrong CRC looks like a wrong password.
    a.directory.namesLength.reset();
    a.directory.namesCrc = 12345;
    test::WriteArchive(path, a);
    ExpectOpen(path, "pw", vorx_CrcMismatch);
}

TEST(Open, EncryptedEmptyNamesTable) {
    TempDir dir;
    TestArchive a;
    a.directory.password = "anything";
    const std::string path = dir.File("enc.vorx");
    test::WriteArchive(path, a);
    // Nothing to decrypt: the CRC of no bytes is 0, so every password passes...
    ExpectOpen(path, "whatever", vorx_Success);
    ExpectOpen(path, nullptr, vorx_PasswordRequired);
    // ...unless the stored CRC is not 0, when none does.
    a.directory.namesCrc = 1;
    test::WriteArchive(path, a);
    ExpectOpen(path, "anything", vorx_CrcMismatch);
}

TEST(Open, PlainNamesTableIsNotChecked) {
    TempDir dir;
    TestArchive a = ThreeEntries();
    a.directory.namesCrc = 0xDEADBEEF;
    a.directory.namesLength = 3;
    a.directory.trailing = {1, 2, 3};
    const std::string path = dir.File("plain.vorx");
    test::WriteArchive(path, a);
    ExpectOpen(path, nullptr, vorx_Success);
    ExpectOpen(path, "a password nobody needs", vorx_Success);
}

TEST(Open, OlderFormat) {
    TempDir dir;
    TestArchive a = ThreeEntries();
    a.version = kVersionFormat1;
    a.carrier = test::RandomBytes(10, 5);
    const std::string path = dir.File("old.vorx");
    test::WriteArchive(path, a);
    test::Handle h;
    ASSERT_EQ(h.Open(path), vorx_Success);
    EXPECT_EQ(vorx_GetNumFiles(h), 3u);
    EXPECT_EQ(h.get()->archiveStart, 10u);
    vorx_FileInfo info;
    for (uint64_t i = 0; i < 3; ++i) EXPECT_EQ(vorx_EnumerateFiles(h, &info, i), vorx_NotFound);
    EXPECT_EQ(vorx_EnumerateFiles(h, &info, 3), vorx_InvalidArgument);
    EXPECT_EQ(vorx_GetFileInfo(h, &info, "one.txt"), vorx_NotFound);

    // Only the header is read: an older archive opens even when cut behind it.
    const Bytes whole = test::ReadFile(path);
    test::WriteFile(path, Bytes(whole.begin(), whole.begin() + 10 + 24 + 1));
    ExpectOpen(path, nullptr, vorx_Success);
}

TEST(Open, FailedOpensLeaveNothingBehind) {
    TempDir dir;
    TestArchive a = ThreeEntries();
    a.directory.password = "pw";
    const std::string path = dir.File("enc.vorx");
    test::WriteArchive(path, a);
    // Each of these failures happens after the file was opened; a leaked descriptor
    // per failure would exhaust the process's descriptors long before the end.
    for (int i = 0; i < 3000; ++i) {
        const test::OpenOutcome outcome = TryOpen(path, i % 2 ? "bad" : nullptr);
        ASSERT_NE(outcome.code, vorx_Success);
        ASSERT_TRUE(outcome.nullHandle);
    }
    ExpectOpen(path, "pw", vorx_Success);
}

TEST(Handle, Accessors) {
    TempDir dir;
    const std::string path = dir.File("a.vorx");
    test::WriteArchive(path, ThreeEntries());
    test::Handle h;
    ASSERT_EQ(h.Open(path), vorx_Success);

    int value = 0;
    EXPECT_EQ(vorx_SetUserData(h, &value), vorx_Success);
    EXPECT_EQ(h.get()->userData, &value);
    EXPECT_EQ(vorx_SetUserData(nullptr, &value), vorx_InvalidArgument);

    EXPECT_EQ(h.get()->cancelRequested.load(), 0u);
    EXPECT_EQ(vorx_CancelOperation(h), vorx_Success);
    EXPECT_EQ(h.get()->cancelRequested.load(), 1u);
    EXPECT_EQ(vorx_CancelOperation(nullptr), vorx_InvalidArgument);

    EXPECT_EQ(vorx_GetNumFiles(h), 3u);
    EXPECT_EQ(vorx_GetNumFiles(nullptr), 0u);
    EXPECT_EQ(vorx_CloseStream(nullptr), vorx_InvalidArgument);
}

}  // namespace
}  // namespace vorx
