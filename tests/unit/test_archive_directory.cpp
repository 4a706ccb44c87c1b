// The directory reader on hand-laid names tables: which index NameAt gives which
// name (the empty first name, the 256-byte collection limit at every offset within a
// unit, tables cut short), which index Find reports (units of 512 bytes, padding,
// duplicates, letter case), all of it for plain and for encrypted tables.
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

// A file holding only a DirectoryHeader at offset 0 and a names table behind it,
// opened as a directory; parameterised by whether the table is encrypted.
class DirectoryTest : public ::testing::TestWithParam<bool> {
protected:
    bool Encrypted() const { return GetParam(); }

    // `table` is the plain table; it is written as it is (its length need not be a
    // multiple of 16) and encrypted block by block when the test is encrypted.
    void Load(const Bytes& table, uint32_t namesLength, vorx_Error expected = vorx_Success) {
        Close();
        DirectoryHeader header{};
        header.namesEncrypted = Encrypted() ? 1 : 0;
        header.namesLength = namesLength;
        header.namesCrc = Crc32::Of(table.data(), table.size());
        Bytes file = EncodeDirectoryHeader(header);
        Bytes body = table;
        if (Encrypted()) EncryptWithPassword(kPassword, body.data(), body.size());
        file.insert(file.end(), body.begin(), body.end());
        const std::string path = dir_.File("directory.bin");
        test::WriteFile(path, file);
        fd_ = platform::FileOpen(path.c_str(), platform::kOpenRead);
        ASSERT_GE(fd_, 0);
        directory_ = ArchiveDirectory();
        const vorx_Error e = directory_.Open(fd_, Encrypted() ? kPassword : nullptr, 0);
        ASSERT_EQ(e, expected);
    }
    void LoadNames(const std::vector<std::string>& names, const Bytes& padding = {}) {
        const Bytes joined = JoinNames(names);
        Load(PadNamesTable(joined, padding), static_cast<uint32_t>(joined.size()));
    }
    void Close() {
        if (fd_ >= 0) platform::FileClose(fd_);
        fd_ = -1;
    }
    void TearDown() override { Close(); }

    // The name at `index`, or "<code>" when NameAt fails.
    std::string NameAt(uint64_t index) {
        char name[256];
        std::memset(name, 0x7F, sizeof name);
        const vorx_Error e = directory_.NameAt(index, name);
        if (e != vorx_Success) return std::string("<").append(std::to_string(e)).append(">");
        EXPECT_NE(std::memchr(name, 0, sizeof name), nullptr);
        return name;
    }
    // The index Find reports, or -1.
    int64_t Find(const std::string& name) {
        uint64_t index = 999999;
        return directory_.Find(name.c_str(), &index) ? static_cast<int64_t>(index) : -1;
    }

    test::TempDir dir_;
    int fd_ = -1;
    ArchiveDirectory directory_;
};

TEST_P(DirectoryTest, NameAtWalksTheNuls) {
    const std::vector<std::string> names = {"a.txt", "folder\\b.bin", "c", std::string(40, 'd'),
                                            "e\\f\\g.h", std::string(17, 'i')};
    LoadNames(names);
    for (size_t i = 0; i < names.size(); ++i) EXPECT_EQ(NameAt(i), names[i]) << i;
    // Behind the last NUL lies only padding: an empty name, whose NUL is there...
    EXPECT_EQ(NameAt(names.size()), "");
    // ...and beyond the table there is nothing.
    EXPECT_EQ(NameAt(names.size() + 200), "<4>");
}

TEST_P(DirectoryTest, EmptyFirstNameCannotBeReturned) {
    Load(PadNamesTable(JoinNames({"", "second"})), 8);
    EXPECT_EQ(NameAt(0), "<4>");
    EXPECT_EQ(NameAt(1), "second");
}

