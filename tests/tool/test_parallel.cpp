// vorx t and x on several threads: whatever -j says, the same output, messages, exit
// code, files and times as on one thread (a large entry's CRC-32 is then combined from
// its blocks').
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "platform/platform.h"
#include "tests/support/test_support.h"

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace vorx {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

struct Outcome {
    int code;
    std::string out, err;
};

// The tool with `args`, its input empty, so that it never sees a terminal.
Outcome Vorx(const TempDir& dir, const std::string& args) {
    const std::string out = dir.File("stdout.txt"), err = dir.File("stderr.txt");
    std::string tool = VORX_TOOL_PATH;
#ifdef _WIN32
    if (tool[0] == '/') tool = "Z:" + tool;  // the build's path, as Wine shows it
    for (char& c : tool) c = c == '/' ? '\\' : c;
    const std::string command =
        "\"\"" + tool + "\" " + args + " <NUL >\"" + out + "\" 2>\"" + err + "\"\"";
    const int code = std::system(command.c_str());
#else
    const int status =
        std::system(("'" + tool + "' " + args + " </dev/null >'" + out + "' 2>'" + err + "'").c_str());
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    return Outcome{code, test::ReadText(out), test::ReadText(err)};
}

// Every file below `root` with its bytes and last-write time.
std::map<std::string, std::pair<std::string, int64_t>> Tree(const fs::path& root) {
    std::map<std::string, std::pair<std::string, int64_t>> files;
    for (const auto& item : fs::recursive_directory_iterator(root))
        if (!item.is_directory())
            files[fs::relative(item.path(), root).generic_string()] = {
                test::ReadText(item.path().string()), test::ModificationTime(item.path().string())};
    return files;
}

// Small entries of many sizes, entries of many compressed blocks (one
// encrypted), and faults that -j 1 finds at the end of an entry or in its last block.
void WriteMixedArchive(const std::string& path) {
    test::DamagingWriter w;
    ASSERT_TRUE(w.Create(path) && w.BeginArchive());
    const auto add = [&](const std::string& name, const Bytes& data, uint64_t time,
                         const test::RecordOverrides& damage = {}, const char* password = nullptr,
                         const Bytes& tail = {}) {
        EntryOptions e;
        e.name = name;
        e.time = time;
        e.encoder = test::PackingEncoder(256 << 10);
        if (password) e.password = password;
        ASSERT_TRUE(w.BeginEntry(e) && w.Write(data.data(), data.size()) &&
                    (tail.empty() || w.WriteRaw(tail.data(), tail.size())) && w.EndEntry(damage))
            << w.Error();
    };
    add("$comments$", test::ToBytes("a comment\r\n"), 1000);
    for (uint32_t i = 0; i < 40; ++i)
        add("small\\f" + std::to_string(i) + ".txt", test::WordText(i * i * 97, i), 1600000000 + i);
    test::RecordOverrides badCrc, tooLong;
    badCrc.crc32 = 1;
    tooLong.uncompressedSize = (5 << 20) - 1000;
    add("big\\whole.bin", test::WordText(5 << 20, 1), 1650000000);
    add("big\\crc.bin", test::WordText(5 << 20, 2), 1650000100, badCrc);
    add("big\\long.bin", test::WordText(5 << 20, 3), 1650000200, tooLong);
    add("big\\tail.bin", test::WordText(5 << 20, 4), 1650000300, {}, nullptr, Bytes(20, 0xFF));
    add("big\\locked.bin", test::WordText(5 << 20, 5), 1650000400, {}, "rightpw1");
    add("small\\wrongpw.txt", test::WordText(3000, 6), 1650000500, {}, "otherpw2");
    add("small\\badcrc.txt", test::WordText(3000, 7), 1650000600, badCrc);
    add("small\\last.txt", test::WordText(10, 8), 1650000700);
    ASSERT_TRUE(w.Finish()) << w.Error();
}

TEST(Parallel, ManyThreadsTestAndExtractAsOneDoes) {
    TempDir dir;
    const std::string archive = dir.File("mixed.vx");
    WriteMixedArchive(archive);
    test::WriteFile(dir.File("whole"), test::WordText(5 << 20, 1));
    const std::string quoted = "\"" + archive + "\" -p rightpw1";

    const Outcome t1 = Vorx(dir, "t " + quoted + " -j 1");
    EXPECT_EQ(t1.code, 2);
    EXPECT_NE(t1.out.find("49 entries tested, 5 failed"), std::string::npos) << t1.out;
    for (const char* jobs : {"-j 4", "-j2", ""}) {
        const Outcome tn = Vorx(dir, "t " + quoted + " " + jobs);
        EXPECT_EQ(tn.code, t1.code) << jobs;
        EXPECT_EQ(tn.out, t1.out) << jobs;
        EXPECT_EQ(tn.err, t1.err) << jobs;
    }

    // One file exists already, so that a skip is reported among the failures.
    const fs::path out = fs::path(dir.Path()) / "out";
    std::map<std::string, std::pair<std::string, int64_t>> first;
    Outcome x1{};
    for (const char* jobs : {"-j 1", "-j 4"}) {
        fs::remove_all(out);
        fs::create_directories(out / "small");
        const std::string mine = (out / "small" / "f3.txt").string();
        test::WriteFile(mine, std::string("mine"));
        ASSERT_TRUE(platform::SetFileTimes(mine.c_str(), 1500000000, 1500000000));
        const Outcome x = Vorx(dir, "x " + quoted + " -o \"" + out.string() + "\" " + jobs);
        const auto tree = Tree(out);
        if (first.empty()) {
            x1 = x;
            first = tree;
            EXPECT_EQ(x.code, 2);
            EXPECT_EQ(tree.at("small/f3.txt").first, "mine");
            EXPECT_EQ(tree.at("big/whole.bin").first, test::ReadText(dir.File("whole")));
            EXPECT_EQ(tree.at("big/locked.bin").second, 1650000400);
            EXPECT_EQ(tree.size(), 40 + 2 + 1u);  // small files, big ones, last
            continue;
        }
        EXPECT_EQ(x.code, x1.code);
        EXPECT_EQ(x.out, x1.out);
        EXPECT_EQ(x.err, x1.err);
        EXPECT_TRUE(tree == first) << "the extracted trees differ";
    }
}

}  // namespace
}  // namespace vorx
