// Enumeration and look-up beyond what the conformance sample reaches: records and names
// changed after the open, names too long to complete, the look-up by name (exact bytes,
// null info) and the older format.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "container/crc32.h"
#include "container/format.h"
#include "library/stream.h"
#include "platform/platform.h"
#include "tests/support/test_support.h"

namespace vorx {
namespace {

using test::TempDir;
using test::TestArchive;
using test::TestEntry;

// Entries of different data sizes, so that skipping a record by the wrong size shows.
TestArchive Entries(size_t count) {
    TestArchive a;
    for (size_t i = 0; i < count; ++i) {
        TestEntry e;
        e.name = "entry-" + std::to_string(i) + (i % 2 ? ".bin" : "\\file.txt");
        e.data = test::RandomBytes(i * 37 % 200, static_cast<uint32_t>(i));
        e.time = 1000000 + i;
        e.attributes = static_cast<uint16_t>(0x20 + i);
        a.entries.push_back(e);
    }
    a.carrier = test::RandomBytes(123, 77);
    return a;
}

void ExpectEntry(const vorx_FileInfo& info, const TestEntry& e) {
    EXPECT_STREQ(info.name, e.name.c_str());
    EXPECT_EQ(info.uncompressedSize, e.data.size());
    EXPECT_EQ(info.compressedSize, e.data.empty() ? 0 : 4 + PadTo16(e.data.size()));
    EXPECT_EQ(info.crc32, Crc32::Of(e.data.data(), e.data.size()));
    EXPECT_EQ(info.attributes, e.attributes);
    EXPECT_EQ(info.lastWriteSeconds, static_cast<int64_t>(e.time));
}

// Overwrites the record of entry `index` in the file with garbage whose size field
// points past the end of the file: any walk over it fails, so a success shows that
// the record was not read.
void SpoilRecord(const std::string& path, uint64_t recordPosition) {
    const int fd = platform::FileOpen(path.c_str(), platform::kOpenReadWrite);
    ASSERT_GE(fd, 0);
    uint8_t garbage[40];
    std::memset(garbage, 0xFF, sizeof garbage);
    ASSERT_EQ(platform::FileSeek(fd, static_cast<int64_t>(recordPosition), platform::Whence::Begin),
              static_cast<int64_t>(recordPosition));
    ASSERT_EQ(platform::FileWrite(fd, garbage, sizeof garbage), 40);
    platform::FileClose(fd);
}

// Every entry by index and by name; a name too long to complete (index 5: the record
// is converted and the cursor moves, but the name cannot be given: 4); indices out of
// range (2, nothing filled) and names that are not exactly an entry's.
TEST(Enumerate, EveryEntryByIndexAndByName) {
    TempDir dir;
    TestArchive a = Entries(12);
    a.entries[5].name = std::string(255, 'n');
    const std::string path = dir.File("a.vorx");
    test::WriteArchive(path, a);
    test::Handle h;
    ASSERT_EQ(h.Open(path), vorx_Success);
    ASSERT_EQ(vorx_GetNumFiles(h), 12u);
    vorx_FileInfo info;
    for (uint64_t i = 0; i < 12; ++i) {
        const TestEntry& e = a.entries[i];
        std::memset(info.name, 'z', sizeof info.name);
        if (i == 5) {
            EXPECT_EQ(vorx_EnumerateFiles(h, &info, i), vorx_NotFound);
            EXPECT_EQ(info.uncompressedSize, e.data.size());
            continue;
        }
        ASSERT_EQ(vorx_EnumerateFiles(h, &info, i), vorx_Success) << i;
        ExpectEntry(info, e);
        ASSERT_EQ(vorx_GetFileInfo(h, &info, e.name.c_str()), vorx_Success) << e.name;
        ExpectEntry(info, e);
        EXPECT_EQ(vorx_GetFileInfo(h, nullptr, e.name.c_str()), vorx_Success);
    }
    std::memset(&info, 0x55, sizeof info);
    EXPECT_EQ(vorx_EnumerateFiles(h, &info, 12), vorx_InvalidArgument);
    EXPECT_EQ(vorx_EnumerateFiles(h, &info, UINT64_MAX), vorx_InvalidArgument);
    EXPECT_EQ(info.attributes, 0x55555555u);
    EXPECT_EQ(vorx_EnumerateFiles(nullptr, &info, 0), vorx_InvalidArgument);
    EXPECT_EQ(vorx_EnumerateFiles(h, nullptr, 0), vorx_InvalidArgument);
    const struct {
        std::string name;
        vorx_Error code;
    } lookups[] = {{"ENTRY-0\\file.txt", vorx_NotFound}, {"entry-0\\FILE.TXT", vorx_NotFound},
                   {"entry-1.bi", vorx_NotFound},         {"", vorx_NotFound},
                   {std::string(255, 'x'), vorx_NotFound}, {std::string(256, 'x'), vorx_InvalidArgument}};
    for (const auto& l : lookups) EXPECT_EQ(vorx_GetFileInfo(h, &info, l.name.c_str()), l.code) << l.name;
    EXPECT_EQ(vorx_GetFileInfo(h, nullptr, "nothing"), vorx_NotFound);
    EXPECT_EQ(vorx_GetFileInfo(h, &info, nullptr), vorx_InvalidArgument);
    EXPECT_EQ(vorx_GetFileInfo(nullptr, &info, "entry-1.bin"), vorx_InvalidArgument);
}

TEST(Enumerate, RecordsCutShort) {
    TempDir dir;
    const TestArchive a = Entries(4);
    const std::string path = dir.File("a.vorx");
    test::WriteArchive(path, a);
    test::Handle h;
    ASSERT_EQ(h.Open(path), vorx_Success);
    vorx_FileInfo info;
    // Spoil the second record so that its size runs past the end of the file: the
    // third record can no longer be reached by enumeration or look-up.
    ASSERT_EQ(vorx_EnumerateFiles(h, &info, 0), vorx_Success);
    uint64_t second = 0;
    ASSERT_EQ(LocateEntry(h, nullptr, &second, a.entries[1].name.c_str()), vorx_Success);
    SpoilRecord(path, second);
    EXPECT_EQ(vorx_EnumerateFiles(h, &info, 1), vorx_Success);  // the record itself reads
    EXPECT_EQ(info.compressedSize, UINT64_MAX);
    EXPECT_EQ(vorx_EnumerateFiles(h, &info, 2), vorx_ReadFailed);
    // The names were read at the first look-up: spoiling the table's end now changes no
    // answer, and the look-up reads the third record where it lay at the open.
    SpoilRecord(path, test::ReadFile(path).size() - 40);
    EXPECT_EQ(vorx_GetFileInfo(h, &info, a.entries[2].name.c_str()), vorx_Success);
    EXPECT_EQ(vorx_GetFileInfo(h, &info, a.entries[3].name.c_str()), vorx_Success);
    EXPECT_EQ(vorx_GetFileInfo(h, &info, a.entries[0].name.c_str()), vorx_Success);
}

TEST(GetFileInfo, EmptyAndOlderArchives) {
    TempDir dir;
    const std::string path = dir.File("a.vorx");
    test::WriteArchive(path, TestArchive{});
    test::Handle h;
    ASSERT_EQ(h.Open(path), vorx_Success);
    vorx_FileInfo info;
    EXPECT_EQ(vorx_GetFileInfo(h, &info, "anything"), vorx_NotFound);
    EXPECT_EQ(vorx_EnumerateFiles(h, &info, 0), vorx_InvalidArgument);
    // The older format's records are not read: 4 for every index in range.
    TestArchive older = Entries(3);
    older.version = kVersionFormat1;
    test::WriteArchive(path, older);
    ASSERT_EQ(h.Open(path), vorx_Success);
    EXPECT_EQ(vorx_GetNumFiles(h), 3u);
    for (uint64_t i = 0; i < 3; ++i) EXPECT_EQ(vorx_EnumerateFiles(h, &info, i), vorx_NotFound);
    EXPECT_EQ(vorx_EnumerateFiles(h, &info, 3), vorx_InvalidArgument);
    EXPECT_EQ(vorx_GetFileInfo(h, &info, older.entries[0].name.c_str()), vorx_NotFound);
}

}  // namespace
}  // namespace vorx
