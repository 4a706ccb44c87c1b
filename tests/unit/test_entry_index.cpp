// The handle's entry index against the walks it replaces: on generated archives (names
// of every length and alignment, duplicates, names in the padding and behind it,
// encrypted tables, tables whose last 512-byte unit is shorter than 16 bytes) and on
// damaged ones, every look-up by name, every enumeration and every name by index must
// give exactly what the walks give.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "library/stream.h"
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

// Opens the archive twice, once answering with the index and once with the walks, and
// expects the same answers to everything; true when it opened.
bool Compare(const std::string& path, const char* password, const std::vector<std::string>& queries) {
    test::Handle indexed, walked;
    const vorx_Error code = indexed.Open(path, password);
    EXPECT_EQ(walked.Open(path, password), code);
    if (code != vorx_Success) return false;
    walked.get()->index.Disable();
    const uint64_t count = vorx_GetNumFiles(indexed);
    const uint64_t enumerateUpTo = count < 300 ? count : 300;
    EXPECT_TRUE(Ask(indexed, queries, enumerateUpTo) == Ask(walked, queries, enumerateUpTo)) << path;
    return true;
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

// Generated archives, then the same kind damaged (random bytes changed in the
// records, the directory header and the names table, mostly at the end of the file),
// then odd tables: an empty first name, a table of NULs only, duplicates.
TEST(EntryIndex, AgreesWithTheWalks) {
    TempDir dir;
    std::mt19937 random(20240601);
    size_t opened[2] = {0, 0};
    for (int round = 0; round < 140; ++round) {
        const bool damaged = round >= 60;
        std::vector<std::string> padNames;
        TestArchive a = RandomArchive(random, &padNames, !damaged);
        if (damaged) a.directory.password.reset();
        if (damaged && a.entries.empty()) a.entries.push_back(TestEntry(RandomName(random), {1, 2, 3}));
        Bytes bytes = test::ArchiveBytes(a);
        for (int k = damaged ? 1 + random() % 6 : 0; k > 0; --k) {
            const size_t at = random() % 3 == 0 ? random() % bytes.size()
                                                : bytes.size() - 1 - random() % std::min<size_t>(bytes.size(), 600);
            const uint32_t kind = random() % 3;
            bytes[at] = kind == 0 ? 0 : kind == 1 ? static_cast<uint8_t>(random()) : static_cast<uint8_t>('a');
        }
        if (damaged && random() % 6 == 0) bytes.resize(bytes.size() - random() % std::min<size_t>(bytes.size(), 40));
        const std::string path = dir.File("a" + std::to_string(round) + ".vorx");
        test::WriteFile(path, bytes);
        if (Compare(path, a.directory.password ? "secret" : nullptr, Queries(a, padNames))) ++opened[damaged];
    }
    EXPECT_GE(opened[0], 40u);
    EXPECT_GE(opened[1], 20u);

    std::vector<TestArchive> odd(3);
    odd[0].entries = {TestEntry("", {}), TestEntry("b", {}), TestEntry("", {1})};
    odd[1].entries = {TestEntry("x", {}), TestEntry("y", {})};
    odd[1].directory.padding = Bytes(40, 0);
    odd[2].entries = {TestEntry("same", {1}), TestEntry("other", {}), TestEntry("same", {2, 3})};
    odd[2].directory.padding = test::ToBytes(std::string("same\0other\0", 11));
    for (size_t i = 0; i < odd.size(); ++i) {
        const std::string path = dir.File("odd" + std::to_string(i) + ".vorx");
        test::WriteArchive(path, odd[i]);
        EXPECT_TRUE(Compare(path, nullptr, Queries(odd[i], {"same", "other"})));
    }
    test::Handle h;
    ASSERT_EQ(h.Open(dir.File("odd2.vorx")), vorx_Success);
    vorx_FileInfo info;
    ASSERT_EQ(vorx_GetFileInfo(h, &info, "same"), vorx_Success);
    EXPECT_EQ(info.uncompressedSize, 1u);  // the first of the equal names
}

}  // namespace
}  // namespace vorx
