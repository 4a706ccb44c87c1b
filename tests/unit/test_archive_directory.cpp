// The directory reader on hand-laid names tables, plain and encrypted: which name
// NameAt gives for which index (the empty first name, the 256-byte collection limit at
// every offset within a unit, tables cut short) and which index Find reports (units of
// 512 bytes, the last whole unit of 16, letter case, prefixes).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "container/archive_directory.h"
#include "platform/platform.h"
#include "tests/support/test_support.h"
#include "writer/archive_parts.h"

namespace vorx {
namespace {

constexpr char kPassword[] = "names table key";

// A file holding only a DirectoryHeader and the names table behind it (written as it
// is, its length not necessarily a multiple of 16; encrypted when asked), opened as a
// directory.
struct Directory {
    test::TempDir dir;
    int fd = -1;
    ArchiveDirectory directory;
    vorx_Error opened;

    Directory(const Bytes& table, uint32_t namesLength, bool encrypted) {
        DirectoryHeader header{};
        header.namesEncrypted = encrypted ? 1 : 0;
        header.namesLength = namesLength;
        header.namesCrc = Crc32::Of(table.data(), table.size());
        Bytes file = EncodeDirectoryHeader(header), body = table;
        if (encrypted) EncryptWithPassword(kPassword, body.data(), body.size());
        file.insert(file.end(), body.begin(), body.end());
        test::WriteFile(dir.File("d.bin"), file);
        fd = platform::FileOpen(dir.File("d.bin").c_str(), platform::kOpenRead);
        opened = fd < 0 ? vorx_ReadFailed : directory.Open(fd, encrypted ? kPassword : nullptr, 0);
    }
    ~Directory() {
        if (fd >= 0) platform::FileClose(fd);
    }
    // The name at `index`, or "<code>" when NameAt fails.
    std::string NameAt(uint64_t index) {
        char name[256];
        std::memset(name, 0x7F, sizeof name);
        const vorx_Error e = directory.NameAt(index, name);
        if (e != vorx_Success) return "<" + std::to_string(e) + ">";
        EXPECT_NE(std::memchr(name, 0, sizeof name), nullptr);
        return name;
    }
    // The index Find reports, or -1.
    int64_t Find(const std::string& name) {
        uint64_t index = 999999;
        return directory.Find(name.c_str(), &index) ? static_cast<int64_t>(index) : -1;
    }
};

Bytes Table(const std::vector<std::string>& names) { return PadNamesTable(JoinNames(names)); }
uint32_t Length(const std::vector<std::string>& names) {
    return static_cast<uint32_t>(JoinNames(names).size());
}
Bytes Cut(const Bytes& b, size_t n) {
    return Bytes(b.begin(), b.begin() + static_cast<ptrdiff_t>(n));
}

TEST(ArchiveDirectory, NamesAndFinds) {
    using Finds = std::vector<std::pair<std::string, int64_t>>;  // a name and the index found
    const std::vector<std::string> six = {
        "a.txt", "folder\\b.bin", "c", std::string(40, 'd'), "e\\f\\g.h", std::string(17, 'i')};
    const std::vector<std::string> cut = {"first-name", "second-name-is-long", "third"};
    // Names of 37 bytes (with NUL) fall across every 512-byte unit boundary.
    std::vector<std::string> wide;
    for (int i = 0; i < 60; ++i)
        wide.push_back(("dir\\" + std::to_string(100000 + i)).append(26, char('a' + i % 26)));
    // 512 bytes of names, then a last unit of 10 bytes (not searched) or of 16.
    std::vector<std::string> units(16, std::string(31, 'n'));
    for (size_t i = 0; i < units.size(); ++i) units[i][0] = static_cast<char>('A' + i);
    Bytes partial = JoinNames(units);
    const Bytes tail = test::ToBytes(std::string("tail\0", 5));
    partial.insert(partial.end(), tail.begin(), tail.end());
    Bytes whole = partial;
    partial.resize(522, 0);
    whole.resize(528, 0);
    // Near misses of names across units: another letter case, a prefix, a longer name.
    const Finds misses = {{"D" + wide[5].substr(1), -1},
                          {wide[7].substr(0, 35), -1},
                          {wide[7] + "x", -1},
                          {"not there", -1}};
    const Bytes joined = JoinNames(cut);
    const vorx_Error ok = vorx_Success, corrupt = vorx_CorruptArchive;
    const struct {
        const char* what;
        Bytes table;
        uint32_t namesLength;
        vorx_Error encryptedOpen;  // an encrypted table of the wrong length does not open
        std::vector<std::pair<uint64_t, std::string>> names;
        Finds finds = {};
        const std::vector<std::string>* all = nullptr;  // each found and given at its index
    } rows[] = {
        // Every name in turn; behind the last NUL lies only padding: an empty name; beyond
        // the table nothing.
        {"six", Table(six), Length(six), ok, {{6, ""}, {206, "<4>"}}, {}, &six},
        {"empty first", Table({"", "second"}), 8, ok, {{0, "<4>"}, {1, "second"}}},
        // Cut inside the second name: the first is whole, the second cannot be completed;
        // a length that is not a multiple of 16: the last, partial unit is still read.
        {"cut", Cut(joined, 20), Length(cut), corrupt, {{0, cut[0]}, {1, "<4>"}, {2, "<4>"}}},
        {"partial unit", Cut(joined, 35), Length(cut), corrupt, {{1, cut[1]}, {2, "<4>"}}},
        {"across units", Table(wide), Length(wide), ok, {}, misses, &wide},
        {"last unit short", partial, 522, corrupt, {}, {{units[15], 15}, {"tail", -1}}},
        {"last unit whole", whole, 528, ok, {}, {{"tail", 16}}},
    };
    for (bool encrypted : {false, true})
        for (const auto& row : rows) {
            SCOPED_TRACE(std::string(row.what) + (encrypted ? " encrypted" : " plain"));
            Directory d(row.table, row.namesLength, encrypted);
            ASSERT_EQ(d.opened, encrypted ? row.encryptedOpen : vorx_Success);
            if (d.opened != vorx_Success) continue;
            for (size_t i = 0; row.all && i < row.all->size(); ++i) {
                EXPECT_EQ(d.NameAt(i), (*row.all)[i]) << i;
                EXPECT_EQ(d.Find((*row.all)[i]), static_cast<int64_t>(i)) << i;
            }
            for (const auto& [index, name] : row.names) EXPECT_EQ(d.NameAt(index), name) << index;
            for (const auto& [name, index] : row.finds) EXPECT_EQ(d.Find(name), index) << name;
        }
}

// A name is returned only when the bytes from its first byte to the end of the 16-byte
// unit holding its NUL number fewer than 256: 239 bytes always fit, 255 never.
TEST(ArchiveDirectory, CollectionLimitAtEveryOffset) {
    for (bool encrypted : {false, true})
        for (size_t offset = 0; offset < 16; ++offset)
            for (size_t length : {239, 240, 241, 245, 250, 253, 254, 255, 256, 300}) {
                std::vector<std::string> names;
                if (offset > 0)
                    names.push_back(std::string(offset - 1, 'p'));  // name + NUL = offset
                names.push_back(std::string(length, 'L'));
                names.push_back("after");
                Directory d(Table(names), Length(names), encrypted);
                ASSERT_EQ(d.opened, vorx_Success);
                const bool fits = (offset + length) / 16 * 16 + 16 - offset < 256;
                const size_t index = offset > 0 ? 1 : 0;
                EXPECT_EQ(d.NameAt(index), fits ? names[index] : "<4>")
                    << "offset " << offset << " length " << length;
                EXPECT_EQ(d.NameAt(index + 1), "after");
            }
}

}  // namespace
}  // namespace vorx
