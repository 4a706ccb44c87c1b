// Enumeration and look-up beyond what the conformance sample reaches (every entry, empty
// and older archives): records and names changed after the open, names too long to
// complete, the look-up by name (exact bytes, null info) and null arguments.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

#include "library/stream.h"
#include "tests/support/test_support.h"

namespace vorx::test {
namespace {

// Entries of different data sizes, so that skipping a record by the wrong size shows.
TestArchive Entries(size_t count) {
    TestArchive a;
    for (size_t i = 0; i < count; ++i)
        a.entries.emplace_back("entry-" + std::to_string(i) + (i % 2 ? ".bin" : "\\file.txt"),
                               RandomBytes(i * 37 % 200, static_cast<uint32_t>(i)));
    return a;
}

// Overwrites 40 bytes at `at` with 0xFF: a record there has a size field pointing past
// the end of the file, so any walk over it fails and a success shows it was not read.
void SpoilRecord(const std::string& path, uint64_t at) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(at)).write(std::string(40, '\xFF').data(), 40);
    ASSERT_TRUE(file.good()) << path;
}

// A name too long to complete (the record is converted and the cursor moves, but the
// name cannot be given: 4), indices out of range (2, nothing filled), names that are not
// exactly an entry's and null arguments (every entry by index and name is the sample's).
TEST(Enumerate, LongNamesRangesAndArguments) {
    TempDir dir;
    TestArchive a = Entries(3);
    a.entries[1].name = std::string(255, 'n');
    const std::string path = dir.File("a.vorx");
    WriteArchive(path, a);
    Handle h;
    ASSERT_EQ(h.Open(path), vorx_Success);
    vorx_FileInfo info;
    EXPECT_EQ(vorx_EnumerateFiles(h, &info, 1), vorx_NotFound);
    EXPECT_EQ(info.uncompressedSize, a.entries[1].data.size());
    ASSERT_EQ(vorx_EnumerateFiles(h, &info, 2), vorx_Success);
    EXPECT_STREQ(info.name, a.entries[2].name.c_str());
    EXPECT_EQ(vorx_GetFileInfo(h, nullptr, a.entries[2].name.c_str()), vorx_Success);
    std::memset(&info, 0x55, sizeof info);
    EXPECT_EQ(vorx_EnumerateFiles(h, &info, 3), vorx_InvalidArgument);
    EXPECT_EQ(vorx_EnumerateFiles(h, &info, UINT64_MAX), vorx_InvalidArgument);
    EXPECT_EQ(info.attributes, 0x55555555u);
    EXPECT_EQ(vorx_EnumerateFiles(nullptr, &info, 0), vorx_InvalidArgument);
    EXPECT_EQ(vorx_EnumerateFiles(h, nullptr, 0), vorx_InvalidArgument);
    const struct {
        std::string name;
        vorx_Error code;
    } lookups[] = {
        {"ENTRY-0\\file.txt", vorx_NotFound},   {"entry-0\\FILE.TXT", vorx_NotFound},
        {"entry-2\\file.tx", vorx_NotFound},    {"", vorx_NotFound},
        {std::string(255, 'x'), vorx_NotFound}, {std::string(256, 'x'), vorx_InvalidArgument}};
    for (const auto& l : lookups)
        EXPECT_EQ(vorx_GetFileInfo(h, &info, l.name.c_str()), l.code) << l.name;
    EXPECT_EQ(vorx_GetFileInfo(h, nullptr, "nothing"), vorx_NotFound);
    EXPECT_EQ(vorx_GetFileInfo(h, &info, nullptr), vorx_InvalidArgument);
    EXPECT_EQ(vorx_GetFileInfo(nullptr, &info, "entry-0\\file.txt"), vorx_InvalidArgument);
}

TEST(Enumerate, RecordsCutShort) {
    TempDir dir;
    const TestArchive a = Entries(4);
    const std::string path = dir.File("a.vorx");
    WriteArchive(path, a);
    Handle h;
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
    SpoilRecord(path, ReadFile(path).size() - 40);
    EXPECT_EQ(vorx_GetFileInfo(h, &info, a.entries[2].name.c_str()), vorx_Success);
    EXPECT_EQ(vorx_GetFileInfo(h, &info, a.entries[3].name.c_str()), vorx_Success);
    EXPECT_EQ(vorx_GetFileInfo(h, &info, a.entries[0].name.c_str()), vorx_Success);
}

}  // namespace
}  // namespace vorx::test
