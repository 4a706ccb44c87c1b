// The handle's entry index against the walks it replaces: on generated archives (names
// of every length and alignment, duplicates, names in the padding and behind it,
// encrypted tables, tables whose last 512-byte unit is shorter than 16 bytes) and on
// damaged ones, every look-up by name, every enumeration and every name by index must
// give exactly what the walks give. And once built, the index reads neither the names
// table nor the records before the one wanted.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "library/stream.h"
#include "platform/platform.h"
#include "tests/support/test_support.h"

namespace vorx {
namespace {

using test::TempDir;
using test::TestArchive;
using test::TestEntry;

std::string RandomName(std::mt19937& random) {
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._-\\ $";
    // Mostly short names, some near the 255-byte limit, where the 16-byte units decide.
    size_t length = 1 + random() % 24;
    if (random() % 8 == 0) length = 200 + random() % 56;
    std::string name;
    for (size_t i = 0; i < length; ++i) name += kChars[random() % (sizeof kChars - 1)];
    return name;
}

// The answers of one handle to every question the comparison asks.
struct Answers {
    std::vector<vorx_Error> findCodes;
    std::vector<uint64_t> positions;
    std::vector<std::string> infos;  // the bytes of the file information filled
    std::vector<vorx_Error> enumCodes;
    std::vector<std::string> enumInfos;