// A name is returned only when the bytes from its first byte to the end of the
// 16-byte unit holding its NUL number fewer than 256.
TEST_P(DirectoryTest, CollectionLimitAtEveryOffset) {
    for (size_t offset = 0; offset < 16; ++offset) {
        for (size_t length : {239, 240, 241, 245, 250, 253, 254, 255, 256, 300}) {
            std::vector<std::string> names;
            if (offset > 0) names.push_back(std::string(offset - 1, 'p'));  // name + NUL = offset
            names.push_back(std::string(length, 'L'));
            names.push_back("after");
            LoadNames(names);
            const size_t start = offset;
            const size_t unitEnd = (start + length) / 16 * 16 + 16;
            const bool fits = unitEnd - start < 256;
            const size_t index = offset > 0 ? 1 : 0;
            EXPECT_EQ(NameAt(index), fits ? names[index] : "<4>")
                << "offset " << offset << " length " << length;
            EXPECT_EQ(NameAt(index + 1), "after");
        }
    }
    // The fixed points: 239 bytes always fit, 255 never.
    LoadNames({std::string(239, 'x')});
    EXPECT_EQ(NameAt(0), std::string(239, 'x'));
    LoadNames({"ab", std::string(255, 'x')});
    EXPECT_EQ(NameAt(1), "<4>");
}

TEST_P(DirectoryTest, TableCutShort) {
    const Bytes joined = JoinNames({"first-name", "second-name-is-long", "third"});
    // Cut inside the second name: the first is whole, the second cannot be completed.
    // An encrypted table of the wrong length does not open.
    Load(Bytes(joined.begin(), joined.begin() + 20), static_cast<uint32_t>(joined.size()),
         Encrypted() ? vorx_CorruptArchive : vorx_Success);
    if (Encrypted()) return;
    EXPECT_EQ(NameAt(0), "first-name");
    EXPECT_EQ(NameAt(1), "<4>");
    EXPECT_EQ(NameAt(2), "<4>");
    // A length that is not a multiple of 16: the last, partial unit is still read.
    Load(Bytes(joined.begin(), joined.begin() + 35), static_cast<uint32_t>(joined.size()));
    EXPECT_EQ(NameAt(1), "second-name-is-long");
    EXPECT_EQ(NameAt(2), "<4>");
}

TEST_P(DirectoryTest, FindAcrossUnits) {
    // Names of 37 bytes (with NUL) fall across every 512-byte unit boundary.
    std::vector<std::string> names;
    for (int i = 0; i < 60; ++i) {
        std::string name = "dir\\" + std::to_string(100000 + i);
        name.resize(36, static_cast<char>('a' + i % 26));
        names.push_back(name);
    }
    LoadNames(names);
    for (size_t i = 0; i < names.size(); ++i) ASSERT_EQ(Find(names[i]), static_cast<int64_t>(i)) << i;
    // The name that covers byte 512 of the table.
    EXPECT_EQ(Find(names[512 / 37]), 512 / 37);
    std::string upper = names[5];
    upper[0] = 'D';
    EXPECT_EQ(Find(upper), -1);
    EXPECT_EQ(Find(names[7].substr(0, 35)), -1);
    EXPECT_EQ(Find(names[7] + "x"), -1);
    EXPECT_EQ(Find("not there"), -1);
}

TEST_P(DirectoryTest, FindNeedsWholeUnitsOfSixteen) {
    // 512 bytes of names, then a last unit of 10 bytes: it is not searched.
    std::vector<std::string> names(16, std::string(31, 'n'));
    for (size_t i = 0; i < names.size(); ++i) names[i][0] = static_cast<char>('A' + i);
    Bytes table = JoinNames(names);
    ASSERT_EQ(table.size(), 512u);
    const Bytes tail = test::ToBytes(std::string("tail\0", 5));
    table.insert(table.end(), tail.begin(), tail.end());
    table.resize(522, 0);
    Load(table, static_cast<uint32_t>(table.size()), Encrypted() ? vorx_CorruptArchive : vorx_Success);
    if (Encrypted()) return;  // not a whole number of cipher blocks
    EXPECT_EQ(Find(names[15]), 15);
    EXPECT_EQ(Find("tail"), -1);
    // With 16 bytes there it is.
    table.resize(528, 0);
    Load(table, static_cast<uint32_t>(table.size()));
    EXPECT_EQ(Find("tail"), 16);
}

INSTANTIATE_TEST_SUITE_P(PlainAndEncrypted, DirectoryTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Encrypted" : "Plain"; });

}  // namespace
}  // namespace vorx