    bool operator==(const Answers&) const = default;
};

std::string InfoBytes(const vorx_FileInfo& info) {
    // The name field past its NUL is whatever the caller left there: compare the name.
    std::string bytes(reinterpret_cast<const char*>(&info), offsetof(vorx_FileInfo, name));
    bytes += std::string(info.name, strnlen(info.name, sizeof info.name));
    bytes += std::to_string(info.lastWriteSeconds);
    return bytes;
}

Answers Ask(vorx_Stream* handle, const std::vector<std::string>& queries, uint64_t enumerateUpTo) {
    Answers a;
    for (const std::string& q : queries) {
        vorx_FileInfo info{};
        uint64_t position = 0;
        a.findCodes.push_back(LocateEntry(handle, &info, &position, q.c_str()));
        a.positions.push_back(a.findCodes.back() == vorx_Success ? position : 0);
        a.infos.push_back(a.findCodes.back() == vorx_Success ? InfoBytes(info) : "");
    }
    // Out of order too, so that the cursor restarts.
    for (uint64_t pass = 0; pass < 2; ++pass) {
        for (uint64_t i = 0; i <= enumerateUpTo; ++i) {
            vorx_FileInfo info{};
            const uint64_t index = pass == 0 ? i : enumerateUpTo - i;
            a.enumCodes.push_back(vorx_EnumerateFiles(handle, &info, index));
            a.enumInfos.push_back(a.enumCodes.back() == vorx_Success ? InfoBytes(info) : "");
        }
    }
    return a;
}

struct Comparison {
    bool opened = false;
    size_t namesAnswered = 0;  // NameAt questions the index answered itself
    size_t findsAnswered = 0;
};

// Opens the archive twice, once answering with the index and once with the walks, and
// expects the same answers to everything. Also asks the index and the directory
// directly for the names behind every NUL and a few past them.
Comparison Compare(const std::string& path, const char* password, const std::vector<std::string>& queries) {
    Comparison c;
    test::Handle indexed, walked;
    const vorx_Error code = indexed.Open(path, password);
    EXPECT_EQ(walked.Open(path, password), code);
    if (code != vorx_Success) return c;
    c.opened = true;
    walked.get()->index.Disable();

    const uint64_t count = vorx_GetNumFiles(indexed);
    const uint64_t enumerateUpTo = count < 300 ? count : 300;
    EXPECT_TRUE(Ask(indexed, queries, enumerateUpTo) == Ask(walked, queries, enumerateUpTo)) << path;

    EntryIndex& index = indexed.get()->index;
    ArchiveDirectory& directory = walked.get()->directory;
    index.EnsureNames(indexed.get()->directory, indexed.get()->header.entryCount);
    for (uint64_t i = 0; i < count + 20; ++i) {
        char fromIndex[256] = {}, fromWalk[256] = {};
        vorx_Error result;
        if (!index.NameAt(i, fromIndex, &result)) continue;
        ++c.namesAnswered;
        EXPECT_EQ(result, directory.NameAt(i, fromWalk)) << "name " << i;
        if (result == vorx_Success) {
            EXPECT_STREQ(fromIndex, fromWalk) << "name " << i;
        }
    }
    for (const std::string& q : queries) {
        bool found = false;
        uint64_t at = 0, walkAt = 0;
        if (!index.Find(q.c_str(), &found, &at)) continue;
        ++c.findsAnswered;
        EXPECT_EQ(found, directory.Find(q.c_str(), &walkAt)) << q;
        if (found) {
            EXPECT_EQ(at, walkAt) << q;
        }
    }
    return c;
}

// Questions about an archive: its names, variants of them that must not match, and
// the extra names given.
std::vector<std::string> Queries(const TestArchive& a, std::vector<std::string> extra) {
    std::vector<std::string> q = std::move(extra);
    for (const TestEntry& e : a.entries) {
        q.push_back(e.name);
        if (q.size() > 160) continue;
        std::string upper = e.name;
        for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        q.push_back(upper);
        if (e.name.size() > 1) q.push_back(e.name.substr(0, e.name.size() - 1));
        q.push_back(e.name + "x");
    }
    q.push_back("not-there");
    q.push_back("");
    return q;
}

TestArchive RandomArchive(std::mt19937& random, std::vector<std::string>* padNames, bool large) {
    TestArchive a;
    // Some tables span several 4 KiB chunks, so that the index stops reading before
    // the names in the padding and leaves them to the walk.
    const uint32_t shape = random() % 10;
    const size_t count = shape == 0 ? random() % 3 : shape == 1 && large ? 300 + random() % 100 : random() % 80;
    for (size_t i = 0; i < count; ++i) {
        TestEntry e;
        // Some names repeat an earlier one: the first must win.
        e.name = (i > 0 && random() % 10 == 0) ? a.entries[random() % i].name : RandomName(random);
        e.data = test::RandomBytes(random() % 40, static_cast<uint32_t>(random()));
        e.time = 1000 + i;
        a.entries.push_back(e);
    }
    if (random() % 3 == 0) {
        // Names in the padding: new ones and copies of stored ones.
        std::string padding;
        for (int k = random() % 4; k >= 0; --k) {
            const std::string name = (!a.entries.empty() && random() % 2) ? a.entries[random() % a.entries.size()].name
                                                                          : RandomName(random);
            padNames->push_back(name);
            padding += name + std::string(1, '\0');
        }
        a.directory.padding = test::ToBytes(padding);
    }
    if (random() % 4 == 0) a.directory.fill = static_cast<uint8_t>(random());
    if (random() % 4 == 0) {
        // Bytes behind the table, often a name: the search runs to the end of the file.
        std::string trailing = RandomName(random) + std::string(1, '\0');
        trailing.resize(random() % 40);
        a.directory.trailing = test::ToBytes(trailing);
    }
    if (random() % 5 == 0) a.directory.password = "secret";
    return a;
}

TEST(EntryIndex, AgreesWithTheWalksOnGeneratedArchives) {
    TempDir dir;
    std::mt19937 random(20240601);
    size_t opened = 0;
    for (int round = 0; round < 60; ++round) {
        std::vector<std::string> padNames;
        const TestArchive a = RandomArchive(random, &padNames, true);
        const std::string path = dir.File("a" + std::to_string(round) + ".vorx");
        test::WriteArchive(path, a);
        const char* password = a.directory.password ? "secret" : nullptr;
        const Comparison c = Compare(path, password, Queries(a, padNames));
        if (!c.opened) continue;
        ++opened;
        // A sound archive's names are all answered by the index itself.
        if (a.directory.trailing.empty() && !a.entries.empty()) {
            EXPECT_GE(c.namesAnswered, a.entries.size()) << round;
            EXPECT_GE(c.findsAnswered, a.entries.size()) << round;
        }
    }
    EXPECT_GE(opened, 40u);
}

// The search in 512-byte units ignores a last unit shorter than 16 bytes, while the
// name-by-index walk reads it: a name whose NUL lies there is found by index only.
TEST(EntryIndex, ShortLastUnit) {
    TempDir dir;
    for (size_t tail = 0; tail < 24; ++tail) {
        TestArchive a;
        // 32 names of 15 bytes and their NULs: a table of exactly 512 bytes.
        for (int i = 0; i < 32; ++i) a.entries.push_back(TestEntry(std::string(14, 'a' + i % 26) + std::to_string(i % 10), {}));
        std::string trailing = "t" + std::string(tail > 1 ? tail - 2 : 0, 'x') + std::string(1, '\0');
        trailing.resize(tail);
        a.directory.trailing = test::ToBytes(trailing);
        const std::string path = dir.File("tail" + std::to_string(tail) + ".vorx");
        test::WriteArchive(path, a);
        const std::string tailName = tail >= 2 ? trailing.substr(0, tail - 1) : "t";
        const Comparison c = Compare(path, nullptr, Queries(a, {tailName}));
        ASSERT_TRUE(c.opened);

        test::Handle h;
        ASSERT_EQ(h.Open(path), vorx_Success);
        uint64_t index = 0;
        const bool found = h.get()->directory.Find(tailName.c_str(), &index);
        EXPECT_EQ(found, tail >= 16) << tail;  // a complete name in a unit of 16 or more
    }
}

// Names of 239 to 255 bytes at every offset inside their 16-byte unit: NameAt returns
// a name only when the bytes from its start to the end of its NUL's unit are fewer
// than 256.
TEST(EntryIndex, LongNamesAtEveryAlignment) {
    TempDir dir;
    for (size_t shift = 0; shift < 16; ++shift) {
        TestArchive a;
        if (shift > 0) a.entries.push_back(TestEntry(std::string(shift, 's'), {}));
        for (size_t length = 239; length <= 255; ++length)
            a.entries.push_back(TestEntry(std::string(length, static_cast<char>('A' + length % 26)), {}));
        const std::string path = dir.File("long" + std::to_string(shift) + ".vorx");
        test::WriteArchive(path, a);
        const Comparison c = Compare(path, nullptr, Queries(a, {}));
        ASSERT_TRUE(c.opened);
        EXPECT_GE(c.namesAnswered, a.entries.size());
    }
}

// An empty first name cannot be had by index 0; a table of NULs only; duplicates.
TEST(EntryIndex, OddTables) {
    TempDir dir;
    std::vector<TestArchive> archives(3);
    archives[0].entries = {TestEntry("", {}), TestEntry("b", {}), TestEntry("", {1})};
    archives[1].entries = {TestEntry("x", {}), TestEntry("y", {})};
    archives[1].directory.padding = Bytes(40, 0);
    archives[2].entries = {TestEntry("same", {1}), TestEntry("other", {}), TestEntry("same", {2, 3})};
    archives[2].directory.padding = test::ToBytes(std::string("same\0other\0", 11));
    for (size_t i = 0; i < archives.size(); ++i) {
        const std::string path = dir.File("odd" + std::to_string(i) + ".vorx");
        test::WriteArchive(path, archives[i]);
        EXPECT_TRUE(Compare(path, nullptr, Queries(archives[i], {"same", "other"})).opened);
    }
    test::Handle h;
    ASSERT_EQ(h.Open(dir.File("odd2.vorx")), vorx_Success);
    vorx_FileInfo info;
    ASSERT_EQ(vorx_GetFileInfo(h, &info, "same"), vorx_Success);
    EXPECT_EQ(info.uncompressedSize, 1u);  // the first of the equal names
}

// Damaged archives: random bytes changed in the records, the directory header and the
// names table. Whatever the walks then give, the index gives too.
TEST(EntryIndex, AgreesWithTheWalksOnDamagedArchives) {
    TempDir dir;
    std::mt19937 random(777);
    size_t opened = 0;
    for (int round = 0; round < 80; ++round) {
        std::vector<std::string> padNames;
        TestArchive a = RandomArchive(random, &padNames, false);
        a.directory.password.reset();
        if (a.entries.empty()) a.entries.push_back(TestEntry(RandomName(random), {1, 2, 3}));
        Bytes bytes = test::ArchiveBytes(a);
        // Damage mostly the end of the file, where the directory and names lie.
        const int changes = 1 + random() % 6;
        for (int k = 0; k < changes; ++k) {
            size_t at = random() % 3 == 0 ? random() % bytes.size()
                                          : bytes.size() - 1 - random() % std::min<size_t>(bytes.size(), 600);
            const uint32_t kind = random() % 3;
            bytes[at] = kind == 0 ? 0 : kind == 1 ? static_cast<uint8_t>(random()) : static_cast<uint8_t>('a');
        }
        if (random() % 6 == 0) bytes.resize(bytes.size() - random() % std::min<size_t>(bytes.size(), 40));
        const std::string path = dir.File("d" + std::to_string(round) + ".vorx");
        test::WriteFile(path, bytes);
        if (Compare(path, nullptr, Queries(a, padNames)).opened) ++opened;
    }
    EXPECT_GE(opened, 20u);
}

// Overwrites `length` bytes of the file at `offset` with `value`.
void Scribble(const std::string& path, uint64_t offset, size_t length, uint8_t value) {
    const int fd = platform::FileOpen(path.c_str(), platform::kOpenReadWrite);
    ASSERT_GE(fd, 0);
    const Bytes bytes(length, value);
    ASSERT_EQ(platform::FileSeek(fd, static_cast<int64_t>(offset), platform::Whence::Begin),
              static_cast<int64_t>(offset));
    ASSERT_EQ(platform::FileWrite(fd, bytes.data(), length), static_cast<int64_t>(length));
    platform::FileClose(fd);
}

// Once built, a look-up reads only the record it wants: with the names table spoilt on
// disk every entry is still enumerated with its name, and with the other records
// spoilt too, every entry is still found and extracted.
TEST(EntryIndex, LookUpsReadOnlyTheRecordWanted) {
    TempDir dir;
    TestArchive a;
    for (int i = 0; i < 50; ++i) a.entries.push_back(TestEntry("dir\\file" + std::to_string(i), test::RandomBytes(i, i)));
    const std::string path = dir.File("a.vorx");
    test::WriteArchive(path, a);
    test::Handle h;
    ASSERT_EQ(h.Open(path), vorx_Success);
    std::vector<uint64_t> positions;
    for (const TestEntry& e : a.entries) {
        uint64_t position = 0;
        ASSERT_EQ(LocateEntry(h, nullptr, &position, e.name.c_str()), vorx_Success);
        positions.push_back(position);
    }
    const uint64_t tableStart = h.get()->directory.directoryOffset + kDirectoryHeaderSize;
    Scribble(path, tableStart, test::ReadFile(path).size() - tableStart, 0xEE);
    vorx_FileInfo info;
    for (size_t i = 0; i < a.entries.size(); ++i) {
        ASSERT_EQ(vorx_EnumerateFiles(h, &info, i), vorx_Success) << i;
        EXPECT_EQ(info.name, a.entries[i].name);
    }
    for (size_t i = 0; i < positions.size(); ++i) {
        if (i % 2 == 0) Scribble(path, positions[i], kEntryRecordSize, 0xFF);
    }
    for (size_t i = 1; i < a.entries.size(); i += 2) {
        uint64_t position = 0;
        ASSERT_EQ(LocateEntry(h, &info, &position, a.entries[i].name.c_str()), vorx_Success) << i;
        EXPECT_EQ(position, positions[i]);
        EXPECT_EQ(info.uncompressedSize, a.entries[i].data.size());
        std::vector<uint8_t> out(a.entries[i].data.size() + 1);
        EXPECT_EQ(vorx_DecompressToPtr(h, a.entries[i].name.c_str(), out.data(), nullptr, nullptr), vorx_Success);
        EXPECT_EQ(std::memcmp(out.data(), a.entries[i].data.data(), a.entries[i].data.size()), 0);
    }
    // The walks, which read the table anew, see the damage.
    h.get()->index.Disable();
    EXPECT_EQ(vorx_GetFileInfo(h, nullptr, a.entries[1].name.c_str()), vorx_NotFound);
}

}  // namespace
}  // namespace vorx
